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
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "core/format.h"
#include "core/ini.h"
#include "core/paths.h"
#include "run/driver.h"
#include "run/recording_host.h"
#include "testutil.h"

namespace zupo {
namespace {

namespace fs = std::filesystem;
using test::RecordingHost;
using test::TempDir;

std::string Ini(const TempDir& d) {
  return d / "Zupo.ini";
}
std::string RunDir(const TempDir& d) {
  return d / "run";
}

// A copy of the example run folder with some keys changed.
void Prepare(const TempDir& d, const std::map<std::string, std::string>& keys) {
  fs::copy(ZUPO_SOURCE_DIR "/examples/default", d.Path(),
           fs::copy_options::recursive | fs::copy_options::overwrite_existing);
  static const std::map<std::string, std::string> section = {
      {"Gen_No", "Traders"},   {"G_Gap", "Traders"},     {"LibraryProb", "Traders"},
      {"TryNo", "Traders"},    {"Stop_No", "Common"},    {"Do_Dim", "Common"},
      {"Extra_Var", "Common"}, {"ExData_File", "Common"}};
  for (const auto& [k, v] : keys) IniWrite(Ini(d), section.at(k), k, v);
}

RunResult RunIn(const TempDir& d, RecordingHost& host, uint32_t seed = 11) {
  FixedClock clock(seed);
  auto sim = std::make_unique<Simulation>();
  return RunSimulation(*sim, host, clock, Ini(d), d.Path() + "/");
}

std::string Key(const TempDir& d, const std::string& key) {
  return ReadIniStr("Common", key, Ini(d));
}

// The generation numbers of the rows of Data1.txt, in file order.
std::vector<int> RowGens(const TempDir& d) {
  TextReader in = TextReader::Open(RunDir(d) + "/Data1.txt");
  in.ReadLine(); // header
  std::vector<int> gens;
  while (!in.Eof()) gens.push_back(std::stoi(in.ReadLine().substr(0, 5)));
  return gens;
}

std::vector<int> Range(int from, int to) {
  std::vector<int> v;
  for (int g = from; g <= to; ++g) v.push_back(g);
  return v;
}

int CountLines(const std::string& text) {
  int n = 0;
  for (size_t p = 0; (p = text.find("\r\n", p)) != std::string::npos; p += 2) ++n;
  return n;
}

bool Exists(const std::string& p) {
  return fs::exists(p);
}

TEST(EndToEnd, FreshRunWritesEveryFileInItsFormat) {
  TempDir d;
  Prepare(d, {{"Gen_No", "4"}, {"G_Gap", "3"}});
  RecordingHost host;
  RunResult r = RunIn(d, host);
  ASSERT_EQ(r.End, RunEnd::Finished) << r.Message;
  EXPECT_EQ(r.LastGen, 4);
  EXPECT_EQ(Key(d, "Stop_No"), "0");
  EXPECT_EQ(Key(d, "Running"), "0");
  EXPECT_EQ(Key(d, "Exit"), "0");

  std::string data1 = test::ReadText(RunDir(d) + "/Data1.txt");
  EXPECT_EQ(data1.find("GEN          P(t+1)    D(t+1) BuyNo"), 0u);
  EXPECT_EQ(data1.find("\r\n"), 298u);
  EXPECT_EQ(RowGens(d), Range(1, 4));
  std::string data2 = test::ReadText(RunDir(d) + "/Data2.txt");
  EXPECT_EQ(data2.rfind("Generation:1\r\n", 0), 0u);
  EXPECT_EQ(CountLines(data2), 501);

  // Checkpoints of the last two loop generations (written at their top).
  EXPECT_EQ(test::ReadText(RunDir(d) + "/Backup1.txt").rfind("GEN=3  First=", 0), 0u);
  EXPECT_EQ(test::ReadText(RunDir(d) + "/Backup11.txt").rfind("GEN=2  First=", 0), 0u);
  EXPECT_EQ(CountLines(test::ReadText(RunDir(d) + "/Backup1.txt")), 8840 + 10 + 10);
  EXPECT_FALSE(Exists(RunDir(d) + "/Backup1.txt.tmp"));

  // One report per generation, Best(t+1); the two halves of model files.
  for (int g = 2; g <= 5; ++g)
    EXPECT_TRUE(Exists(RunDir(d) + "/0/Best000" + std::to_string(g) + ".dat")) << g;
  EXPECT_TRUE(Exists(RunDir(d) + "/0/T0001.dat"));
  EXPECT_TRUE(Exists(RunDir(d) + "/5/T0500.dat"));
  EXPECT_TRUE(Exists(RunDir(d) + "/9/T1000.dat"));
  for (int digit = 0; digit <= 9; ++digit)
    EXPECT_TRUE(fs::is_directory(d / ("lib/" + std::to_string(digit))));

  // G_Gap 3: generation 2 writes History1, generation 4 Historyk (3 writes neither).
  for (const char* suffix : {"h", "w", "m", "s", "v", "f"}) {
    EXPECT_EQ(CountLines(test::ReadText(RunDir(d) + "/History1." + suffix)), 500) << suffix;
    EXPECT_TRUE(Exists(RunDir(d) + "/Historyk." + suffix)) << suffix;
  }

  // The data file holds the final lags in 7.3 form; the windows are rewritten.
  std::string data = test::ReadText(d / "Data.txt");
  EXPECT_EQ(CountLines(data), 1);
  EXPECT_EQ(data.size(), 2u * 10 * 9 + 2);
  EXPECT_NE(data.substr(0, 9).find('.'), std::string::npos);
  std::string dimA = test::ReadText(d / "DimA.txt");
  EXPECT_EQ(dimA.size(), 111u * 25);

  // The log: the first line replaced, then numbered lines.
  EXPECT_EQ(host.FirstLine, "Processing Generation        1 ");
  ASSERT_GE(host.Log.size(), 7u);
  EXPECT_EQ(host.Log[0].rfind("1: P(t+1) =  ", 0), 0u);
  EXPECT_EQ(host.Log[1], "2: Processing Generation     2");
  ASSERT_EQ(host.Points.size(), 4u);
  EXPECT_EQ(host.Points[3].first, 4);
  EXPECT_TRUE(host.Warnings.empty());
}

// A small seeded run compared with the files kept in tests/e2e/expected. After an intended
// change of the results, ZUPO_UPDATE_EXPECTED=1 rewrites them (review the difference!).
TEST(EndToEnd, SeededRunMatchesTheKeptExpectedFiles) {
  TempDir d;
  Prepare(d, {{"Gen_No", "4"}, {"G_Gap", "2"}});
  RecordingHost host;
  ASSERT_EQ(RunIn(d, host, 7).End, RunEnd::Finished);
  const std::string expected = ZUPO_SOURCE_DIR "/tests/e2e/expected/";
  const std::vector<std::pair<std::string, std::string>> files = {
      {RunDir(d) + "/Data1.txt", "Data1.txt"},
      {RunDir(d) + "/0/Best0005.dat", "Best0005.dat"},
      {RunDir(d) + "/History1.w", "History1.w"},
      {d / "Data.txt", "Data.txt"}};
  bool update = std::getenv("ZUPO_UPDATE_EXPECTED") != nullptr;
  for (const auto& [produced, kept] : files) {
    if (update) test::WriteText(expected + kept, test::ReadText(produced));
    EXPECT_EQ(test::ReadText(produced), test::ReadText(expected + kept)) << kept;
  }
}

TEST(EndToEnd, SameSeedGivesByteIdenticalFiles) {
  TempDir a, b;
  for (const TempDir* d : {&a, &b}) {
    Prepare(*d, {{"Gen_No", "4"}, {"G_Gap", "2"}});
    RecordingHost host;
    ASSERT_EQ(RunIn(*d, host, 99).End, RunEnd::Finished);
  }
  for (const char* f :
       {"/Data1.txt", "/Data2.txt", "/Backup1.txt", "/Backup11.txt", "/0/T0001.dat", "/0/T0077.dat",
        "/3/T0345.dat", "/9/T0999.dat", "/0/Best0005.dat", "/History1.w", "/Historyk.v"})
    EXPECT_EQ(test::ReadText(RunDir(a) + f), test::ReadText(RunDir(b) + f)) << f;
  EXPECT_EQ(test::ReadText(a / "Data.txt"), test::ReadText(b / "Data.txt"));
}

TEST(EndToEnd, ExitButtonStopsWithCheckpointAndResumeContinues) {
  TempDir d;
  Prepare(d, {{"Gen_No", "7"}, {"G_Gap", "2"}});
  RecordingHost host;
  host.PressExitAtGen = 4;
  RunResult r = RunIn(d, host);
  ASSERT_EQ(r.End, RunEnd::Stopped) << r.Message;
  EXPECT_EQ(r.LastGen, 4);
  EXPECT_EQ(Key(d, "Stop_No"), "4");
  EXPECT_EQ(Key(d, "Exit"), "1");
  EXPECT_EQ(Key(d, "No_Memory"), "1");
  EXPECT_EQ(Key(d, "Running"), "0");
  EXPECT_EQ(test::ReadText(RunDir(d) + "/Backup1.txt").rfind("GEN=4  First=", 0), 0u);
  EXPECT_EQ(RowGens(d), Range(1, 4));

  RecordingHost again;
  RunResult r2 = RunIn(d, again, 12);
  ASSERT_EQ(r2.End, RunEnd::Finished) << r2.Message;
  EXPECT_EQ(r2.FirstGen, 4);
  EXPECT_EQ(RowGens(d), Range(1, 7));
  ASSERT_FALSE(again.Points.empty());
  EXPECT_EQ(again.Points.front().first, 5);
  EXPECT_EQ(Key(d, "Stop_No"), "0");
}

TEST(EndToEnd, ResumeTrustsTheCheckpointOverAStopNoWrittenAhead) {
  TempDir d;
  Prepare(d, {{"Gen_No", "6"}, {"G_Gap", "2"}});
  RecordingHost host;
  host.PressExitAtGen = 4;
  ASSERT_EQ(RunIn(d, host).End, RunEnd::Stopped);
  // A kill between the key and the checkpoint file leaves Stop_No one generation ahead.
  IniWrite(Ini(d), "Common", "Stop_No", "5");
  RecordingHost again;
  RunResult r = RunIn(d, again);
  ASSERT_EQ(r.End, RunEnd::Finished) << r.Message;
  EXPECT_EQ(r.FirstGen, 4);
  EXPECT_NE(again.FirstLine.find("Resuming from generation 4"), std::string::npos);
  EXPECT_EQ(RowGens(d), Range(1, 6));
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

TEST(EndToEnd, GenNoOfOneRunsOnlyTheInitialGeneration) {
  TempDir d;
  Prepare(d, {{"Gen_No", "1"}});
  std::string before = test::ReadText(d / "Data.txt");
  RecordingHost host;
  ASSERT_EQ(RunIn(d, host).End, RunEnd::Finished);
  EXPECT_EQ(RowGens(d), Range(1, 1));
  EXPECT_EQ(Key(d, "Stop_No"), "0");
  EXPECT_FALSE(Exists(RunDir(d) + "/Backup1.txt"));
  // Rewritten with the initial lags in 7.3 form (same values, the run's own spacing).
  std::string after = test::ReadText(d / "Data.txt");
  EXPECT_EQ(after.substr(0, 7), before.substr(0, 7));
}

TEST(EndToEnd, ResumeAtOrAfterGenNoEndsAsFinished) {
  TempDir d;
  Prepare(d, {{"Gen_No", "5"}, {"G_Gap", "2"}});
  RecordingHost host;
  host.PressExitAtGen = 3;
  ASSERT_EQ(RunIn(d, host).End, RunEnd::Stopped);
  IniWrite(Ini(d), "Traders", "Gen_No", "3");
  RecordingHost again;
  RunResult r = RunIn(d, again);
  ASSERT_EQ(r.End, RunEnd::Finished) << r.Message;
  EXPECT_TRUE(again.Points.empty());
  EXPECT_EQ(Key(d, "Stop_No"), "0");
  EXPECT_EQ(RowGens(d), Range(1, 3));
}

TEST(EndToEnd, LearningPeriodDecidesWhichSnapshotsAreWritten) {
  struct Case {
    const char* gap;
    bool k, one;
  };
  for (Case c : {Case{"1", true, false}, Case{"2", true, true}, Case{"3", false, true}}) {
    TempDir d;
    Prepare(d, {{"Gen_No", "3"}, {"G_Gap", c.gap}});
    RecordingHost host;
    ASSERT_EQ(RunIn(d, host).End, RunEnd::Finished) << c.gap;
    EXPECT_EQ(Exists(RunDir(d) + "/Historyk.h"), c.k) << "G_Gap " << c.gap;
    EXPECT_EQ(Exists(RunDir(d) + "/Historyk.f"), c.k) << "G_Gap " << c.gap;
    EXPECT_EQ(Exists(RunDir(d) + "/History1.h"), c.one) << "G_Gap " << c.gap;
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
  std::atomic<int> Served{0};

private:
  void Loop() {
    while (!done_) {
      for (int g = 1; g <= 50; ++g) {
        std::string sig = d_.Path() + "/run/Gen" + std::to_string(g);
        if (!fs::exists(sig)) continue;
        if (g == stopAt_) {
          SetExitKey();
          continue;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        test::WriteText(d_.Path() + "/run/Mape.txt", mape_);
        fs::remove(sig);
        ++Served;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
  }
  // The companion is another process: it replaces the file under a temporary name of its own.
  void SetExitKey() {
    std::string ini = d_.Path() + "/Zupo.ini";
    std::string text = test::ReadText(ini);
    size_t at = text.find("Exit=0");
    if (at == std::string::npos) return;
    text.replace(at, 6, "Exit=1");
    test::WriteText(ini + ".companion", text);
    fs::rename(ini + ".companion", ini);
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
  EXPECT_FALSE(Exists(RunDir(d) + "/Gen0"));
  EXPECT_GT(waitingPumps, 0);
  EXPECT_GE(companion.Served.load(), 4);
  // The stop came from the Exit key while the loop generation after 6 waited for generation 5's
  // signal file: before the raise, so the checkpoint names generation 6 (its top checkpoint is
  // kept) and No_Memory is not written.
  EXPECT_EQ(Key(d, "Stop_No"), "6");
  EXPECT_EQ(Key(d, "Running"), "0");
  EXPECT_NE(Key(d, "No_Memory"), "1");
  EXPECT_EQ(test::ReadText(RunDir(d) + "/Backup1.txt").rfind("GEN=6  First=", 0), 0u);
  EXPECT_EQ(RowGens(d), Range(1, 6));
  // VisitLibNo (the last column) is 0 in generations 1 and 2 and positive from 3 on.
  TextReader in = TextReader::Open(RunDir(d) + "/Data1.txt");
  in.ReadLine();
  for (int g = 1; g <= 6; ++g) {
    std::string row = in.ReadLine();
    int visitLib = std::stoi(row.substr(row.size() - 3));
    if (g <= 2) {
      EXPECT_EQ(visitLib, 0) << row;
    } else {
      EXPECT_GT(visitLib, 0) << row;
    }
  }
}

// zupo-cli as a child process.
int RunCli(const std::vector<std::string>& args, pid_t* started = nullptr) {
  pid_t pid = ::fork();
  if (pid == 0) {
    std::vector<char*> argv;
    std::string prog = ZUPO_CLI;
    argv.push_back(prog.data());
    std::vector<std::string> copy = args;
    for (auto& a : copy) argv.push_back(a.data());
    argv.push_back(nullptr);
    int null = ::open("/dev/null", O_WRONLY);
    ::dup2(null, 1);
    ::dup2(null, 2);
    ::execv(prog.c_str(), argv.data());
    ::_exit(127);
  }
  if (started) {
    *started = pid;
    return 0;
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(EndToEnd, CliKilledInTheMiddleResumesWithoutGapOrRepeat) {
  TempDir d;
  Prepare(d, {{"Gen_No", "10"}, {"G_Gap", "2"}});
  pid_t pid = 0;
  RunCli({"--seed", "3", "--quiet", d.Path()}, &pid);
  // Kill it once a few rows are there, in the middle of whatever it is doing.
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
  while (std::chrono::steady_clock::now() < deadline) {
    std::string p = RunDir(d) + "/Data1.txt";
    if (fs::exists(p) && CountLines(test::ReadText(p)) >= 5) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(3));
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(7));
  ::kill(pid, SIGKILL);
  int status = 0;
  ::waitpid(pid, &status, 0);
  ASSERT_TRUE(WIFSIGNALED(status)) << "the run ended before it could be killed";
  EXPECT_EQ(Key(d, "Running"), "1");

  EXPECT_EQ(RunCli({"--seed", "4", "--quiet", d.Path()}), 0);
  EXPECT_EQ(RowGens(d), Range(1, 10));
  EXPECT_EQ(Key(d, "Stop_No"), "0");
  std::string data2 = test::ReadText(RunDir(d) + "/Data2.txt");
  EXPECT_EQ(CountLines(data2), 501); // the dump of generation 1, once
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
