#pragma once
#include "core/state.h"

namespace zupo {

// Initial state of all traders in the PrevBase half and the single arrays.
void InitTraders(Simulation& sim);
// Books every trader's profit for the price move just seen into the CurBase half.
void UpdateWealth(Simulation& sim);
// Forecast, variance and desired holding of trader i for model value v (see the demand rules);
// sets ModelValue[i], Forecast, Sigma and IsMartingale and returns the holding (6-byte).
double TraderDemand(Simulation& sim, int i, long double v);
// Matches desired against held holdings, rations the long side, moves the price, reseeds the
// generator and reads the next dividend.
void ClearMarket(Simulation& sim);
// LastGapProfit := GapProfit; GapProfit := 0.
void RollGapProfit(Simulation& sim);
// Exchanges the halves: each offset := |500 - offset|.
void SwapHalves(Simulation& sim);
// The dividend of generation t: number t of Tree_Path1 + "/Dstar.txt" (the last number when the
// file has fewer, 0 when it has none). The file is kept in memory while it does not change.
long double DividendAt(Simulation& sim, int t);
// The number of readable dividends in Dstar.txt (RunError naming the file when it cannot be
// read).
int DividendCount(Simulation& sim);

} // namespace zupo
