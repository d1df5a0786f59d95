// Whole runs of zupo-cli with the real companion ZupoAp (built beside it) keeping the library.
#include <atomic>
#include <chrono>
#include <csignal>
#include <gtest/gtest.h>
#include <map>
#include <sstream>
#include <thread>

#include "core/format.h"
#include "core/paths.h"
#include "e2e/e2e_util.h"
#include "library/service.h"
#include "run/companion.h"

namespace zupo {
namespace {

using namespace e2e;
using Steady = std::chrono::steady_clock;

int Cli(const TempDir& d, const char* seed, bool wait = true) {
  return RunCli({"--seed", seed, "--quiet", d.Path()}, wait);
}

// The rows of Data1.txt split into their columns.
std::vector<std::vector<std::string>> Rows(const TempDir& d) {
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

// The generations of the "Generation <g>:" lines of ZupoAp.log, and the number of starts.
std::vector<int> LoggedGens(const TempDir& d, int* starts = nullptr) {
  std::vector<int> gens;
  std::istringstream in(test::ReadText(RunDir(d) + "/ZupoAp.log"));
  int s = 0;
  for (std::string line; std::getline(in, line);) {
    if (line.rfind("Generation ", 0) == 0) gens.push_back(std::stoi(line.substr(11)));
    if (line.rfind("Start: ", 0) == 0) ++s;
  }
  if (starts) *starts = s;
  return gens;
}

// The companion named in the lock file (0 when none).
pid_t CompanionPid(const TempDir& d) {
  std::string p = RunDir(d) + "/" + CompanionLockName;
  if (!fs::exists(p)) return 0;
  long long c = 0, r = 0;
  std::sscanf(test::ReadText(p).c_str(), "companion %lld run %lld", &c, &r);
  return static_cast<pid_t>(c);
}

// Waits up to limit for cond; true when it came.
template <class F> bool Within(std::chrono::milliseconds limit, F cond) {
  auto until = Steady::now() + limit;
  while (Steady::now() < until) {
    if (cond()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return cond();
}

bool GoneWithin(pid_t pid, int seconds) {
  return Within(std::chrono::seconds(seconds), [pid] { return !ProcessAlive(pid); });
}

TEST(CompanionEndToEnd, LibraryRunFinishesWithTheRealCompanion) {
  ASSERT_EQ(FolderOf(ZUPO_APP), FolderOf(ZUPO_CLI)) << "ZupoAp must be built beside zupo-cli";
  TempDir a, b;
  for (const TempDir* d : {&a, &b}) {
    Prepare(*d, {{"LibraryProb", "30"}, {"G_Gap", "5"}, {"Gen_No", "60"}});
    ASSERT_EQ(Cli(*d, "5"), 0);
  }
  EXPECT_EQ(RowGens(a), Range(1, 60));
  // Library tries from generation 3 on, in every learning generation (6, 11, ...) and only there.
  for (const auto& row : Rows(a)) {
    int g = std::stoi(row[0]), visitLib = std::stoi(row.back());
    EXPECT_EQ(visitLib > 0, g >= 3 && g % 5 == 1) << "generation " << g;
  }
  // Every signal file was served, the last one too; the companion ended with the run.
  EXPECT_TRUE(SignalGenerations(RunDir(a)).empty());
  pid_t companion = CompanionPid(a);
  ASSERT_GT(companion, 0);
  EXPECT_TRUE(GoneWithin(companion, 5));
  EXPECT_FALSE(CompanionLockHeld(RunDir(a) + "/" + CompanionLockName));
  EXPECT_EQ(LoggedGens(a), Range(1, 59));
  // What the companion wrote depends on the run's files alone: same seed, same bytes.
  for (const char* f : {"run/Data1.txt", "run/Mape.txt", "lib/0/T0001.dat", "lib/2/T0250.dat",
                        "lib/5/T0500.dat", "lib/7/T0777.dat", "lib/9/T1000.dat"})
    EXPECT_EQ(test::ReadText(a / f), test::ReadText(b / f)) << f;
}

TEST(CompanionEndToEnd, LibraryModelsAreAdopted) {
  TempDir d;
  // Every try is a library try from generation 3 on: any success adopts a library model.
  Prepare(d, {{"LibraryProb", "100"}, {"G_Gap", "2"}, {"Gen_No", "9"}});
  ASSERT_EQ(Cli(d, "8"), 0);
  int succeeded = 0;
  for (const auto& row : Rows(d))
    if (std::stoi(row[0]) >= 3) succeeded += std::stoi(row[row.size() - 4]);
  EXPECT_GT(succeeded, 0);
}

TEST(CompanionEndToEnd, KilledRunLeavesNoCompanionAndResumesServed) {
  TempDir d;
  Prepare(d, {{"LibraryProb", "30"}, {"G_Gap", "5"}, {"Gen_No", "60"}});
  pid_t run = Cli(d, "3", false);
  WaitForRows(d, 25);
  pid_t first = CompanionPid(d);
  ASSERT_TRUE(Kill(run)) << "the run ended before it could be killed";
  ASSERT_GT(first, 0);
  EXPECT_TRUE(GoneWithin(first, 5)) << "the companion outlived its killed run";

  EXPECT_EQ(Cli(d, "4"), 0);
  EXPECT_EQ(RowGens(d), Range(1, 60)); // every generation exactly once
  int starts = 0;
  std::vector<int> logged = LoggedGens(d, &starts);
  EXPECT_EQ(starts, 2);
  EXPECT_NE(CompanionPid(d), first);
  ASSERT_FALSE(logged.empty());
  EXPECT_EQ(logged.back(), 59); // the new companion served the resumed run to its end
  EXPECT_TRUE(GoneWithin(CompanionPid(d), 5));
}

TEST(CompanionEndToEnd, CtrlCWhileWaitingStopsWithACheckpoint) {
  TempDir d;
  Prepare(d, {{"LibraryProb", "30"}, {"G_Gap", "5"}, {"Gen_No", "40"}});
  pid_t run = Cli(d, "6", false);
  WaitForRows(d, 10);
  pid_t companion = CompanionPid(d);
  ASSERT_GT(companion, 0);
  // A companion that stops answering: the run comes to wait for its signal file.
  ::kill(companion, SIGSTOP);
  size_t rows = 0;
  ASSERT_TRUE(Within(std::chrono::seconds(20), [&] {
    size_t now = Rows(d).size();
    bool still = now == rows && !SignalGenerations(RunDir(d)).empty();
    rows = now;
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    return still;
  }));
  ::kill(run, SIGINT);
  EXPECT_EQ(ExitStatus(run), 3);
  std::string stop = ReadIniStr("Common", "Stop_No", Ini(d));
  EXPECT_EQ(test::ReadText(RunDir(d) + "/Backup1.txt").rfind("GEN=" + stop + " ", 0), 0u);
  ::kill(companion, SIGCONT);
  EXPECT_TRUE(GoneWithin(companion, 5));

  EXPECT_EQ(Cli(d, "7"), 0);
  EXPECT_EQ(RowGens(d), Range(1, 40));
}

// The files of b that are missing from a or differ, and those of a missing from b ("" when the
// two folders hold the same files with the same bytes; the run's lock aside).
std::string Differences(const TempDir& a, const TempDir& b) {
  auto filesOf = [](const TempDir& d) {
    std::map<std::string, std::string> files;
    for (const auto& e : fs::recursive_directory_iterator(d.Path()))
      if (e.is_regular_file() && e.path().filename() != "zupo.lock")
        files[fs::relative(e.path(), d.Path()).string()] = test::ReadText(e.path().string());
    return files;
  };
  auto fa = filesOf(a), fb = filesOf(b);
  std::string out;
  for (const auto& [f, text] : fb)
    if (!fa.count(f) || fa[f] != text) out += (fa.count(f) ? "differs: " : "missing: ") + f + "\n";
  for (const auto& [f, text] : fa)
    if (!fb.count(f)) out += "extra: " + f + "\n";
  return out;
}

// A stand-in companion on a thread of the test: it removes the signal files of generations
// from..until-1 as they come and leaves the later ones. The library and Mape.txt were laid down
// before the run and do not change, so what the run computes does not depend on timing.
class StandIn {
public:
  StandIn(const TempDir& d, int from, int until)
      : thread_([this, dir = RunDir(d), from, until] {
          for (int g = from; g < until && !done_;) {
            if (fs::remove(dir + "/Gen" + std::to_string(g)))
              ++g;
            else
              std::this_thread::sleep_for(std::chrono::microseconds(200));
          }
          served_ = true;
        }) {}
  // Waits (a few seconds at most) until the last signal file has been served, as the real
  // companion serves the last one after the run has ended.
  ~StandIn() {
    for (int k = 0; k < 5000 && !served_; ++k)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    done_ = true;
    thread_.join();
  }

private:
  std::atomic<bool> done_{false}, served_{false};
  std::thread thread_;
};

// The example with LibraryProb 30 and G_Gap 3, its library taken from the population of a short
// run without it.
void PrepareLibraryRun(const TempDir& d) {
  TempDir first;
  Prepare(first, {{"Gen_No", "2"}}); // both halves of the population are written
  RecordingHost host;
  ASSERT_EQ(RunIn(first, host).End, RunEnd::Finished);
  Prepare(d, {{"LibraryProb", "30"}, {"G_Gap", "3"}, {"Gen_No", "20"}});
  for (int k = 0; k <= 9; ++k) {
    std::string folder = "/" + std::to_string(k);
    fs::create_directories(d / ("lib" + folder));
    for (const auto& e : fs::directory_iterator(RunDir(first) + folder))
      if (e.path().filename().string()[0] == 'T')
        fs::copy_file(e.path(), d / ("lib" + folder + "/" + e.path().filename().string()));
  }
  std::string mape;
  for (int w = 1; w <= MaxTraders; ++w) mape += FormatFixed((w % 37) * 0.01L, 0, 4) + "\r\n";
  test::WriteText(RunDir(d) + "/Mape.txt", mape);
}

RunResult RunWith(const TempDir& d, bool writerThread, RecordingHost& host) {
  FixedClock clock(11);
  auto sim = std::make_unique<Simulation>();
  sim->WriterThread = writerThread;
  return RunSimulation(*sim, host, clock, Ini(d), d.Path() + "/");
}

// The run's writer thread waits for the companion in its place among the writes while the run
// computes on. A stop at such a wait (the Exit key, or the Exit button held while the run waits)
// must leave exactly the files of a run that writes directly and stops at its own wait: nothing
// the run computed after the wait is written. The resumed runs end alike too.
TEST(CompanionEndToEnd, StopAtAWaitOfTheWriterLeavesTheFilesOfADirectRun) {
  for (bool byKey : {true, false}) {
    SCOPED_TRACE(byKey ? "Exit key" : "Exit button");
    TempDir direct, queued;
    for (const TempDir* d : {&direct, &queued}) {
      PrepareLibraryRun(*d);
      const bool writer = d == &queued;
      RecordingHost host;
      // Once the checkpoint of generation 13 is written, the run is (or its writer is) waiting
      // for the signal file of generation 12, which the stand-in leaves.
      host.OnPump = [&, d] {
        if (host.Pressed || Key(*d, "Exit") == "1" || Key(*d, "Stop_No") != "13") return;
        if (byKey)
          IniWrite(Ini(*d), "Common", "Exit", "1");
        else
          host.Pressed = true;
      };
      {
        StandIn companion(*d, 1, 12);
        RunResult r = RunWith(*d, writer, host);
        EXPECT_EQ(r.End, RunEnd::Stopped) << r.Message;
        EXPECT_EQ(r.LastGen, 13);
      }
      if (writer) { // the run had computed past the wait
        ASSERT_FALSE(host.Log.empty());
        EXPECT_EQ(host.Log.back().substr(host.Log.back().find(' ') + 1),
                  "Stopped in generation 13 while the companion was awaited; the run resumes "
                  "there");
      }
      EXPECT_EQ(Key(*d, "Stop_No"), "13");
      EXPECT_EQ(Key(*d, "No_Memory"), byKey ? "0" : "1");
      EXPECT_EQ(RowGens(*d), Range(1, 13));
    }
    EXPECT_EQ(Differences(queued, direct), "");

    for (const TempDir* d : {&direct, &queued}) {
      StandIn companion(*d, 12, 20);
      RecordingHost host;
      RunResult r = RunWith(*d, d == &queued, host);
      EXPECT_EQ(r.End, RunEnd::Finished) << r.Message;
      EXPECT_EQ(RowGens(*d), Range(1, 20));
    }
    EXPECT_EQ(Differences(queued, direct), "");
  }
}

// A Mape.txt that cannot be read ends the run with an error naming the file and line, though the
// generation that reads it first does not learn, and leaves the files of a direct run.
TEST(CompanionEndToEnd, BadMapeFailsTheRunWhereverItIsRead) {
  TempDir direct, queued;
  for (const TempDir* d : {&direct, &queued}) {
    PrepareLibraryRun(*d);
    std::string mape = test::ReadText(RunDir(*d) + "/Mape.txt");
    test::WriteText(RunDir(*d) + "/Mape.txt", mape.replace(8 * 8, 6, "0.0x1!"));
    StandIn companion(*d, 1, 2); // generation 2 reads Mape.txt first
    RecordingHost host;
    RunResult r = RunWith(*d, d == &queued, host);
    EXPECT_EQ(r.End, RunEnd::Failed);
    EXPECT_NE(r.Message.find("Mape.txt line 9: \"0.0x1!\" is not a number"), std::string::npos)
        << r.Message;
  }
  EXPECT_EQ(Differences(queued, direct), "");
}

} // namespace
} // namespace zupo
