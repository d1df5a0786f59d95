// Whole runs that are interrupted, resumed, damaged or started twice: nothing lost, nothing
// silently wrong, every refusal explained.
#include <chrono>
#include <gtest/gtest.h>

#include "core/errors.h"
#include "core/format.h"
#include "core/textio.h"
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
std::string StartError(const TempDir& d) {
  RecordingHost host;
  try {
    RunIn(d, host);
  } catch (const RunError& e) {
    return e.what();
  }
  return "";
}

// The lags a finished run leaves in the data file are the prices of its last generations:
// P(t+1) of rows G-1, G-2, G-3 (a resumed run that never moved its lags again fails this).
void ExpectLagsFollowThePrices(const TempDir& d) {
  TextReader rows("Data1.txt", Data1(d));
  rows.ReadLine();
  std::vector<long double> prices;
  while (!rows.Eof()) {
    rows.ReadReal();
    prices.push_back(rows.ReadReal());
    rows.SkipLine();
  }
  TextReader lags("Data.txt", test::ReadText(d / "Data.txt"));
  ASSERT_GE(prices.size(), 4u);
  for (size_t k = 1; k <= 3; ++k)
    EXPECT_EQ(FormatFixed(lags.ReadReal(), 7, 3), FormatFixed(prices[prices.size() - 1 - k], 7, 3))
        << "lag " << k;
}

// Generation 1 orders only its own half of the trader order, so the checkpoint at the top of
// generation 2 holds a half of zeros; a run ended there resumes.
TEST(Trust, RunEndedInGenerationTwoResumes) {
  TempDir d;
  Prepare(d, {{"Gen_No", "6"}, {"G_Gap", "0"}});
  ASSERT_EQ(EndOf(d), RunEnd::Failed);
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
  TempDir d;
  Prepare(d, {{"Gen_No", "2"}});
  ASSERT_EQ(EndOf(d), RunEnd::Finished);
  const std::string data1 = Data1(d), data2 = test::ReadText(RunDir(d) + "/Data2.txt");
  const std::string dimA = test::ReadText(d / "DimA.txt");
  struct Case {
    const char* file;
    std::string text;
    std::string says;
  } cases[] = {
      {"DimA.txt", dimA.substr(0, 500), "DimA.txt: unexpected end of file"},
      {"DimA.txt", " 2.0E+0039\r\n" + dimA, "DimA.txt: floating-point overflow: \"2.0E+0039\""},
      {"Data.txt", "80 1e99999\r\n", "Data.txt: floating-point overflow"},
      {"run/Dstar.txt", "", "Dstar.txt: not a regular file"}, // made a folder below
      {"Zupo.ini", "", "ExData_File: the key is empty, but Extra_Var names 1 extra variables"}};
  for (const Case& c : cases) {
    TempDir e;
    Prepare(e, {});
    fs::copy(d.Path(), e.Path(),
             fs::copy_options::recursive | fs::copy_options::overwrite_existing);
    if (std::string(c.file) == "Zupo.ini")
      IniWrite(Ini(e), "Common", "Extra_Var", "V1\\");
    else if (std::string(c.file) == "run/Dstar.txt")
      fs::remove(e / c.file), fs::create_directory(e / c.file);
    else
      test::WriteText(e / c.file, c.text);
    std::string err = StartError(e);
    EXPECT_NE(err.find(c.says), std::string::npos) << c.says << " | " << err;
    EXPECT_EQ(Data1(e), data1) << c.says;
    EXPECT_EQ(test::ReadText(RunDir(e) + "/Data2.txt"), data2) << c.says;
  }
}

