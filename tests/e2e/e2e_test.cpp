// End-to-end runs of the real driver on copies of the bundled example, with a recording host.
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <map>
#include <memory>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <tuple>
#include <unistd.h>

#include "core/format.h"
#include "core/ini.h"
#include "core/paths.h"
#include "e2e/e2e_util.h"
#include "run/driver.h"
#include "run/recording_host.h"
#include "testutil.h"

namespace zupo {
namespace {

using namespace e2e;

TEST(EndToEnd, FreshRunWritesEveryFileInItsFormat) {
  TempDir d;
  Prepare(d, {{"Gen_No", "4"}, {"G_Gap", "3"}});
  RecordingHost host;
  RunResult r = RunIn(d, host);
  ASSERT_EQ(r.End, RunEnd::Finished) << r.Message;
  EXPECT_EQ(r.LastGen, 4);
  EXPECT_EQ(Key(d, "Stop_No") + Key(d, "Running") + Key(d, "Exit"), "000");

  EXPECT_EQ(test::ReadText(RunDir(d) + "/Data1.txt").find("\r\n"), 298u);
  EXPECT_EQ(RowGens(d), Range(1, 4));
  std::string data2 = test::ReadText(RunDir(d) + "/Data2.txt");
  EXPECT_EQ(data2.rfind("Generation:1\r\n", 0), 0u);
  EXPECT_EQ(CountLines(data2), 501);

  // Checkpoints of the last two loop generations (written at their top).
  std::string backup = test::ReadText(RunDir(d) + "/Backup1.txt");
  EXPECT_EQ(backup.rfind("GEN=3  First=", 0) + CountLines(backup), 8840u + 10 + 10);
  EXPECT_EQ(test::ReadText(RunDir(d) + "/Backup11.txt").rfind("GEN=2  First=", 0), 0u);

  // One report per generation, Best(t+1); the two halves of model files.
  for (const char* f :
       {"/0/Best0002.dat", "/0/Best0005.dat", "/0/T0001.dat", "/5/T0500.dat", "/9/T1000.dat"})
    EXPECT_TRUE(fs::exists(RunDir(d) + f)) << f;
  for (int digit = 0; digit <= 9; ++digit)
    EXPECT_TRUE(fs::is_directory(d / ("lib/" + std::to_string(digit))));

  // G_Gap 3: generation 2 writes History1, generation 4 Historyk (3 writes neither).
  for (const char* suffix : {"h", "w", "m", "s", "v", "f"}) {
    EXPECT_EQ(CountLines(test::ReadText(RunDir(d) + "/History1." + suffix)), 500) << suffix;
    EXPECT_TRUE(fs::exists(RunDir(d) + "/Historyk." + suffix)) << suffix;
  }

  // The data file holds the final lags (two lines of ten 7.3 fields); the windows are rewritten.
  EXPECT_EQ(test::ReadText(d / "Data.txt").size(), 2u * 10 * 9 + 2);
  EXPECT_EQ(test::ReadText(d / "DimA.txt").size(), 111u * 25);

  // The log: the first line replaced, then numbered lines.
  EXPECT_EQ(host.FirstLine, "Processing Generation        1 ");
  ASSERT_EQ(host.Log.size(), 7u);
  EXPECT_EQ(host.Log[0].rfind("1: P(t+1) =  ", 0), 0u);
  EXPECT_EQ(host.Log[1], "2: Processing Generation     2");
  EXPECT_EQ(host.Points.size(), 4u);
  EXPECT_TRUE(host.Warnings.empty());
}

// Two runs with the same seed write the same bytes; the first is also compared with the files
// kept in tests/e2e/expected (ZUPO_UPDATE_EXPECTED=1 rewrites those after an intended change).
TEST(EndToEnd, SameSeedGivesByteIdenticalFilesAndTheKeptResults) {
  TempDir a, b;
  for (const TempDir* d : {&a, &b}) {
    Prepare(*d, {{"Gen_No", "4"}, {"G_Gap", "2"}});
    RecordingHost host;
    ASSERT_EQ(RunIn(*d, host, 7).End, RunEnd::Finished);
  }
  for (const char* f :
       {"/Data1.txt", "/Data2.txt", "/Backup1.txt", "/Backup11.txt", "/0/T0001.dat", "/0/T0077.dat",
        "/3/T0345.dat", "/9/T0999.dat", "/0/Best0005.dat", "/History1.w", "/Historyk.v"})
    EXPECT_EQ(test::ReadText(RunDir(a) + f), test::ReadText(RunDir(b) + f)) << f;
  const std::string kept = ZUPO_SOURCE_DIR "/tests/e2e/expected/";
  for (const std::string f :
       {"run/Data1.txt", "run/0/Best0005.dat", "run/History1.w", "Data.txt"}) {
    std::string name = f.substr(f.find_last_of('/') + 1);
    if (std::getenv("ZUPO_UPDATE_EXPECTED")) test::WriteText(kept + name, test::ReadText(a / f));
    EXPECT_EQ(test::ReadText(a / f), test::ReadText(kept + name)) << f;
  }
}

TEST(EndToEnd, ExitButtonStopsWithCheckpointAndResumeContinues) {
  TempDir d;
  Prepare(d, {{"Gen_No", "7"}, {"G_Gap", "2"}});
  RecordingHost host;
  host.PressExitAtGen = 4;
  RunResult r = RunIn(d, host);
  ASSERT_EQ(r.End, RunEnd::Stopped) << r.Message;
  EXPECT_EQ(r.LastGen, 4);
  EXPECT_EQ(Key(d, "Stop_No") + Key(d, "Exit") + Key(d, "No_Memory") + Key(d, "Running"), "4110");
  EXPECT_EQ(test::ReadText(RunDir(d) + "/Backup1.txt").rfind("GEN=4  First=", 0), 0u);
  EXPECT_EQ(RowGens(d), Range(1, 4));
  // A kill between the key and the checkpoint file leaves Stop_No one generation ahead: the
  // resume trusts the checkpoint and says so.
  IniWrite(Ini(d), "Common", "Stop_No", "5");
  RecordingHost again;
  RunResult r2 = RunIn(d, again, 12);
  ASSERT_EQ(r2.End, RunEnd::Finished) << r2.Message;
  EXPECT_EQ(r2.FirstGen, 4);
  EXPECT_NE(again.FirstLine.find("Resuming from generation 4"), std::string::npos);
  EXPECT_EQ(RowGens(d), Range(1, 7));
  ASSERT_FALSE(again.Points.empty());
  EXPECT_EQ(again.Points.front().first, 5);
  EXPECT_EQ(Key(d, "Stop_No"), "0");
}

TEST(EndToEnd, FreshRunReplacesACheckpointLeftByAnEarlierRun) {
  TempDir d;
  Prepare(d, {{"Gen_No", "2"}, {"G_Gap", "2"}});
  RecordingHost first;
  ASSERT_EQ(RunIn(d, first, 1).End, RunEnd::Finished);
  std::string earlier = test::ReadText(RunDir(d) + "/Backup1.txt");
  ASSERT_EQ(earlier.rfind("GEN=1  First=", 0), 0u);
  // A new fresh run (other seed) stopped at generation 2: its own generation-1 checkpoint must
  // have replaced the earlier run's, which a resume would otherwise mix into this run.
  IniWrite(Ini(d), "Traders", "Gen_No", "5");
  RecordingHost second;
  second.PressExitAtGen = 2;
  ASSERT_EQ(RunIn(d, second, 2).End, RunEnd::Stopped);
  std::string previous = test::ReadText(RunDir(d) + "/Backup11.txt");
  EXPECT_EQ(previous.rfind("GEN=1  First=", 0), 0u);
  EXPECT_NE(previous, earlier);
}

TEST(EndToEnd, ErrorInsideAGenerationTakesTheErrorPath) {
  TempDir d;
  Prepare(d, {{"Gen_No", "5"}, {"G_Gap", "0"}});
  RecordingHost host;
  RunResult r = RunIn(d, host);
  ASSERT_EQ(r.End, RunEnd::Failed);
  EXPECT_NE(r.Message.find("zero"), std::string::npos) << r.Message;
  EXPECT_EQ(Key(d, "Running"), "0");
  EXPECT_EQ(Key(d, "Exit"), "1");
  EXPECT_EQ(Key(d, "Stop_No"), "1"); // the checkpoint of the failed generation's top
  EXPECT_EQ(RowGens(d), Range(1, 1));
}

TEST(EndToEnd, EdgesOfTheGenerationLoop) {
  { // Gen_No 1: only the initial generation; the data file is rewritten with the initial lags.
    TempDir d;
    Prepare(d, {{"Gen_No", "1"}});
    std::string before = test::ReadText(d / "Data.txt");
    RecordingHost host;
    ASSERT_EQ(RunIn(d, host).End, RunEnd::Finished);
    EXPECT_EQ(RowGens(d), Range(1, 1));
    EXPECT_EQ(Key(d, "Stop_No"), "0");
    EXPECT_FALSE(fs::exists(RunDir(d) + "/Backup1.txt"));
    EXPECT_EQ(test::ReadText(d / "Data.txt").substr(0, 7), before.substr(0, 7));
  }
  { // A resume at or after Gen_No runs no generation and ends as finished.
    TempDir d;
    Prepare(d, {{"Gen_No", "5"}, {"G_Gap", "2"}});
    RecordingHost host;
    host.PressExitAtGen = 3;
    ASSERT_EQ(RunIn(d, host).End, RunEnd::Stopped);
    IniWrite(Ini(d), "Traders", "Gen_No", "3");
    RecordingHost again;
    ASSERT_EQ(RunIn(d, again).End, RunEnd::Finished);
    EXPECT_TRUE(again.Points.empty());
    EXPECT_EQ(Key(d, "Stop_No"), "0");
    EXPECT_EQ(RowGens(d), Range(1, 3));
  }
  { // Less than 100 million bytes free: the first stop check (after generation 2) stops the run.
    TempDir d;
    Prepare(d, {{"Gen_No", "5"}});
    RecordingHost host;
    host.DiskMB = 99.9;
    RunResult r = RunIn(d, host);
    ASSERT_EQ(r.End, RunEnd::Stopped) << r.Message;
    EXPECT_EQ(Key(d, "Stop_No") + Key(d, "Exit") + Key(d, "No_Memory"), "211");
  }
  // The learning period decides which snapshot sets generations 2 and 3 write.
  for (auto [gap, k, one] : {std::tuple{"1", true, false}, {"2", true, true}, {"3", false, true}}) {
    TempDir d;
    Prepare(d, {{"Gen_No", "3"}, {"G_Gap", gap}});
    RecordingHost host;
    ASSERT_EQ(RunIn(d, host).End, RunEnd::Finished) << gap;
    EXPECT_EQ(fs::exists(RunDir(d) + "/Historyk.f"), k) << "G_Gap " << gap;
    EXPECT_EQ(fs::exists(RunDir(d) + "/History1.h"), one) << "G_Gap " << gap;
  }
}

// A stand-in for the companion program: it serves each signal file, writing Mape.txt and the
// library's model files, and can stop the run through the Exit key.
class FakeCompanion {
public:
  FakeCompanion(const TempDir& d, int stopAtGen) : d_(d), stopAt_(stopAtGen) {
    for (int n = 1; n <= 1000; ++n) {
      char name[32];
      std::snprintf(name, sizeof name, "/lib%d/T%04d.dat", n / 100 >= 9 ? 9 : n / 100, n);
      test::WriteText(d.Path() + name, n % 2 ? "X01" : "Y01R(0.10 )*");
    }
    std::string mape;
    for (int w = 1; w <= 500; ++w) mape += FormatFixed(w % 7 + 0.5, 0, 3) + "\r\n";
    mape_ = mape;
    thread_ = std::thread([this] { Loop(); });
  }
  ~FakeCompanion() {
    done_ = true;
    thread_.join();
  }

private:
  void Loop() {
    while (!done_) {
      for (int g = 1; g <= 50; ++g) {
        std::string sig = d_.Path() + "/run/Gen" + std::to_string(g);
        if (!fs::exists(sig)) continue;
        if (g == stopAt_) { // while the run writes its own keys: the folder lock keeps both
          IniWrite(d_.Path() + "/Zupo.ini", "Common", "Exit", "1");
          continue;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        test::WriteText(d_.Path() + "/run/Mape.txt", mape_);
        fs::remove(sig);
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
  }
  const TempDir& d_;
  int stopAt_;
  std::string mape_;
  std::atomic<bool> done_{false};
  std::thread thread_;
};

TEST(EndToEnd, LibraryRunWaitsForTheCompanionAndStopsOnItsExitKey) {
  TempDir d;
  Prepare(d, {{"Gen_No", "9"}, {"G_Gap", "1"}, {"LibraryProb", "100"}, {"TryNo", "1"}});
  for (int digit = 0; digit <= 9; ++digit)
    fs::create_directories(d / ("lib" + std::to_string(digit)));
  IniWrite(Ini(d), "Common", "Tree_Path2", "lib");
  FakeCompanion companion(d, 5);
  RecordingHost host;
  // Count the pumps that happen while a signal file is waiting to be served.
  long waitingPumps = 0;
  host.OnPump = [&] {
    for (int g = 1; g <= 9; ++g)
      if (fs::exists(d / ("run/Gen" + std::to_string(g)))) ++waitingPumps;
  };
  RunResult r = RunIn(d, host);
  ASSERT_EQ(r.End, RunEnd::Stopped) << r.Message;
  EXPECT_FALSE(fs::exists(RunDir(d) + "/Gen0"));
  EXPECT_GT(waitingPumps, 0);
  // The stop came from the Exit key while the loop generation after 6 waited for generation 5's
  // signal file: before the raise, so the checkpoint names generation 6 (its top checkpoint is
  // kept) and No_Memory is not written.
  EXPECT_EQ(Key(d, "Stop_No") + Key(d, "Running") + Key(d, "No_Memory"), "600");
  EXPECT_EQ(test::ReadText(RunDir(d) + "/Backup1.txt").rfind("GEN=6  First=", 0), 0u);
  EXPECT_EQ(RowGens(d), Range(1, 6));
  // VisitLibNo (the last column) is 0 in generations 1 and 2 and positive from 3 on.
  TextReader in = TextReader::Open(RunDir(d) + "/Data1.txt");
  in.ReadLine();
  for (int g = 1; g <= 6; ++g) {
    std::string row = in.ReadLine();
    int visitLib = std::stoi(row.substr(row.size() - 3));
    EXPECT_EQ(visitLib > 0, g >= 3) << row;
  }
}

TEST(EndToEnd, CompanionStartsDetachedInTheRunFolderWithoutArguments) {
  TempDir d;
  Prepare(d, {{"Gen_No", "1"}, {"LibraryProb", "50"}});
  // A stand-in companion in the program's folder (here the run folder) that tells where it ran.
  test::WriteText(d / "ZupoAp", "#!/bin/sh\n{ pwd; echo \"$ZUPO_INI\"; echo $#; } > started.tmp\n"
                                "mv started.tmp started.txt\n");
  fs::permissions(d / "ZupoAp", fs::perms::owner_all);
  RecordingHost host;
  ASSERT_EQ(RunIn(d, host).End, RunEnd::Finished);
  for (int k = 0; k < 500 && !fs::exists(d / "started.txt"); ++k)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  std::string real = fs::canonical(d.Path()).string();
  EXPECT_EQ(test::ReadText(d / "started.txt"), real + "\n" + real + "/Zupo.ini\n0\n");
}

// Killed in generation 2 (only the checkpoint of generation 1 can be on disk) and in the middle
// of a later generation: each resumes to a complete run.
TEST(EndToEnd, CliKilledInTheMiddleResumesWithoutGapOrRepeat) {
  for (int rowsBeforeKill : {1, 5}) {
    TempDir d;
    Prepare(d, {{"Gen_No", "40"}, {"G_Gap", "2"}});
    pid_t pid = RunCli({"--seed", "3", "--quiet", d.Path()}, false);
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    const std::string p = RunDir(d) + "/Data1.txt";
    while (std::chrono::steady_clock::now() < deadline &&
           !(fs::exists(p) && CountLines(test::ReadText(p)) >= 1 + rowsBeforeKill))
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    ::kill(pid, SIGKILL);
    int status = 0;
    ::waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status)) << "the run ended before it could be killed";
    EXPECT_EQ(Key(d, "Running"), "1");
    if (rowsBeforeKill == 1) { // the kill landed in generation 2
      EXPECT_LE(std::stoi("0" + Key(d, "Stop_No")), 1);
    }
    EXPECT_EQ(RunCli({"--seed", "4", "--quiet", d.Path()}), 0) << rowsBeforeKill;
    EXPECT_EQ(RowGens(d), Range(1, 40));
    EXPECT_EQ(Key(d, "Stop_No"), "0");
    EXPECT_EQ(CountLines(test::ReadText(RunDir(d) + "/Data2.txt")), 501); // generation 1, once
  }
}

TEST(EndToEnd, CliExitStatusNamesHowTheRunEnded) {
  TempDir bad;
  Prepare(bad, {{"Gen_No", "3"}});
  IniWrite(Ini(bad), "Traders", "LibraryProb", "0.5");
  EXPECT_EQ(RunCli({"--quiet", bad.Path()}), 1);

  TempDir failing;
  Prepare(failing, {{"Gen_No", "3"}, {"G_Gap", "0"}});
  EXPECT_EQ(RunCli({"--seed", "1", "--quiet", failing.Path()}), 2);
  EXPECT_EQ(Key(failing, "Running"), "0");

  TempDir missing;
  EXPECT_EQ(RunCli({"--quiet", missing.Path()}), 1);
}

} // namespace
} // namespace zupo
