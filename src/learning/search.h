#pragma once
#include "core/state.h"

namespace zupo {

// The school decision of trader i in a learning generation: SearchModel or KeepModel.
void SchoolDecision(Simulation& sim, int i);
// Probability of a school visit: 1 / (1 + e^x), x = (GapProfit - LastGapProfit) / |LastGapProfit|,
// both 6-byte values. LastGapProfit = 0 takes the limit: 0 for a gain, 1 for a loss, 1/2 for none.
long double SchoolProbability(long double GapProfit, long double LastGapProfit);
// Searches a better model for trader i (up to TryNo tries; at least one).
void SearchModel(Simulation& sim, int i);
// Trader i keeps its model: load PrevBase + i, evaluate into Shares[CurBase + i], write it as
// CurBase + i, record its depth and size.
void KeepModel(Simulation& sim, int i);
// Forecast error of the loaded model over window positions 111 down to 102.
long double MapeScore(Simulation& sim, int i);

} // namespace zupo