// The library switched on in the middle of a run: the resume would wait for ever for a Mape.txt
// that no companion is asked to write. It is refused before any file changes, and the run
// resumes as it was started.
TEST(Trust, LibrarySwitchedOnInTheMiddleOfARunIsRefused) {
  TempDir d;
  Prepare(d, {{"Gen_No", "8"}});
  ASSERT_EQ(EndOf(d, 11, 5), RunEnd::Stopped);
  const std::string rows = Data1(d);
  IniWrite(Ini(d), "Traders", "LibraryProb", "30");
  // A resume let through would wait for Mape.txt: the Exit button ends that wait after 3 s.
  RecordingHost host;
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(3);
  host.OnPump = [&] { host.Pressed = host.Pressed || std::chrono::steady_clock::now() > until; };
  std::string err = "resumed";
  try {
    RunIn(d, host);
  } catch (const RunError& e) {
    err = e.what();
  }
  EXPECT_EQ(err.rfind(RunDir(d) + "/Mape.txt is missing, and no signal file (" + RunDir(d) +
                          "/Gen4) asks",
                      0),
            0u)
      << err;
  EXPECT_NE(err.find("LibraryProb 30"), std::string::npos) << err;
  EXPECT_EQ(Data1(d), rows);
  EXPECT_EQ(Key(d, "Stop_No"), "5");
  IniWrite(Ini(d), "Traders", "LibraryProb", "0");
  ASSERT_EQ(EndOf(d), RunEnd::Finished);
  EXPECT_EQ(RowGens(d), Range(1, 8));
}

// A second run on a folder in use ends at once, naming the folder and the holder; the folder's
// files are those of the first run.
TEST(Trust, SecondRunOnTheSameFolderIsRefused) {
  TempDir d;
  Prepare(d, {{"Gen_No", "3"}});
  RunLock first = RunLock::Acquire(d.Path());
  std::string err = StartError(d);
  EXPECT_NE(err.find(d.Path() + ": the run folder is in use by another run (process " +
                     std::to_string(::getpid()) + ")"),
            std::string::npos)
      << err;
  EXPECT_FALSE(fs::exists(RunDir(d) + "/Data1.txt"));
  EXPECT_EQ(RunCli({"--quiet", "--seed", "1", d.Path()}), 1); // another process: refused too
  first = RunLock();
  EXPECT_EQ(RunCli({"--quiet", "--seed", "1", d.Path()}), 0);
  EXPECT_EQ(RowGens(d), Range(1, 3));
}

// Backup1.txt damaged: the run resumes from Backup11.txt, says so first, and repeats nothing.
// A checkpoint that does not belong to the run is refused and the run files stay as they are.
TEST(Trust, DamagedCheckpointFallsBackAndAForeignOneIsRefused) {
  TempDir d;
  Prepare(d, {{"Gen_No", "8"}, {"G_Gap", "2"}});
  ASSERT_EQ(EndOf(d, 11, 5), RunEnd::Stopped);
  const std::string b1 = RunDir(d) + "/Backup1.txt", b11 = RunDir(d) + "/Backup11.txt";
  ASSERT_EQ(std::pair(BackupGeneration(b1), BackupGeneration(b11)), std::pair(5, 4));
  const std::string good1 = test::ReadText(b1), data1 = Data1(d);

  const std::string upTo3 = data1.substr(0, data1.find("\r\n    4") + 2);
  struct Refusal {
    std::string stopNo, backup1, rows, says, andSays;
  } refusals[] = {
      {"9", good1, data1, "Backup1.txt holds generation 5, but Stop_No is 9", "not resumed"},
      {"4", good1, data1, "Backup1.txt holds generation 5, but Stop_No is 4", "not resumed"},
      // Backup1.txt unreadable, and Backup11.txt three generations behind Stop_No.
      {"7", "damaged\r\n", data1, "Backup1.txt: the first line is not a checkpoint's",
       "Backup11.txt holds generation 4, but Stop_No is 7"},
      // Rows that end before the checkpoint: resuming would leave a gap.
      {"5", good1, upTo3, "later than the last row of Data1.txt (3)", "not resumed"}};
  for (const Refusal& c : refusals) {
    IniWrite(Ini(d), "Common", "Stop_No", c.stopNo);
    test::WriteText(b1, c.backup1);
    test::WriteText(RunDir(d) + "/Data1.txt", c.rows);
    std::string err = StartError(d);
    EXPECT_NE(err.find(c.says), std::string::npos) << err;
    EXPECT_NE(err.find(c.andSays), std::string::npos) << err;
    EXPECT_EQ(Data1(d), c.rows);
  }
  IniWrite(Ini(d), "Common", "Stop_No", "5");
  test::WriteText(RunDir(d) + "/Data1.txt", data1);

  // Damaged: cut in the middle of the trader arrays.
  test::WriteText(b1, good1.substr(0, good1.size() / 2));
  RecordingHost again;
  RunResult r = RunIn(d, again, 9);
  ASSERT_EQ(r.End, RunEnd::Finished) << r.Message;
  EXPECT_EQ(r.FirstGen, 4);
  EXPECT_EQ(again.FirstLine.rfind("Resuming from generation 4 of Backup11.txt", 0), 0u)
      << again.FirstLine;
  EXPECT_NE(again.FirstLine.find("Backup1.txt: unexpected end of file"), std::string::npos);
  EXPECT_EQ(RowGens(d), Range(1, 8));
  EXPECT_EQ(BackupGeneration(b11), 6); // rotation went on from the restored checkpoint
  ExpectLagsFollowThePrices(d);
}

