// The life of the companion: its lock, the signal files it serves, the ends it notices.
#include <atomic>
#include <chrono>
#include <filesystem>
#include <future>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include "core/ini.h"
#include "library/service.h"
#include "run/companion.h"
#include "testutil.h"

namespace zupo {
namespace {

namespace fs = std::filesystem;
using test::TempDir;
using namespace std::chrono_literals;

class CompanionLife : public ::testing::Test {
protected:
  void SetUp() override {
    fs::copy(ZUPO_SOURCE_DIR "/examples/default", d.Path(),
             fs::copy_options::recursive | fs::copy_options::overwrite_existing);
    for (int k = 0; k <= 9; ++k) fs::create_directories(d / ("run/" + std::to_string(k)));
    IniWrite(Ini(), "Common", "Running", "1");
    opt.IniFile = Ini();
    opt.RunPid = ::getpid();
    opt.PollMs = 20;
  }
  std::string Ini() const { return d / "Zupo.ini"; }
  std::string Log() const {
    return fs::exists(d / "run/ZupoAp.log") ? test::ReadText(d / "run/ZupoAp.log") : "";
  }
  bool Logged(const std::string& text) const { return Log().find(text) != std::string::npos; }
  template <class F> static bool Within(std::chrono::milliseconds limit, F cond) {
    auto until = std::chrono::steady_clock::now() + limit;
    while (!cond() && std::chrono::steady_clock::now() < until) std::this_thread::sleep_for(5ms);
    return cond();
  }
  std::future<int> Start(CompanionOptions o) {
    return std::async(std::launch::async, [o] { return RunCompanion(o); });
  }

  TempDir d;
  CompanionOptions opt;
};

TEST_F(CompanionLife, ServesSignalFilesAndEndsWithRunning0) {
  for (int n = 1; n <= MaxTraders; ++n) {
    char name[32];
    std::snprintf(name, sizeof name, "run/%d/T%04d.dat", n / 100, n);
    test::WriteText(d / name, n % 3 ? "X01" : "Y02X01-");
  }
  auto first = Start(opt);
  ASSERT_TRUE(Within(5s, [&] { return CompanionLockHeld(d / "run/ZupoAp.lock"); }));
  test::WriteText(d / "run/Gen1", "");
  EXPECT_TRUE(Within(5s, [&] { return !fs::exists(d / "run/Gen1"); }));
  EXPECT_TRUE(fs::exists(d / "lib/9/T1000.dat"));
  EXPECT_EQ(test::ReadText(d / "run/Mape.txt").size(), 500u * 24);

  // A second companion for the same run ends at once; one for another run waits for the lock.
  CompanionOptions same = opt;
  EXPECT_EQ(RunCompanion(same), 0);
  EXPECT_TRUE(Logged("already serves run " + std::to_string(::getpid())));
  CompanionOptions other = opt;
  other.RunPid = ::getppid();
  auto second = Start(other);
  EXPECT_TRUE(Within(5s, [&] { return Logged("Waiting for the lock held by companion"); }));
  EXPECT_EQ(second.wait_for(100ms), std::future_status::timeout);

  IniWrite(Ini(), "Common", "Running", "0");
  ASSERT_EQ(first.wait_for(5s), std::future_status::ready);
  EXPECT_EQ(first.get(), 0);
  ASSERT_EQ(second.wait_for(5s), std::future_status::ready);
  EXPECT_EQ(second.get(), 0);
  EXPECT_TRUE(Logged("Generation 1: best "));
  EXPECT_TRUE(Logged("End: Running is 0"));
  EXPECT_FALSE(CompanionLockHeld(d / "run/ZupoAp.lock"));
}

TEST_F(CompanionLife, EndsWhenTheRunProcessIsGoneOrExitIs1) {
  pid_t run = ::fork();
  if (run == 0) {
    ::pause();
    ::_exit(0);
  }
  opt.RunPid = run;
  auto companion = Start(opt);
  ASSERT_TRUE(Within(5s, [&] { return CompanionLockHeld(d / "run/ZupoAp.lock"); }));
  EXPECT_EQ(companion.wait_for(100ms), std::future_status::timeout);
  ::kill(run, SIGKILL);
  ::waitpid(run, nullptr, 0);
  ASSERT_EQ(companion.wait_for(5s), std::future_status::ready);
  EXPECT_EQ(companion.get(), 0);
  EXPECT_TRUE(Logged("End: the run process " + std::to_string(run) + " is gone"));

  opt.RunPid = ::getpid();
  IniWrite(Ini(), "Common", "Exit", "1");
  EXPECT_EQ(RunCompanion(opt), 0);
  EXPECT_TRUE(Logged("End: Exit is 1"));
}

TEST_F(CompanionLife, StartUpErrorIsLoggedAndStopsTheRun) {
  IniWrite(Ini(), "Traders", "Theta1", "half");
  EXPECT_EQ(RunCompanion(opt), 1);
  EXPECT_TRUE(Logged("Start failed: ")) << Log();
  EXPECT_TRUE(Logged("[Traders] Theta1: \"half\" is not a valid number")) << Log();
  EXPECT_EQ(ReadIniStr("Common", "Exit", Ini()), "1");
}

} // namespace
} // namespace zupo
