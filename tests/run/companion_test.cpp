// The run's side of the companion: Mape.txt, the wait for the signal file, the restart.
#include <gtest/gtest.h>
#include <sys/file.h>
#include <tuple>

#include "core/format.h"
#include "e2e/e2e_util.h"
#include "run/companion.h"

namespace zupo {
namespace {

using namespace e2e;
using Steady = std::chrono::steady_clock;
using namespace std::chrono_literals;

class CompanionSide : public ::testing::Test {
protected:
  void SetUp() override {
    test::SetUpRunFolders(sim, d.Path());
    sim.IniFileName = d / "Zupo.ini";
    IniWrite(sim.IniFileName, "Common", "Exit", "0");
    test::WriteText(signal, "");
  }
  std::string Run(const std::string& name) const { return sim.P.Tree_Path1 + "/" + name; }
  // A stand-in companion in d that serves every signal file and notes where and how it ran.
  void FakeCompanion() const {
    test::WriteText(d / "ZupoAp", "#!/bin/sh\n{ pwd; echo \"$ZUPO_INI\"; echo $#; "
                                  "echo \"$ZUPO_RUN_PID\"; } >> started.txt\n"
                                  "rm -f \"$(dirname \"$ZUPO_INI\")\"/run/Gen*\n");
    fs::permissions(d / "ZupoAp", fs::perms::owner_all);
  }

  TempDir d;
  Simulation sim;
  RecordingHost host;
  const std::string signal = d / "run/Gen9";
};

// n lines of errors 0.5, 1.0, ...; line bad holds text instead.
std::string MapeLines(int n, int bad = 0, const std::string& text = "") {
  std::string s;
  for (int w = 1; w <= n; ++w)
    s += (w == bad ? text : FormatFixed(w * 0.5L, 0, 3) + "  trailing text") + "\r\n";
  return s;
}

TEST_F(CompanionSide, MapeIsReadToTheLastLineAndABadOneNamesFileAndLine) {
  test::WriteText(Run("Mape.txt"), MapeLines(500));
  ASSERT_TRUE(ReadMape(sim, host));
  EXPECT_EQ(std::tuple(sim.R.Mape[1], sim.R.Mape[500]), std::tuple(0.5, 250.0));
  const std::pair<std::string, std::string> cases[] = {
      {MapeLines(499), "Mape.txt line 500: missing (500 error values expected, 499 found)"},
      {"", "Mape.txt line 1: missing"},
      {MapeLines(500, 3), "Mape.txt line 3: \"\" is not a number"},
      {MapeLines(500, 500, "1e40"), "Mape.txt line 500: 1e40 is out of range"},
  };
  for (const auto& [text, expected] : cases) {
    test::WriteText(Run("Mape.txt"), text);
    EXPECT_TRUE(test::FailsNaming([&] { ReadMape(sim, host); }, expected)) << expected;
  }
}

// A companion that holds its lock is alive and is waited for, without a word; once gone it is
// started again after the limit, with one warning. A finished run does not wait for the last
// service when nobody holds the lock.
TEST_F(CompanionSide, LiveCompanionIsWaitedForAndOneGoneStartedAgainAfterTheLimit) {
  auto start = Steady::now();
  AwaitLastService(sim, host, signal);
  EXPECT_LT(Steady::now() - start, 1s);

  FakeCompanion();
  CompanionLink link{d.Path(), sim.IniFileName};
  link.RestartAfter = 300ms;
  int fd = ::open(Run(CompanionLockName).c_str(), O_RDWR | O_CREAT, 0644);
  ASSERT_EQ(::flock(fd, LOCK_EX), 0); // as a live companion holds it
  std::thread serve([this] {
    std::this_thread::sleep_for(600ms);
    fs::remove(signal);
  });
  start = Steady::now();
  WaitForCompanion(sim, host, signal, &link);
  EXPECT_GE(Steady::now() - start, 600ms);
  serve.join();
  ::close(fd);
  EXPECT_FALSE(fs::exists(d / "started.txt"));
  EXPECT_TRUE(host.Warnings.empty());

  test::WriteText(signal, "");
  start = Steady::now();
  WaitForCompanion(sim, host, signal, &link);
  EXPECT_GE(Steady::now() - start, 300ms);
  EXPECT_FALSE(sim.R.ExitRequested);
  ASSERT_EQ(host.Warnings.size(), 1u);
  EXPECT_TRUE(Holds(host.Warnings[0], signal)) << host.Warnings[0];
  // Started in the folder of Zupo.ini, without arguments, told which run it serves.
  std::string real = fs::canonical(d.Path()).string();
  EXPECT_EQ(test::ReadText(d / "started.txt"),
            real + "\n" + real + "/Zupo.ini\n0\n" + std::to_string(::getpid()) + "\n");
}

TEST_F(CompanionSide, LaunchClearsSignalFilesOfAnEarlierRun) {
  for (const char* f : {"Gen12", "Gen3", "Gen7", "Gen", "Genx", "Gen5.tmp", "Generation.txt"})
    test::WriteText(Run(f), "");
  EXPECT_EQ(SignalGenerations(sim.P.Tree_Path1), (std::vector<int>{3, 7, 9, 12}));
  CompanionLink link{d.Path(), sim.IniFileName}; // no ZupoAp there: nothing is started
  EXPECT_EQ(LaunchCompanion(sim, link, Run("Gen7")), d / "ZupoAp" + ": No such file or directory");
  EXPECT_EQ(SignalGenerations(sim.P.Tree_Path1), (std::vector<int>{7}));
  EXPECT_TRUE(fs::exists(Run("Gen5.tmp")));
}

} // namespace
} // namespace zupo