// Wealth passes 1e58 in long runs; fixed notation then writes 60 digits and more. The resumed
// run must start from exactly the values in the checkpoint.
TEST(Trust, ResumeBeyondTheFixedFieldKeepsEveryValue) {
  TempDir d;
  Prepare(d, {{"Gen_No", "6"}, {"G_Gap", "2"}});
  ASSERT_EQ(EndOf(d, 11, 3), RunEnd::Stopped);
  // Scale Money and Wealth (1000 lines each) to beyond 1e58.
  const std::string b1 = RunDir(d) + "/Backup1.txt";
  TextReader in("Backup1.txt", test::ReadText(b1));
  std::string out = in.ReadLine() + "\r\n";
  const int moneyAt = 20 + 1000 + 500 + 1000, wealthEnd = moneyAt + 2000;
  std::vector<long double> expected;
  for (int line = 0; !in.Eof(); ++line) {
    std::string text = in.ReadLine();
    if (line >= moneyAt && line < wealthEnd) {
      long double v = 0;
      ParseReal(text.substr(text.find_first_not_of(' ')), v);
      v = v * 1e60L + line;
      text = FormatFixed(v, 12, 5);
      ParseReal(text, v);
      expected.push_back(v);
    }
    out += text + "\r\n";
  }
  test::WriteText(b1, out);
  auto sim = std::make_unique<Simulation>();
  std::vector<long double> resumed;
  RecordingHost again;
  // The state as it stands at the last message pump before the first log line of the resumed
  // run, that is before its first booking.
  again.OnPump = [&] {
    if (!again.Log.empty()) return;
    resumed.clear();
    for (int k = 1; k <= 1000; ++k) resumed.push_back(sim->T.Money[k]);
    for (int k = 1; k <= 1000; ++k) resumed.push_back(sim->T.Wealth[k]);
  };
  FixedClock clock(4);
  RunResult r = RunSimulation(*sim, again, clock, Ini(d), d.Path() + "/");
  ASSERT_EQ(r.End, RunEnd::Finished) << r.Message;
  ASSERT_EQ(resumed.size(), expected.size());
  EXPECT_EQ(resumed, expected);
  EXPECT_GT(expected[1500], 1e58L);
  EXPECT_EQ(RowGens(d), Range(1, 6));
  ExpectLagsFollowThePrices(d); // the stop checkpoint held the lags moved
}

// Accepted with one warning each at start-up, naming the key and the value.
TEST(Trust, DoubtfulInputsAreAcceptedWithAWarning) {
  TempDir d;
  Prepare(d, {{"Gen_No", "3"}});
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
}

TEST(Trust, StopsAndRefusalsSayWhy) {
  TempDir d;
  Prepare(d, {{"Gen_No", "5"}});
  // Ctrl-C during the start-up stops the program there: no generation, no result file.
  RecordingHost early;
  early.Pressed = true;
  RunResult stop = RunIn(d, early);
  EXPECT_EQ(stop.End, RunEnd::Stopped);
  EXPECT_NE(stop.Message.find("during the start-up"), std::string::npos);
  EXPECT_FALSE(fs::exists(RunDir(d) + "/Data1.txt"));
  EXPECT_EQ(Key(d, "Running"), "0");

  RecordingHost host;
  host.DiskMB = 99.5;
  RunResult r = RunIn(d, host);
  EXPECT_EQ(r.End, RunEnd::Stopped);
  EXPECT_EQ(r.Message, "less than 100 MB is free on the run's disk (99.5 MB)");
  // The first stop check comes after generation 2.
  EXPECT_EQ(Key(d, "Stop_No") + Key(d, "Exit") + Key(d, "No_Memory"), "211");
  for (const char* seed : {"4294967296", "-1", "x"})
    EXPECT_EQ(RunCli({"--quiet", "--seed", seed, d.Path()}), 1) << seed;
}

} // namespace
} // namespace zupo
