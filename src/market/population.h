#pragma once
#include "core/state.h"

namespace zupo {

// Creates models 500 G + 1 onwards, ramped over depths 2..6 (Full full trees, then Grow grown
// trees at each depth; each loop at least once), saves, measures and evaluates each into the
// CurBase half of Shares.
void InitPopulation(Simulation& sim, int G);

} // namespace zupo
