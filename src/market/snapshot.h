#pragma once
#include <string>

#include "core/state.h"

namespace zupo {

// Learning snapshot sets: 'k' (Historyk.*) and '1' (History1.*).
std::string SnapshotPath(const Simulation& sim, char set, char suffix);
// Writes the six files of a set (.h .w .m .s .v in the 23-character scientific form, .f plain
// integers) from the PrevBase half, in that order.
void WriteSnapshotSet(Simulation& sim, char set);
// The value on line i (1..500) of a snapshot file; the file is read once while it is unchanged.
long double SnapshotValue(Simulation& sim, char set, char suffix, int i);

} // namespace zupo
