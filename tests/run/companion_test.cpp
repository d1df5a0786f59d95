// The run's side of the companion: Mape.txt, the wait for the signal file, the restart.
#include <chrono>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <thread>
#include <tuple>
#include <unistd.h>

#include "core/errors.h"
#include "core/format.h"
#include "core/ini.h"
#include "run/companion.h"
#include "run/recording_host.h"
#include "testutil.h"

namespace zupo {
namespace {

namespace fs = std::filesystem;
using test::RecordingHost;
using test::TempDir;
using Steady = std::chrono::steady_clock;

class CompanionSide : public ::testing::Test {
protected:
  void SetUp() override {
    test::SetUpRunFolders(sim, d.Path());
    sim.IniFileName = d / "Zupo.ini";
    IniWrite(sim.IniFileName, "Common", "Exit", "0");
  }
  std::string Run(const std::string& name) const { return sim.P.Tree_Path1 + "/" + name; }
  // The companion's lock, held as a live companion holds it; close the result to let go.
  int HoldLock() const {
    int fd = ::open(Run(CompanionLockName).c_str(), O_RDWR | O_CREAT, 0644);
    EXPECT_EQ(::flock(fd, LOCK_EX), 0);
    return fd;
  }
  long Millis(Steady::time_point since) const {
    return static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(Steady::now() - since).count());
  }
  // Runs f after ms milliseconds on another thread.
  void Later(int ms, std::function<void()> f) {
    worker = std::thread([ms, f] {
      std::this_thread::sleep_for(std::chrono::milliseconds(ms));
      f();
    });
  }
  void TearDown() override {
    if (worker.joinable()) worker.join();
  }

