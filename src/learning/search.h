#pragma once
#include "core/state.h"

namespace zupo {

// The school decision of trader i in a learning generation: SearchModel or KeepModel.
void SchoolDecision(Simulation& sim, int i);
// Searches a better model for trader i (up to TryNo tries; at least one).
void SearchModel(Simulation& sim, int i);
// Trader i keeps its model: load PrevBase + i, evaluate into Shares[CurBase + i], write it as
// CurBase + i, record its depth and size.
void KeepModel(Simulation& sim, int i);
// Forecast error of the loaded model over window positions 111 down to 102.
long double MapeScore(Simulation& sim, int i);

} // namespace zupo
