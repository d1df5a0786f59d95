#pragma once
// The run's side of the companion program ZupoAp, which keeps the model library: its start, the
// wait for its signal file, and the reading of Mape.txt.
#include <array>
#include <chrono>
#include <functional>
#include <string>
#include <sys/types.h>
#include <vector>

#include "core/state.h"
#include "run/host.h"

namespace zupo {

// The companion holds this file in Tree_Path1 locked while it is alive.
constexpr const char* CompanionLockName = "ZupoAp.lock";

// How the companion of this run was started, so that it can be started again.
struct CompanionLink {
  std::string AppDir, IniFile;
  pid_t Pid = -1; // the companion started last (-1: none)
  // A signal file still there after this long, with no companion holding the lock: the run
  // warns (once) and starts the companion again.
  std::chrono::milliseconds RestartAfter{60000};
  bool Warned = false;
};

// Starts appDir + "ZupoAp" as a separate, silent process in its own session, without arguments,
// in the folder of the configuration, with ZUPO_INI (the configuration's full path) and
// ZUPO_RUN_PID (this process) in its environment. Returns -1 when it cannot be started (a missing
// program included), with the reason in why when given.
pid_t StartCompanion(const std::string& appDir, const std::string& iniFile,
                     std::string* why = nullptr);

// Removes the signal files left in the run folder by an earlier run (every "Gen<g>" but
// awaitedSignal, which this run waits for), then starts the companion. Returns "" when it
// started, else the program and why it could not be started. The run does not stop for that:
// it waits for a companion (one put in place later is started after 60 s).
std::string LaunchCompanion(const Simulation& sim, CompanionLink& link,
                            const std::string& awaitedSignal);

// The warning for a companion that could not be started (why: as LaunchCompanion returns it).
std::string CompanionNotStarted(const std::string& why);

// How a wait for the companion ended.
enum class WaitEnd { Served, ExitKey, StopPressed };

// What a wait needs from the thread it runs on: the run's thread lets the window process its
// messages and looks at the Exit button; the writer thread does neither and hands warnings over.
struct WaitHooks {
  std::function<bool()> StopPressed;                   // the Exit button, Ctrl-C
  std::function<void()> Pump;                          // may be empty
  std::function<void(const std::string& msg)> Warning; // a warning for the window
};

// Waits while the signal file exists; ends early when the key Exit reads "1" or a stop is
// pressed. With a link, a companion that is gone is started again after link->RestartAfter, with
// one warning.
WaitEnd AwaitCompanion(const Simulation& sim, const WaitHooks& hooks, const std::string& signalFile,
                       CompanionLink* link);

// AwaitCompanion on the run's thread; a stop sets ExitRequested.
void WaitForCompanion(Simulation& sim, Host& host, const std::string& signalFile,
                      CompanionLink* link = nullptr);

// At the end of a finished run: waits while the companion (holding its lock) serves the run's
// last signal file, so that the library and Mape.txt are final when the run ends. Returns at once
// when no companion holds the lock, on the Exit key or button, and after 60 seconds.
void AwaitLastService(Simulation& sim, Host& host, const std::string& signalFile);

// Reads Tree_Path1/Mape.txt into Mape[1..500], retrying the open until it succeeds or a stop is
// requested (Exit button or the Exit key); returns false when a stop ended the retry. A line
// that is missing or does not start with a number is an error naming the file and the line.
bool ReadMape(Simulation& sim, Host& host);
using MapeValues = std::array<double, MaxTraders + 1>;
// The same into mape, with the hooks of the thread it runs on.
WaitEnd ReadMapeFile(const Simulation& sim, const WaitHooks& hooks, MapeValues& mape);

// The generations of the signal files "Gen<g>" in folder, ascending.
std::vector<int> SignalGenerations(const std::string& folder);

// True when a process holds the companion lock file at path (nobody does when it is missing).
bool CompanionLockHeld(const std::string& path);

} // namespace zupo
