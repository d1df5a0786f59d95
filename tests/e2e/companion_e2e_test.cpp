// Whole runs of zupo-cli with the real companion ZupoAp (built beside it) keeping the library.
#include <chrono>
#include <csignal>
#include <gtest/gtest.h>
#include <sstream>
#include <thread>

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

} // namespace
} // namespace zupo
