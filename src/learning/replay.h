#pragma once
#include "core/state.h"

namespace zupo {

// The profit trader i would have made over the last G_Gap generations with the loaded model.
long double ReplayScore(Simulation& sim, int i);

} // namespace zupo
