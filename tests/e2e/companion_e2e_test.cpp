// Whole runs of zupo-cli with the real companion ZupoAp (built beside it) keeping the library.
#include <future>
#include <gtest/gtest.h>

#include "core/format.h"
#include "e2e/e2e_util.h"
#include "library/service.h"
#include "run/companion.h"

namespace zupo {
namespace {

using namespace e2e;
using namespace std::chrono_literals;

// The generations of the "Generation <g>:" lines of ZupoAp.log.
std::vector<int> LoggedGens(const TempDir& d) {
  std::vector<int> gens;
  std::istringstream in(test::ReadText(RunDir(d) + "/ZupoAp.log"));
  for (std::string line; std::getline(in, line);)
    if (line.rfind("Generation ", 0) == 0) gens.push_back(std::stoi(line.substr(11)));
  return gens;
}

// The companion named in the lock file, "companion <pid> run <pid>" (0 when none).
pid_t CompanionPid(const TempDir& d) {
  std::string p = RunDir(d) + "/" + CompanionLockName;
  return fs::exists(p) ? std::atoi(test::ReadText(p).c_str() + 10) : 0;
}

bool GoneWithin(pid_t pid, int seconds) {
  return Within(std::chrono::seconds(seconds), [pid] { return !ProcessAlive(pid); });
}

// Byte for byte, what the companion writes is checked by the seeded run with the library.
TEST(CompanionEndToEnd, LibraryRunFinishesWithTheRealCompanion) {
  ExampleRun d({{"LibraryProb", "30"}, {"G_Gap", "5"}, {"Gen_No", "60"}});
  ASSERT_EQ(Cli(d, "5"), 0);
  EXPECT_EQ(RowGens(d), Range(1, 60));
  // Library tries from generation 3 on, in every learning generation (6, 11, ...) and only there.
  for (const auto& row : Rows(d)) {
    int g = std::stoi(row[0]), visitLib = std::stoi(row.back());
    EXPECT_EQ(visitLib > 0, g >= 3 && g % 5 == 1) << "generation " << g;
  }
  // Every signal file was served, the last one too; the companion ended with the run.
  EXPECT_TRUE(SignalGenerations(RunDir(d)).empty());
  pid_t companion = CompanionPid(d);
  ASSERT_GT(companion, 0);
  EXPECT_TRUE(GoneWithin(companion, 5));
  EXPECT_EQ(LoggedGens(d), Range(1, 59));
}

TEST(CompanionEndToEnd, KilledRunLeavesNoCompanionAndResumesServed) {
  ExampleRun d({{"LibraryProb", "30"}, {"G_Gap", "5"}, {"Gen_No", "60"}});
  pid_t run = Cli(d, "3", false);
  WaitForRows(d, 25);
  pid_t first = CompanionPid(d);
  ASSERT_TRUE(Kill(run)) << "the run ended before it could be killed";
  ASSERT_GT(first, 0);
  EXPECT_TRUE(GoneWithin(first, 5)) << "the companion outlived its killed run";

  EXPECT_EQ(Cli(d, "4"), 0);
  EXPECT_EQ(RowGens(d), Range(1, 60)); // every generation exactly once
  std::vector<int> logged = LoggedGens(d);
  EXPECT_NE(CompanionPid(d), first);
  ASSERT_FALSE(logged.empty());
  EXPECT_EQ(logged.back(), 59); // the new companion served the resumed run to its end
  EXPECT_TRUE(GoneWithin(CompanionPid(d), 5));
}

// Every try a library try from generation 3 on, so that any success adopts a library model.
TEST(CompanionEndToEnd, CtrlCWhileWaitingStopsWithACheckpointAndLibraryModelsAreAdopted) {
  ExampleRun d({{"LibraryProb", "100"}, {"G_Gap", "5"}, {"Gen_No", "40"}});
  pid_t run = Cli(d, "6", false);
  WaitForRows(d, 10);
  pid_t companion = CompanionPid(d);
  ASSERT_GT(companion, 0);
  // A companion that stops answering: the run comes to wait for its signal file.
  ::kill(companion, SIGSTOP);
  size_t rows = 0;
  auto waiting = [&] { // no new row for 200 ms, and a signal file waits
    size_t before = std::exchange(rows, Rows(d).size());
    return before == rows && !SignalGenerations(RunDir(d)).empty();
  };
  ASSERT_TRUE(Within(std::chrono::seconds(20), waiting, std::chrono::milliseconds(200)));
  ::kill(run, SIGINT);
  EXPECT_EQ(ExitStatus(run), 3);
  std::string stop = Key(d, "Stop_No");
  EXPECT_EQ(test::ReadText(RunDir(d) + "/Backup1.txt").rfind("GEN=" + stop + " ", 0), 0u);
  ::kill(companion, SIGCONT);
  EXPECT_TRUE(GoneWithin(companion, 5));

  EXPECT_EQ(Cli(d, "7"), 0);
  EXPECT_EQ(RowGens(d), Range(1, 40));
  int succeeded = 0;
  for (const auto& row : Rows(d))
    if (std::stoi(row[0]) >= 3) succeeded += std::stoi(row[row.size() - 4]);
  EXPECT_GT(succeeded, 0);
}

// The files that differ between the two folders or are in one only (the run's lock aside).
std::string Differences(const TempDir& a, const TempDir& b) {
  std::map<std::string, std::string> files[2];
  for (int k : {0, 1})
    for (const auto& e : fs::recursive_directory_iterator((k ? b : a).Path()))
      if (e.is_regular_file() && e.path().filename() != "zupo.lock")
        files[k][fs::relative(e.path(), (k ? b : a).Path())] = test::ReadText(e.path());
  std::string out;
  for (int k : {0, 1})
    for (const auto& [f, text] : files[k])
      if (!files[1 - k].count(f) || files[1 - k][f] != text) out += f + " ";
  return out;
}

// A stand-in companion serving generations from..until-1 (its future waits on after the run, as
// the real one does). Library and Mape.txt never change: what the run computes is timing-free.
std::future<void> StandIn(const TempDir& d, int from, int until) {
  return std::async(std::launch::async, [dir = RunDir(d), from, until] {
    for (int g = from; g < until; ++g)
      Within(
          60s, [&] { return fs::remove(dir + "/Gen" + std::to_string(g)); }, 200us);
  });
}

// The example with LibraryProb 30 and G_Gap 3, its library the population of a short run.
void PrepareLibraryRun(const TempDir& d) {
  ExampleRun first({{"Gen_No", "2"}}); // both halves of the population are written
  ASSERT_EQ(EndOf(first), RunEnd::Finished);
  Prepare(d, {{"LibraryProb", "30"}, {"G_Gap", "3"}, {"Gen_No", "20"}});
  fs::create_directory(d / "lib");
  for (int k = 0; k <= 9; ++k)
    fs::copy(RunDir(first) + "/" + std::to_string(k), d / ("lib/" + std::to_string(k)));
  std::string mape;
  for (int w = 1; w <= MaxTraders; ++w) mape += FormatFixed((w % 37) * 0.01L, 0, 4) + "\r\n";
  test::WriteText(RunDir(d) + "/Mape.txt", mape);
}

// The writer thread waits for the companion among the writes while the run computes on. A stop at
// such a wait (Exit key or button), or a bad Mape.txt (an error naming file and line), leaves
// exactly the files of a run that writes directly, and the resumed runs end alike.
TEST(CompanionEndToEnd, StopAtAWaitOrABadMapeLeavesTheFilesOfADirectRun) {
  for (const std::string way : {"Exit key", "Exit button", "bad Mape.txt"}) {
    SCOPED_TRACE(way);
    const bool badMape = way == "bad Mape.txt";
    TempDir direct, queued;
    for (const TempDir* d : {&direct, &queued}) {
      PrepareLibraryRun(*d);
      if (badMape) {
        std::string mape = test::ReadText(RunDir(*d) + "/Mape.txt");
        test::WriteText(RunDir(*d) + "/Mape.txt", mape.replace(8 * 8, 6, "0.0x1!"));
      }
      RecordingHost host;
      // From the checkpoint of generation 13 on, the run waits for the unserved Gen12.
      host.OnPump = [&, d] {
        if (badMape || host.Pressed || Key(*d, "Exit") == "1" || Key(*d, "Stop_No") != "13") return;
        if (way == "Exit key")
          IniWrite(Ini(*d), "Common", "Exit", "1");
        else
          host.Pressed = true;
      };
      auto companion = StandIn(*d, 1, badMape ? 2 : 12); // generation 2 reads Mape.txt first
      RunResult r = RunIn(*d, host, 11, d == &queued);
      if (badMape) {
        EXPECT_EQ(r.End, RunEnd::Failed);
        EXPECT_TRUE(Holds(r.Message, "Mape.txt line 9: \"0.0x1!\" is not a number")) << r.Message;
        continue;
      }
      EXPECT_EQ(r.End, RunEnd::Stopped) << r.Message;
      EXPECT_EQ(r.LastGen, 13);
      if (d == &queued) { // the run had computed past the wait
        ASSERT_FALSE(host.Log.empty());
        EXPECT_EQ(host.Log.back().substr(host.Log.back().find(' ') + 1),
                  "Stopped in generation 13 while the companion was awaited; the run resumes "
                  "there");
      }
      EXPECT_EQ(Key(*d, "Stop_No") + Key(*d, "No_Memory"), way == "Exit key" ? "130" : "131");
      EXPECT_EQ(RowGens(*d), Range(1, 13));
    }
    EXPECT_EQ(Differences(queued, direct), "");
    if (badMape) continue;

    for (const TempDir* d : {&direct, &queued}) {
      auto companion = StandIn(*d, 12, 20);
      RecordingHost host;
      RunResult r = RunIn(*d, host, 11, d == &queued);
      EXPECT_EQ(r.End, RunEnd::Finished) << r.Message;
      EXPECT_EQ(RowGens(*d), Range(1, 20));
    }
    EXPECT_EQ(Differences(queued, direct), "");
  }
}

} // namespace
} // namespace zupo
