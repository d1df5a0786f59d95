#pragma once
// The life of the companion: one per run folder (a lock file in Tree_Path1), serving each signal
// file of the run, ending with the run.
#include <atomic>
#include <string>
#include <sys/types.h>

namespace zupo {

constexpr const char* CompanionLogName = "ZupoAp.log";

struct CompanionOptions {
  std::string IniFile;
  pid_t RunPid = 0; // the run that started the companion (0: not known, never checked)
  int PollMs = 100; // how often the keys and the run are looked at while idle
  const std::atomic<bool>* Stop = nullptr; // set by a signal handler
};

// Runs the companion until its end and returns its exit status: 0 for an ordinary end (Running
// reads "0", Exit reads "1", the run is gone, another companion serves the run), 1 for an error.
// Every start, generation and end is logged to Tree_Path1 + "/ZupoAp.log". On an error that
// leaves a running run unserved (a bad configuration, a generation that cannot be served), Exit
// is set to "1", so that the run stops with a checkpoint instead of waiting.
int RunCompanion(const CompanionOptions& opt);

// True while process pid exists and is not a zombie.
bool ProcessAlive(pid_t pid);

} // namespace zupo
