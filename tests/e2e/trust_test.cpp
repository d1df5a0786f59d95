// Whole runs of the real driver (or of zupo-cli) on copies of the bundled example: what a run
// writes; runs interrupted, resumed, damaged or started twice lose nothing and say why.
#include <gtest/gtest.h>

#include "core/format.h"
#include "e2e/e2e_util.h"
#include "market/backup.h"
#include "run/runlock.h"

namespace zupo {
namespace {

using namespace e2e;

std::string Data1(const TempDir& d) {
  return test::ReadText(RunDir(d) + "/Data1.txt");
}

// The message of the RunError a run raises at start-up ("" when it starts).
std::string StartError(const TempDir& d, RecordingHost&& host = {}) {
  try {
    RunIn(d, host);
  } catch (const RunError& e) {
    return e.what();
  }
  return "";
}

// The lags a finished run leaves in the data file are P(t+1) of its rows G-1, G-2, G-3.
void ExpectLagsFollowThePrices(const TempDir& d) {
  auto rows = Rows(d);
  TextReader lags("Data.txt", test::ReadText(d / "Data.txt"));
  ASSERT_GE(rows.size(), 4u);
  for (size_t k = 1; k <= 3; ++k)
    EXPECT_EQ(FormatFixed(lags.ReadReal(), 7, 3),
              FormatFixed(std::stold(rows[rows.size() - 1 - k][1]), 7, 3))
        << "lag " << k;
}

// A run's files are compared with those kept in tests/e2e/expected (ZUPO_UPDATE_EXPECTED=1
// rewrites them after an intended change): the same seed gives the same bytes.
TEST(EndToEnd, SameSeedGivesTheKeptResults) {
  ExampleRun a({{"Gen_No", "4"}, {"G_Gap", "2"}});
  ASSERT_EQ(EndOf(a, 7), RunEnd::Finished);
  const std::string kept = ZUPO_SOURCE_DIR "/tests/e2e/expected/";
  for (const std::string f :
       {"run/Data1.txt", "run/0/Best0005.dat", "run/History1.w", "Data.txt"}) {
    std::string name = f.substr(f.find_last_of('/') + 1);
    if (std::getenv("ZUPO_UPDATE_EXPECTED")) test::WriteText(kept + name, test::ReadText(a / f));
    EXPECT_EQ(test::ReadText(a / f), test::ReadText(kept + name)) << f;
  }
}

TEST(EndToEnd, FreshRunReplacesACheckpointLeftByAnEarlierRun) {
  ExampleRun d({{"Gen_No", "2"}, {"G_Gap", "2"}});
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
    ExampleRun d({{"Gen_No", "1"}});
    std::string before = test::ReadText(d / "Data.txt");
    ASSERT_EQ(EndOf(d), RunEnd::Finished);
    EXPECT_EQ(RowGens(d), Range(1, 1));
    EXPECT_EQ(Key(d, "Stop_No"), "0");
    EXPECT_FALSE(fs::exists(RunDir(d) + "/Backup1.txt"));
    EXPECT_EQ(test::ReadText(d / "Data.txt").substr(0, 7), before.substr(0, 7));
    for (int digit = 0; digit <= 9; ++digit) // made for the companion
      EXPECT_TRUE(fs::is_directory(d / ("lib/" + std::to_string(digit))));
  }
  { // A resume at or after Gen_No runs no generation and ends as finished.
    ExampleRun d({{"Gen_No", "5"}, {"G_Gap", "2"}});
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
    ExampleRun d({{"Gen_No", "3"}, {"G_Gap", gap}});
    ASSERT_EQ(EndOf(d), RunEnd::Finished) << gap;
    EXPECT_EQ(fs::exists(RunDir(d) + "/Historyk.f"), k) << "G_Gap " << gap;
    EXPECT_EQ(fs::exists(RunDir(d) + "/History1.h"), one) << "G_Gap " << gap;
  }
}

TEST(EndToEnd, CliKilledInTheMiddleResumesWithoutGapOrRepeat) {
  ExampleRun d({{"Gen_No", "40"}, {"G_Gap", "2"}});
  pid_t pid = Cli(d, "3", false);
  WaitForRows(d, 5);
  ASSERT_TRUE(Kill(pid)) << "the run ended before it could be killed";
  EXPECT_EQ(Cli(d, "4"), 0);
  EXPECT_EQ(RowGens(d), Range(1, 40));
  EXPECT_EQ(CountLines(test::ReadText(RunDir(d) + "/Data2.txt")), 501); // generation 1, once
}

// An error inside a generation (G_Gap 0 divides by zero) ends zupo-cli with status 2.
// Generation 1 orders only its own half of the trader order, so the checkpoint at the top of
// generation 2 holds a half of zeros; a run ended there resumes.
TEST(Trust, RunEndedInGenerationTwoResumes) {
  ExampleRun d({{"Gen_No", "6"}, {"G_Gap", "0"}});
  ASSERT_EQ(Cli(d, "1"), 2);
  EXPECT_EQ(Key(d, "Running") + Key(d, "Exit") + Key(d, "Stop_No"), "011");
  EXPECT_EQ(RowGens(d), Range(1, 1));
  ASSERT_EQ(BackupGeneration(RunDir(d) + "/Backup1.txt"), 1);
  IniWrite(Ini(d), "Traders", "G_Gap", "20");
  RecordingHost again;
  RunResult r = RunIn(d, again, 5);
  ASSERT_EQ(r.End, RunEnd::Finished) << r.Message;
  EXPECT_EQ(r.FirstGen, 1);
  EXPECT_EQ(RowGens(d), Range(1, 6));
  ExpectLagsFollowThePrices(d);
}

// A start-up that fails leaves the results of the finished run before it as they were.
TEST(Trust, StartUpErrorTouchesNoResultFile) {
  ExampleRun d({{"Gen_No", "2"}});
  ASSERT_EQ(EndOf(d), RunEnd::Finished);
  const std::string data1 = Data1(d), data2 = test::ReadText(RunDir(d) + "/Data2.txt");
  const std::tuple<std::string, std::string, std::string> cases[] = {
      {"DimA.txt", test::ReadText(d / "DimA.txt").substr(0, 500),
       "DimA.txt: unexpected end of file"},
      {"Data.txt", "80 1e99999\r\n", "Data.txt: floating-point overflow"},
      {"run/Dstar.txt", "", "Dstar.txt: not a regular file"}, // made a folder below
      {"Zupo.ini", "", "ExData_File: the key is empty, but Extra_Var names 1 extra variables"}};
  for (const auto& [file, text, says] : cases) {
    TempDir e;
    fs::copy(d.Path(), e.Path(), fs::copy_options::recursive);
    if (file == "Zupo.ini")
      IniWrite(Ini(e), "Common", "Extra_Var", "V1\\");
    else if (file == "run/Dstar.txt")
      fs::remove(e / file), fs::create_directory(e / file);
    else
      test::WriteText(e / file, text);
    std::string err = StartError(e);
    EXPECT_TRUE(Holds(err, says)) << says << " | " << err;
    EXPECT_EQ(Data1(e), data1) << says;
    EXPECT_EQ(test::ReadText(RunDir(e) + "/Data2.txt"), data2) << says;
  }
}

// A resume that cannot continue the run is refused and changes nothing (the library switched on
// mid-run would wait for ever for Mape.txt). A damaged Backup1.txt falls back to Backup11.txt,
// says so first, and repeats nothing.
TEST(Trust, RefusedResumesChangeNothingAndADamagedCheckpointFallsBack) {
  ExampleRun d({{"Gen_No", "8"}, {"G_Gap", "2"}});
  ASSERT_EQ(EndOf(d, 11, 5), RunEnd::Stopped); // the Exit button
  EXPECT_EQ(Key(d, "Stop_No") + Key(d, "Exit") + Key(d, "No_Memory") + Key(d, "Running"), "5110");
  const std::string b1 = RunDir(d) + "/Backup1.txt", b11 = RunDir(d) + "/Backup11.txt";
  const std::string good1 = test::ReadText(b1), data1 = Data1(d);
  ASSERT_EQ(good1.rfind("GEN=5  First=", 0), 0u);

  const std::string upTo3 = data1.substr(0, data1.find("\r\n    4") + 2);
  struct Refusal {
    std::string stopNo, libraryProb, backup1, rows, says, andSays;
  } refusals[] = {
      {"9", "0", good1, data1, "Backup1.txt holds generation 5, but Stop_No is 9", "not resumed"},
      {"4", "0", good1, data1, "Backup1.txt holds generation 5, but Stop_No is 4", "not resumed"},
      {"7", "0", "damaged\r\n", data1, "Backup1.txt: the first line is not a checkpoint's",
       "Backup11.txt holds generation 4, but Stop_No is 7"},
      {"5", "0", good1, upTo3, "later than the last row of Data1.txt (3)", "not resumed"},
      {"5", "30", good1, data1,
       RunDir(d) + "/Mape.txt is missing, and no signal file (" + RunDir(d) + "/Gen4) asks",
       "LibraryProb 30"}};
  for (const Refusal& c : refusals) {
    IniWrite(Ini(d), "Common", "Stop_No", c.stopNo);
    IniWrite(Ini(d), "Traders", "LibraryProb", c.libraryProb);
    test::WriteText(b1, c.backup1);
    test::WriteText(RunDir(d) + "/Data1.txt", c.rows);
    RecordingHost host; // a resume let through could wait: the Exit button ends it after 3 s
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(3);
    host.OnPump = [&] { host.Pressed = host.Pressed || std::chrono::steady_clock::now() > until; };
    std::string err = StartError(d, std::move(host));
    EXPECT_TRUE(Holds(err, c.says) && Holds(err, c.andSays)) << err;
    EXPECT_EQ(Data1(d), c.rows);
    EXPECT_EQ(Key(d, "Stop_No"), c.stopNo);
  }
  IniWrite(Ini(d), "Traders", "LibraryProb", "0");
  // Stop_No one generation ahead, as a kill between the key and the checkpoint leaves it.
  IniWrite(Ini(d), "Common", "Stop_No", "6");
  test::WriteText(b1, good1);
  test::WriteText(RunDir(d) + "/Data1.txt", data1);
  RecordingHost trusted;
  trusted.PressExitAtGen = 6;
  RunResult r = RunIn(d, trusted, 12);
  ASSERT_EQ(r.End, RunEnd::Stopped) << r.Message;
  EXPECT_EQ(r.FirstGen, 5);
  EXPECT_EQ(trusted.FirstLine.rfind("Resuming from generation 5 ", 0), 0u) << trusted.FirstLine;

  // Damaged: cut in the middle of the trader arrays.
  const std::string now1 = test::ReadText(b1);
  test::WriteText(b1, now1.substr(0, now1.size() / 2));
  RecordingHost again;
  r = RunIn(d, again, 9);
  ASSERT_EQ(r.End, RunEnd::Finished) << r.Message;
  EXPECT_EQ(r.FirstGen, 5);
  EXPECT_EQ(again.FirstLine.rfind("Resuming from generation 5 of Backup11.txt", 0), 0u)
      << again.FirstLine;
  EXPECT_TRUE(Holds(again.FirstLine, "Backup1.txt: unexpected end of file"));
  EXPECT_EQ(RowGens(d), Range(1, 8));
  EXPECT_EQ(BackupGeneration(b11), 6); // rotation went on from the restored checkpoint
  ExpectLagsFollowThePrices(d);
}

// Wealth passes 1e58 in long runs, where fixed notation writes 60 digits and more.
TEST(Trust, ResumeBeyondTheFixedFieldKeepsEveryValue) {
  ExampleRun d({{"Gen_No", "6"}, {"G_Gap", "2"}});
  ASSERT_EQ(EndOf(d, 11, 3), RunEnd::Stopped);
  // Money and Wealth (1000 lines each) scaled to beyond 1e58.
  const std::string b1 = RunDir(d) + "/Backup1.txt";
  TextReader in("Backup1.txt", test::ReadText(b1));
  std::string out = in.ReadLine() + "\r\n";
  const int moneyAt = 20 + 1000 + 500 + 1000;
  std::vector<long double> expected;
  for (int line = 0; !in.Eof(); ++line) {
    std::string text = in.ReadLine();
    if (line >= moneyAt && line < moneyAt + 2000) {
      long double v = 0;
      ParseReal(text.substr(text.find_first_not_of(' ')), v);
      text = FormatFixed(v * 1e60L + line, 12, 5);
      ParseReal(text, v);
      expected.push_back(v);
    }
    out += text + "\r\n";
  }
  test::WriteText(b1, out);
  auto sim = std::make_unique<Simulation>();
  std::vector<long double> resumed;
  RecordingHost again;
  again.OnPump = [&] { // the state before the first booking of the resumed run
    if (!again.Log.empty()) return;
    resumed.assign(sim->T.Money.begin() + 1, sim->T.Money.end());
    resumed.insert(resumed.end(), sim->T.Wealth.begin() + 1, sim->T.Wealth.end());
  };
  FixedClock clock(4);
  RunResult r = RunSimulation(*sim, again, clock, Ini(d), d.Path() + "/");
  ASSERT_EQ(r.End, RunEnd::Finished) << r.Message;
  EXPECT_EQ(resumed, expected);
  EXPECT_EQ(RowGens(d), Range(1, 6));
  ExpectLagsFollowThePrices(d); // the stop checkpoint held the lags moved
}

// Start-ups refused, stopped or warned say why: a folder in use, a Ctrl-C during the start-up,
// doubtful inputs (accepted with one warning each).
TEST(Trust, StartUpsRefusedStoppedOrWarnedSayWhy) {
  ExampleRun d({{"Gen_No", "3"}});
  {
    RunLock first = RunLock::Acquire(d.Path());
    std::string err = StartError(d);
    EXPECT_TRUE(Holds(err, d.Path() + ": the run folder is in use by another run (process " +
                               std::to_string(::getpid()) + ")"))
        << err;
    EXPECT_EQ(RunCli({"--quiet", "--seed", "1", d.Path()}), 1); // another process: refused too
  }
  RecordingHost early;
  early.Pressed = true;
  RunResult stop = RunIn(d, early);
  EXPECT_EQ(stop.End, RunEnd::Stopped);
  EXPECT_TRUE(Holds(stop.Message, "during the start-up"));
  EXPECT_FALSE(fs::exists(RunDir(d) + "/Data1.txt"));
  EXPECT_EQ(Key(d, "Running"), "0");

  test::WriteText(RunDir(d) + "/Dstar.txt", "0.5\r\n0.25\r\n");
  test::WriteText(Ini(d), "\xEF\xBB\xBF" + test::ReadText(Ini(d)));
  RecordingHost host;
  RunResult r = RunIn(d, host);
  ASSERT_EQ(r.End, RunEnd::Finished) << r.Message;
  EXPECT_EQ(host.Warnings,
            std::vector<std::string>{RunDir(d) + "/Dstar.txt: the file holds 2 dividends, fewer "
                                                 "than Gen_No (3); later generations repeat the "
                                                 "last one"});
  EXPECT_EQ(test::ReadText(Ini(d)).rfind("\xEF\xBB\xBF[Common]", 0), 0u);
  EXPECT_EQ(Key(d, "Running"), "0"); // the keys were found under the mark

  RecordingHost low;
  low.DiskMB = 99.5;
  r = RunIn(d, low);
  EXPECT_EQ(r.End, RunEnd::Stopped);
  EXPECT_EQ(r.Message, "less than 100 MB is free on the run's disk (99.5 MB)");
  // The first stop check comes after generation 2.
  EXPECT_EQ(Key(d, "Stop_No") + Key(d, "Exit") + Key(d, "No_Memory"), "211");
  for (const char* seed : {"4294967296", "-1", "x"})
    EXPECT_EQ(RunCli({"--quiet", "--seed", seed, d.Path()}), 1) << seed;
  TempDir none; // no Zupo.ini
  EXPECT_EQ(RunCli({"--quiet", none.Path()}), 1);
}

} // namespace
} // namespace zupo