  TempDir d;
  Simulation sim;
  RecordingHost host;
  std::thread worker;
};

std::string MapeLines(int n) {
  std::string s;
  for (int w = 1; w <= n; ++w) s += FormatFixed(w * 0.5L, 0, 3) + "  trailing text\r\n";
  return s;
}

TEST_F(CompanionSide, MapeIsReadToTheLastLineAndABadOneNamesFileAndLine) {
  test::WriteText(Run("Mape.txt"), MapeLines(500));
  ASSERT_TRUE(ReadMape(sim, host));
  EXPECT_EQ(std::tuple(sim.R.Mape[1], sim.R.Mape[500]), std::tuple(0.5, 250.0));
  std::string lines = MapeLines(500);
  auto replaceLine = [&](int w, const std::string& text) {
    size_t b = 0;
    for (int k = 1; k < w; ++k) b = lines.find("\r\n", b) + 2;
    return lines.substr(0, b) + text + lines.substr(lines.find("\r\n", b));
  };
  struct Case {
    std::string text, expected;
  } cases[] = {
      {MapeLines(499), "Mape.txt line 500: missing (500 error values expected, 499 found)"},
      {"", "Mape.txt line 1: missing"},
      {replaceLine(7, "abc 1.5"), "Mape.txt line 7: \"abc 1.5\" is not a number"},
      {replaceLine(3, ""), "Mape.txt line 3: \"\" is not a number"},
      {replaceLine(500, "1e40"), "Mape.txt line 500: 1e40 is out of range"},
  };
  for (const Case& c : cases) {
    test::WriteText(Run("Mape.txt"), c.text);
    try {
      ReadMape(sim, host);
      ADD_FAILURE() << "no error for " << c.expected;
    } catch (const RunError& e) {
      EXPECT_NE(std::string(e.what()).find(c.expected), std::string::npos) << e.what();
    }
  }
}

TEST_F(CompanionSide, WaitLastsUntilTheSignalFileIsGone) {
  std::string signal = Run("Gen4");
  test::WriteText(signal, "");
  auto start = Steady::now();
  Later(150, [signal] { fs::remove(signal); });
  WaitForCompanion(sim, host, signal);
  EXPECT_GE(Millis(start), 150);
  EXPECT_FALSE(sim.R.ExitRequested);
}

TEST_F(CompanionSide, ExitKeyOrButtonEndsTheWait) {
  std::string signal = Run("Gen4");
  test::WriteText(signal, "");
  Later(100, [&] { IniWrite(sim.IniFileName, "Common", "Exit", "1"); });
  WaitForCompanion(sim, host, signal);
  EXPECT_TRUE(sim.R.ExitRequested);
  EXPECT_TRUE(fs::exists(signal));
  worker.join();

  IniWrite(sim.IniFileName, "Common", "Exit", "0");
  sim.R.ExitRequested = false;
  host.Pressed = true; // the Exit button, or Ctrl-C at the terminal
  auto start = Steady::now();
  WaitForCompanion(sim, host, signal);
  EXPECT_TRUE(sim.R.ExitRequested);
  EXPECT_LT(Millis(start), 1000);
}

// A stand-in companion that serves every signal file and notes its environment.
void FakeCompanion(const TempDir& d) {
  test::WriteText(d / "ZupoAp", "#!/bin/sh\necho \"$ZUPO_RUN_PID\" >> started.txt\n"
                                "rm -f \"$(dirname \"$ZUPO_INI\")\"/run/Gen*\n");
  fs::permissions(d / "ZupoAp", fs::perms::owner_all);
}

TEST_F(CompanionSide, CompanionGoneIsStartedAgainAfterTheLimit) {
  FakeCompanion(d);
  std::string signal = Run("Gen9");
  test::WriteText(signal, "");
  CompanionLink link{d.Path(), sim.IniFileName};
  link.RestartAfter = std::chrono::milliseconds(300);
  auto start = Steady::now();
  WaitForCompanion(sim, host, signal, &link);
  EXPECT_GE(Millis(start), 300);
  EXPECT_FALSE(sim.R.ExitRequested);
  ASSERT_EQ(host.Warnings.size(), 1u);
  EXPECT_NE(host.Warnings[0].find(signal), std::string::npos) << host.Warnings[0];
  // The companion learns which run it serves.
  std::string started = test::ReadText(d / "started.txt");
  EXPECT_EQ(started.substr(0, started.find('\n')), std::to_string(::getpid()));
}

TEST_F(CompanionSide, LiveCompanionHoldingTheLockIsNotStartedAgain) {
  FakeCompanion(d);
  int fd = HoldLock();
  EXPECT_TRUE(CompanionLockHeld(Run(CompanionLockName)));
  std::string signal = Run("Gen9");
  test::WriteText(signal, "");
  CompanionLink link{d.Path(), sim.IniFileName};
  link.RestartAfter = std::chrono::milliseconds(50);
  Later(400, [signal] { fs::remove(signal); });
  WaitForCompanion(sim, host, signal, &link);
  ::close(fd);
  EXPECT_FALSE(fs::exists(d / "started.txt"));
  EXPECT_TRUE(host.Warnings.empty());
  EXPECT_FALSE(CompanionLockHeld(Run(CompanionLockName)));
}

TEST_F(CompanionSide, FinishedRunAwaitsTheLastServiceOfALiveCompanionOnly) {
  std::string signal = Run("Gen59");
  test::WriteText(signal, "");
  auto start = Steady::now();
  AwaitLastService(sim, host, signal); // nobody holds the lock: nobody will serve it
  EXPECT_LT(Millis(start), 1000);
  EXPECT_TRUE(fs::exists(signal));

  int fd = HoldLock();
  start = Steady::now();
  Later(150, [signal] { fs::remove(signal); });
  AwaitLastService(sim, host, signal);
  EXPECT_GE(Millis(start), 150);
  ::close(fd);
}

TEST_F(CompanionSide, LaunchClearsSignalFilesOfAnEarlierRun) {
  for (const char* f : {"Gen12", "Gen3", "Gen7", "Gen", "Genx", "Gen5.tmp", "Generation.txt"})
    test::WriteText(Run(f), "");
  EXPECT_EQ(SignalGenerations(sim.P.Tree_Path1), (std::vector<int>{3, 7, 12}));
  CompanionLink link{d.Path(), sim.IniFileName}; // no ZupoAp there: nothing is started
  EXPECT_EQ(LaunchCompanion(sim, link, Run("Gen7")),
            d / "ZupoAp" + ": No such file or directory");
  EXPECT_EQ(link.Pid, -1);
  EXPECT_EQ(SignalGenerations(sim.P.Tree_Path1), (std::vector<int>{7}));
  EXPECT_TRUE(fs::exists(Run("Gen5.tmp")));
}

} // namespace
} // namespace zupo
