#pragma once
#include <string>

#include "core/state.h"
#include "run/host.h"

namespace zupo {

// Starts appDir + "ZupoAp" as a separate, detached and silent process without arguments, in the
// folder of the configuration, with ZUPO_INI holding the configuration's full path. A missing
// program is not an error (returns false).
bool StartCompanion(const std::string& appDir, const std::string& iniFile);

// Waits while the signal file exists; sets ExitRequested when the key Exit reads "1".
void WaitForCompanion(Simulation& sim, Host& host, const std::string& signalFile);

// Reads Tree_Path1/Mape.txt into Mape[1..500], retrying the open until it succeeds or a stop is
// requested (Exit button or the Exit key); returns false when a stop ended the retry.
bool ReadMape(Simulation& sim, Host& host);

} // namespace zupo
