// ZupoAp: the companion that keeps the model library of a run. Started by the run without
// arguments; ZUPO_INI names the run's configuration (default: Zupo.ini beside the program) and
// ZUPO_RUN_PID the run, whose end also ends the companion.
#include <atomic>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <string>
#include <unistd.h>

#include "core/paths.h"
#include "core/textio.h"
#include "library/service.h"

namespace {

std::atomic<bool> stopRequested{false};

void OnSignal(int) {
  stopRequested = true;
}

} // namespace

int main() {
  zupo::CompanionOptions opt;
  const char* ini = std::getenv("ZUPO_INI");
  opt.IniFile = ini && *ini ? ini : zupo::ProgramFolder() + "Zupo.ini";
  long long pid = 0;
  const char* run = std::getenv("ZUPO_RUN_PID");
  if (run && zupo::ParseInt(run, pid) && pid > 0) opt.RunPid = static_cast<pid_t>(pid);
  opt.Stop = &stopRequested;
  struct sigaction sa = {};
  sa.sa_handler = OnSignal;
  ::sigaction(SIGINT, &sa, nullptr);
  ::sigaction(SIGTERM, &sa, nullptr);
  ::sigaction(SIGHUP, &sa, nullptr);
  return zupo::RunCompanion(opt);
}
