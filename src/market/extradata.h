#pragma once
#include "core/state.h"

namespace zupo {

// The extra-data file (sim.ExData): one line of NExtra numbers per generation, read from the
// start again after its last line.

// Opens ExData_File and reads its first line into ExtraVals (fresh start).
void OpenExtraData(Simulation& sim);
// Reads the next line into ExtraVals, wrapping to the first line after the last.
void ReadExtraLine(Simulation& sim);
// Positions the stream so that line `line` (1-based, wrapping) is read into ExtraVals now and
// the following line next.
void SeekExtraLine(Simulation& sim, long long line);

} // namespace zupo
