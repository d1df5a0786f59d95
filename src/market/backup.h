#pragma once
#include <string>

#include "core/state.h"

namespace zupo {

// The checkpoint text (8840 + NXVar + NYVar lines, CR LF).
std::string BackupText(const Simulation& sim);
// The same appended to out. With a cache of the previous text, unchanged numbers are copied.
void AppendBackupText(const Simulation& sim, std::string& out, CheckpointFields* cache = nullptr);
// The checkpoint text built with the run's caches of the previous one (sim.Checkpoint).
const std::string& CheckpointText(Simulation& sim);
// Records RunGen as Stop_No, then writes Tree_Path1/Backup1.txt unless it already holds this
// generation (exact match of its first line), keeping the previous one as Backup11.txt. The new
// file is written under a temporary name first, so Backup1.txt is always complete.
// keepSameGeneration = false writes even over a checkpoint of the same generation: the first
// checkpoint of a fresh run must not keep one left in the folder by an earlier run.
void SaveBackup(Simulation& sim, bool keepSameGeneration = true);
// The generation named by the first line of a checkpoint ("GEN=12  First=..." -> 12), -1 when
// the file is missing or its first line does not have that form.
int BackupGeneration(const std::string& path);
// Reads Tree_Path1/Backup1.txt (or the checkpoint at path) back (6-byte fields rounded), and
// repositions the extra data. A checkpoint that cannot be read whole leaves the state as it was.
void RestoreBackup(Simulation& sim, const std::string& path = {});

} // namespace zupo
