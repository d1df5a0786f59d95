// zupo-cli: runs a simulation without a window.
#include <CLI/CLI.hpp>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstring>
#include <memory>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "core/errors.h"
#include "core/format.h"
#include "core/ini.h"
#include "core/paths.h"
#include "run/driver.h"
#include "run/terminal_host.h"

extern char** environ;

namespace {

// Runs zupo-report (beside this program) on the run folder and waits for it. Its failure is
// reported but is not the run's.
void RunReport(const std::string& appDir, const std::string& runDir, int from) {
  std::string prog = appDir + "zupo-report";
  std::vector<std::string> args{prog, runDir};
  if (from > 0) {
    args.push_back("--from");
    args.push_back(std::to_string(from));
  }
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  std::fflush(stdout);
  pid_t pid = 0;
  int err = ::posix_spawn(&pid, prog.c_str(), nullptr, nullptr, argv.data(), environ);
  if (err != 0) {
    std::fprintf(stderr, "zupo-cli: the report program %s cannot be started: %s\n", prog.c_str(),
                 std::strerror(err));
    return;
  }
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
    std::fprintf(stderr, "zupo-cli: the report of %s failed (%s %d)\n", runDir.c_str(),
                 WIFEXITED(status) ? "exit status" : "signal",
                 WIFEXITED(status) ? WEXITSTATUS(status) : WTERMSIG(status));
}

} // namespace

int main(int argc, char** argv) {
  CLI::App app{"Zupo: an artificial stock market whose traders forecast with evolved models.\n"
               "Runs the simulation configured by RUN_DIR/Zupo.ini without a window."};
  std::string runDir;
  long long seed = -1;
  bool quiet = false;
  bool report = false;
  int reportFrom = 0;
  app.add_option("RUN_DIR", runDir, "folder that holds Zupo.ini (default: the program's folder)");
  app.add_option("--seed", seed, "deterministic clock: same seed and inputs, same files")
      ->check(CLI::Range(0LL, 4294967295LL));
  app.add_flag("--quiet", quiet, "print only errors and the final summary");
  CLI::Option* reportOpt =
      app.add_flag("--report", report,
                   "after a finished run, write its report (zupo-report) into RUN_DIR/report/");
  app.add_option("--report-from", reportFrom,
                 "first generation of the report (leaves out a burn-in)")
      ->check(CLI::NonNegativeNumber)
      ->needs(reportOpt);
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    if (e.get_exit_code() == 0) return app.exit(e); // --help
    std::fprintf(stderr, "zupo-cli: %s\n", e.what());
    return 1;
  }

  std::string appDir = zupo::ProgramFolder();
  if (runDir.empty()) runDir = appDir;
  if (runDir.back() != '/') runDir += '/';
  std::string ini = runDir + "Zupo.ini";
  if (!zupo::FileExists(ini)) {
    std::fprintf(stderr, "zupo-cli: %s: the configuration file does not exist\n", ini.c_str());
    return 1;
  }
  long long genNo = 0;
  zupo::ParseInt(zupo::ReadIniStr("Traders", "Gen_No", ini), genNo);

  std::unique_ptr<zupo::Clock> clock;
  if (seed >= 0)
    clock = std::make_unique<zupo::FixedClock>(static_cast<uint32_t>(seed));
  else
    clock = std::make_unique<zupo::SystemClock>();
  zupo::TerminalHost host(runDir, static_cast<int32_t>(genNo), quiet, ::isatty(1) != 0);
  zupo::TerminalHost::InstallSignalHandlers();

  auto start = std::chrono::steady_clock::now();
  auto sim = std::make_unique<zupo::Simulation>();
  zupo::RunResult r;
  try {
    r = zupo::RunSimulation(*sim, host, *clock, ini, appDir);
  } catch (const std::exception& e) {
    host.Finish();
    std::fprintf(stderr, "zupo-cli: %s\n", e.what());
    return 1;
  }
  host.Finish();
  double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  if (r.End == zupo::RunEnd::Failed)
    std::fprintf(stderr, "zupo-cli: the run stopped in generation %d: %s\n", r.LastGen,
                 r.Message.c_str());
  std::string how = r.End == zupo::RunEnd::Finished ? "finished"
                    : r.End == zupo::RunEnd::Stopped
                        ? "stopped: " + r.Message + " (resume by running again)"
                        : "ended by an error";
  std::printf("Run %s: %d generations ran (from %d to %d), last price %s, %.1f s.\n"
              "Results are in %s\n",
              how.c_str(), r.LastGen - r.FirstGen, r.FirstGen, r.LastGen,
              zupo::FormatGeneral(r.LastPrice).c_str(), secs, sim->P.Tree_Path1.c_str());
  if (sim->P.LibraryProb != 0 && r.LastGen > r.FirstGen)
    std::printf("The run waited %.2f s for its files and the companion ZupoAp (%.3f ms per "
                "generation).\n",
                r.WaitSeconds, r.WaitSeconds * 1e3 / (r.LastGen - r.FirstGen));
  if (report && r.End == zupo::RunEnd::Finished) RunReport(appDir, runDir, reportFrom);
  switch (r.End) {
  case zupo::RunEnd::Finished:
    return 0;
  case zupo::RunEnd::Stopped:
    return 3;
  default:
    return 2;
  }
}
