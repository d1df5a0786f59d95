#pragma once
// The state of a study's runs, read from their files.
#include <ctime>
#include <string>
#include <vector>

#include "sweep/study.h"

namespace zupo {

enum class JobState { Finished, Running, Stopped, Failed, NotStarted };
const char* JobStateName(JobState s); // "finished", "running", ...

struct RunStatus {
  JobState State = JobState::NotStarted;
  int ExitStatus = -1; // of the last attempt, -1 when none ended (or none was recorded)
  int Generations = 0; // rows in the run's statistics table
  int Gen_No = 0;      // generations the run is to reach
};

// What is known about the processes: the machine's name and the run folders a zupo-cli of this
// machine is working on.
struct ProcessView {
  std::string Host;
  std::vector<std::string> LocalRunDirs;
  std::time_t Now = 0;
};
// Reads /proc and the host name.
ProcessView CurrentProcesses();

// A run whose Zupo.ini says Running=1, whose last attempt was on another machine and whose
// Zupo.ini has not changed for this long, is taken for one that was killed.
constexpr int kStaleSeconds = 120;

// The state of one run: the exit status of its last attempt (logs/ID.exit) decides when
// recorded; otherwise the run's control keys (Running, Stop_No, Exit, No_Memory) and its files
// do. Running=1 is a run going on when a zupo-cli works on it here, or when its last attempt
// (named in logs/ID.log) was on another machine and Zupo.ini changed recently; otherwise the
// run was killed and is stopped.
RunStatus InspectRun(const Study& study, const ManifestRow& run, const ProcessView& procs);

// The machine named in the last "== DATE on HOST: ..." line of a run's log; "" when none.
std::string LastAttemptHost(const std::string& logFile);

// Generation rows in a statistics table (Data1.txt): lines after the header that start with a
// generation number. 0 when the file is missing.
int CountGenerations(const std::string& data1File);

struct StatusCounts {
  int Finished = 0, Running = 0, Stopped = 0, Failed = 0, NotStarted = 0;
};
StatusCounts CountStates(const std::vector<RunStatus>& runs);
// "8 runs: 5 finished, 1 running, 1 stopped, 0 failed, 1 not started"
std::string CountsLine(const StatusCounts& c);

} // namespace zupo
