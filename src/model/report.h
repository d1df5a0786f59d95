#pragma once
#include <string>

#include "core/state.h"

namespace zupo {

// The six lines of the best-model report for the trader with the largest Profit (ties: the
// lowest number), written as Best + (RunGen + 1) under Tree_Path1.
std::string BestModelReportText(Simulation& sim);
void BestModelReport(Simulation& sim);

} // namespace zupo
