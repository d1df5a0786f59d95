#pragma once
#include <array>

#include "core/state.h"

namespace zupo {

ReplayWindows MakeReplayWindows(const Simulation& sim);
// The same, computed once for as long as the windows stay as they are (a learning generation's
// searches all use the windows of that generation).
const ReplayWindows& CurrentReplayWindows(Simulation& sim);

// The profit trader i would have made over the last G_Gap generations with the loaded model.
// Reads trader i's wealth and forecast from the History snapshot ("k" set when G_Gap = 1, else
// "1"); a replay that overflows scores minus infinity. The trader arrays are not touched.
long double ReplayScore(Simulation& sim, int i);
long double ReplayScore(Simulation& sim, int i, const ReplayWindows& windows);
// The first window position the replay steps through (the last is 110).
int FirstReplayStep(const Simulation& sim);

} // namespace zupo
