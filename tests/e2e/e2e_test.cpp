// End-to-end runs of the real driver on copies of the bundled example, with a recording host.
#include <cstdlib>
#include <gtest/gtest.h>
#include <thread>
#include <tuple>

#include "core/format.h"
#include "e2e/e2e_util.h"

namespace zupo {
namespace {

using namespace e2e;

TEST(EndToEnd, FreshRunWritesEveryFileInItsFormat) {
  TempDir d;
  Prepare(d, {{"Gen_No", "4"}, {"G_Gap", "3"}});
  RecordingHost host;
  RunResult r = RunIn(d, host);
  ASSERT_EQ(r.End, RunEnd::Finished) << r.Message;
  EXPECT_EQ(Key(d, "Stop_No") + Key(d, "Running") + Key(d, "Exit"), "000");

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

// A run's files are compared with those kept in tests/e2e/expected (ZUPO_UPDATE_EXPECTED=1
// rewrites them after an intended change): the same seed gives the same bytes.
TEST(EndToEnd, SameSeedGivesTheKeptResults) {
  TempDir a;
  Prepare(a, {{"Gen_No", "4"}, {"G_Gap", "2"}});
  ASSERT_EQ(EndOf(a, 7), RunEnd::Finished);
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
  EXPECT_EQ(Key(d, "Stop_No"), "0");
}

TEST(EndToEnd, FreshRunReplacesACheckpointLeftByAnEarlierRun) {
  TempDir d;
  Prepare(d, {{"Gen_No", "2"}, {"G_Gap", "2"}});
  ASSERT_EQ(EndOf(d, 1), RunEnd::Finished);
  std::string earlier = test::ReadText(RunDir(d) + "/Backup1.txt");
  ASSERT_EQ(earlier.rfind("GEN=1  First=", 0), 0u);
  // A new fresh run (other seed) stopped at generation 2: its own generation-1 checkpoint must
  // have replaced the earlier run's, which a resume would otherwise mix into this run.
  IniWrite(Ini(d), "Traders", "Gen_No", "5");
  ASSERT_EQ(EndOf(d, 2, 2), RunEnd::Stopped);
  std::string previous = test::ReadText(RunDir(d) + "/Backup11.txt");
  EXPECT_EQ(previous.rfind("GEN=1  First=", 0), 0u);
  EXPECT_NE(previous, earlier);
}

TEST(EndToEnd, EdgesOfTheGenerationLoop) {
  { // Gen_No 1: only the initial generation; the data file is rewritten with the initial lags.
    TempDir d;
    Prepare(d, {{"Gen_No", "1"}});
    std::string before = test::ReadText(d / "Data.txt");
    ASSERT_EQ(EndOf(d), RunEnd::Finished);
    EXPECT_EQ(RowGens(d), Range(1, 1));
    EXPECT_EQ(Key(d, "Stop_No"), "0");
    EXPECT_FALSE(fs::exists(RunDir(d) + "/Backup1.txt"));
    EXPECT_EQ(test::ReadText(d / "Data.txt").substr(0, 7), before.substr(0, 7));
  }
  { // A resume at or after Gen_No runs no generation and ends as finished.
    TempDir d;
    Prepare(d, {{"Gen_No", "5"}, {"G_Gap", "2"}});
    ASSERT_EQ(EndOf(d, 11, 3), RunEnd::Stopped);
    IniWrite(Ini(d), "Traders", "Gen_No", "3");
    RecordingHost again;
    ASSERT_EQ(RunIn(d, again).End, RunEnd::Finished);
    EXPECT_TRUE(again.Points.empty());
    EXPECT_EQ(Key(d, "Stop_No"), "0");
    EXPECT_EQ(RowGens(d), Range(1, 3));
  }
  // The learning period decides which snapshot sets generations 2 and 3 write.
  for (auto [gap, k, one] : {std::tuple{"1", true, false}, {"2", true, true}, {"3", false, true}}) {
    TempDir d;
    Prepare(d, {{"Gen_No", "3"}, {"G_Gap", gap}});
    ASSERT_EQ(EndOf(d), RunEnd::Finished) << gap;
    EXPECT_EQ(fs::exists(RunDir(d) + "/Historyk.f"), k) << "G_Gap " << gap;
    EXPECT_EQ(fs::exists(RunDir(d) + "/History1.h"), one) << "G_Gap " << gap;
  }
}

TEST(EndToEnd, CompanionStartsDetachedInTheRunFolderWithoutArguments) {
  TempDir d;
  Prepare(d, {{"Gen_No", "1"}, {"LibraryProb", "50"}});
  // A stand-in companion in the program's folder (here the run folder) that tells where it ran.
  test::WriteText(d / "ZupoAp", "#!/bin/sh\n{ pwd; echo \"$ZUPO_INI\"; echo $#; } > started.tmp\n"
                                "mv started.tmp started.txt\n");
  fs::permissions(d / "ZupoAp", fs::perms::owner_all);
  ASSERT_EQ(EndOf(d), RunEnd::Finished);
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
    WaitForRows(d, rowsBeforeKill);
    ASSERT_TRUE(Kill(pid)) << "the run ended before it could be killed";
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

  // An error inside a generation (G_Gap 0 divides by zero) takes the error path.
  TempDir failing;
  Prepare(failing, {{"Gen_No", "5"}, {"G_Gap", "0"}});
  EXPECT_EQ(RunCli({"--seed", "1", "--quiet", failing.Path()}), 2);
  EXPECT_EQ(Key(failing, "Running") + Key(failing, "Exit") + Key(failing, "Stop_No"), "011");
  EXPECT_EQ(RowGens(failing), Range(1, 1));

  TempDir missing;
  EXPECT_EQ(RunCli({"--quiet", missing.Path()}), 1);
}

} // namespace
} // namespace zupo
