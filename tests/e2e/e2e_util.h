#pragma once
// Helpers of the end-to-end tests: copies of the bundled example run by the real driver with a
// recording host, or by zupo-cli as a child process (where the test program knows ZUPO_CLI).
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <spawn.h>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "core/clock.h"
#include "core/ini.h"
#include "run/driver.h"
#include "run/host.h"
#include "testutil.h"

namespace zupo::test {

// A host that records what the run shows.
class RecordingHost : public Host {
public:
  std::vector<std::string> Log;
  std::string FirstLine;
  std::vector<std::pair<int32_t, long double>> Points;
  std::vector<std::string> Warnings;
  int32_t PressExitAtGen = -1; // the Exit button is pressed when this generation's price shows
  bool Pressed = false;
  double DiskMB = 1e6;
  std::function<void()> OnPump; // runs inside ProcessMessages

  void Output_msg(int32_t, const std::string& line) override { Log.push_back(line); }
  void ShowGraph(int32_t gen, long double price) override {
    Points.emplace_back(gen, price);
    if (gen == PressExitAtGen) Pressed = true;
  }
  void ReplaceFirstLogLine(const std::string& line) override { FirstLine = line; }
  void ProcessMessages() override {
    if (OnPump) OnPump();
  }
  void Warn(const std::string& msg) override { Warnings.push_back(msg); }
  double FreeDiskMB() override { return DiskMB; }
  bool ExitPressed() override { return Pressed; }
};

} // namespace zupo::test

namespace zupo::e2e {

namespace fs = std::filesystem;
using test::RecordingHost;
using test::TempDir;

inline std::string Ini(const TempDir& d) {
  return d / "Zupo.ini";
}
inline std::string RunDir(const TempDir& d) {
  return d / "run";
}

// A copy of the example run folder with some keys changed (as a temporary folder: ExampleRun).
inline void Prepare(const TempDir& d, const std::map<std::string, std::string>& keys) {
  fs::copy(ZUPO_SOURCE_DIR "/examples/default", d.Path(),
           fs::copy_options::recursive | fs::copy_options::overwrite_existing);
  for (const auto& [k, v] : keys)
    IniWrite(Ini(d),
             k == "Gen_No" || k == "G_Gap" || k == "LibraryProb" || k == "TryNo" ? "Traders"
                                                                                 : "Common",
             k, v);
}

struct ExampleRun : TempDir {
  ExampleRun(std::initializer_list<std::pair<const char*, const char*>> keys) {
    Prepare(*this, {keys.begin(), keys.end()});
  }
};

inline RunResult RunIn(const TempDir& d, RecordingHost& host, uint32_t seed = 11,
                       bool writerThread = true) {
  FixedClock clock(seed);
  auto sim = std::make_unique<Simulation>();
  sim->WriterThread = writerThread;
  return RunSimulation(*sim, host, clock, Ini(d), d.Path() + "/");
}

// How a run of the folder with a fresh host ends; Exit is pressed when generation exitAt shows.
inline RunEnd EndOf(const TempDir& d, uint32_t seed = 11, int32_t exitAt = -1) {
  RecordingHost host;
  host.PressExitAtGen = exitAt;
  return RunIn(d, host, seed).End;
}

inline std::string Key(const TempDir& d, const std::string& key) {
  return ReadIniStr("Common", key, Ini(d));
}

// The rows of Data1.txt split into their columns.
inline std::vector<std::vector<std::string>> Rows(const TempDir& d) {
  std::vector<std::vector<std::string>> rows;
  std::istringstream in(test::ReadText(RunDir(d) + "/Data1.txt"));
  std::string line;
  std::getline(in, line); // header
  while (std::getline(in, line)) {
    std::istringstream cols(line);
    rows.emplace_back();
    for (std::string c; cols >> c;) rows.back().push_back(c);
  }
  return rows;
}

inline std::vector<int> RowGens(const TempDir& d) {
  std::vector<int> gens;
  for (const auto& row : Rows(d)) gens.push_back(std::stoi(row[0]));
  return gens;
}

inline std::vector<int> Range(int from, int to) {
  std::vector<int> v;
  for (int g = from; g <= to; ++g) v.push_back(g);
  return v;
}

// Waits up to limit for cond, looking every nap; true when it came.
template <class F>
bool Within(std::chrono::milliseconds limit, F cond,
            std::chrono::microseconds nap = std::chrono::milliseconds(5)) {
  for (auto until = std::chrono::steady_clock::now() + limit;; std::this_thread::sleep_for(nap)) {
    if (cond()) return true;
    if (std::chrono::steady_clock::now() >= until) return false;
  }
}

inline bool Holds(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

inline int CountLines(const std::string& text) {
  int n = 0;
  for (size_t p = 0; (p = text.find("\r\n", p)) != std::string::npos; p += 2) ++n;
  return n;
}

#ifdef ZUPO_CLI
// The exit status of a child (-1 when a signal ended it).
inline int ExitStatus(pid_t pid) {
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// zupo-cli as a child process (output discarded): its pid, or with wait its exit status.
inline int RunCli(std::vector<std::string> args, bool wait = true) {
  args.insert(args.begin(), ZUPO_CLI);
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t quiet;
  posix_spawn_file_actions_init(&quiet);
  posix_spawn_file_actions_addopen(&quiet, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_adddup2(&quiet, 1, 2);
  pid_t pid = 0;
  posix_spawn(&pid, ZUPO_CLI, &quiet, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&quiet);
  return wait ? ExitStatus(pid) : pid;
}

// Kills a child; false when it had ended before the signal came.
inline bool Kill(pid_t pid) {
  ::kill(pid, SIGKILL);
  return ExitStatus(pid) == -1;
}

inline int Cli(const TempDir& d, const std::string& seed, bool wait = true) {
  return RunCli({"--seed", seed, "--quiet", d.Path()}, wait);
}

// Waits up to two minutes until Data1.txt holds n rows.
inline void WaitForRows(const TempDir& d, int n) {
  const std::string p = RunDir(d) + "/Data1.txt";
  Within(
      std::chrono::seconds(120),
      [&] { return fs::exists(p) && CountLines(test::ReadText(p)) >= 1 + n; },
      std::chrono::microseconds(200));
}
#endif

} // namespace zupo::e2e
