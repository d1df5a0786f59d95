#pragma once
#include <string>

#include "core/state.h"

namespace zupo {

// Recomputes sim.St from the trader book and OrderIdx.
void ComputeStatistics(Simulation& sim);
// The statistics row of generation RunGen (27 fields, CR LF).
std::string StatisticsRow(const Simulation& sim);
// One dump line of trader i with its model file text (CR LF).
std::string DumpLine(const Simulation& sim, int i, const std::string& modelText);
// Computes the statistics, appends the row to Data1File, and the dump block to Data2File in
// generation 1 and every 500th.
void WriteStatistics(Simulation& sim);

} // namespace zupo
