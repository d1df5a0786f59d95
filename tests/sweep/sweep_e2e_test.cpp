// A whole study through the programs: plan, run with GNU parallel, killed, run again, collect.
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <set>
#include <sstream>
#include <sys/file.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "sweep/status.h"
#include "sweep/study.h"
#include "testutil.h"

namespace fs = std::filesystem;

namespace zupo {
namespace {

int Sweep(const std::string& args) {
  std::string cmd = std::string(ZUPO_SWEEP) + " " + args + " >/dev/null 2>&1";
  return WEXITSTATUS(std::system(cmd.c_str()));
}

// Starts `zupo-sweep run` in a session of its own, so that every process it starts (GNU parallel
// puts each job in a process group of its own) can be found and killed.
pid_t StartRun(const std::string& study) {
  pid_t pid = ::fork();
  if (pid == 0) {
    ::setsid();
    int null = ::open("/dev/null", O_WRONLY);
    ::dup2(null, 1);
    ::dup2(null, 2);
    ::execl(ZUPO_SWEEP, ZUPO_SWEEP, "run", study.c_str(), "-j", "2", static_cast<char*>(nullptr));
    ::_exit(127);
  }
  return pid;
}

void KillSession(pid_t sid) {
  for (const auto& e : fs::directory_iterator("/proc")) {
    pid_t pid = std::atoi(e.path().filename().c_str());
    if (pid > 0 && ::getsid(pid) == sid) ::kill(pid, SIGKILL);
  }
}

std::set<std::string> FinishedRuns(const Study& study) {
  std::set<std::string> ids;
  for (const ManifestRow& r : study.Runs)
    if (fs::exists(study.ExitFile(r)) && test::ReadText(study.ExitFile(r)) == "0\n")
      ids.insert(r.Id);
  return ids;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string l; std::getline(in, l);) out.push_back(l);
  return out;
}

TEST(SweepEndToEnd, InterruptedStudyResumesAndCollectsEveryRunOnceWithOneRunner) {
  test::TempDir dir;
  fs::copy(ZUPO_SOURCE_DIR "/examples/default", dir / "base", fs::copy_options::recursive);
#ifdef ZUPO_HAVE_REPORT
  const std::string report = "";
#else
  const std::string report = " --no-report";
#endif
  ASSERT_EQ(Sweep("plan " + dir / "base" + " " + dir / "study" +
                  " --set Irate=0.05,0.1 --set G_Gap=5,10 --set Gen_No=30 --replicates 2" + report),
            0);
  Study study = ReadStudy(dir / "study");
  ASSERT_EQ(study.Runs.size(), 8u);

  // Interrupted once a run has finished and another is in the middle of its generations (the
  // first two runs may end together, before the next ones have begun).
  pid_t pid = StartRun(study.Dir);
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(300);
  std::set<std::string> before;
  auto midRun = [&] {
    for (const ManifestRow& r : study.Runs) {
      std::string rows = study.RunDir(r) + "/run/Data1.txt";
      if (before.count(r.Id) || !fs::exists(rows)) continue;
      const size_t n = Lines(test::ReadText(rows)).size(); // the header, then a row a generation
      if (n >= 2 && n < 31) return true;
    }
    return false;
  };
  while ((before.empty() || !midRun()) && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    before = FinishedRuns(study);
  }
  KillSession(pid);
  ::waitpid(pid, nullptr, 0);
  ASSERT_FALSE(before.empty());
  before = FinishedRuns(study);
  ASSERT_LT(before.size(), 8u);

  // The same command again: finished runs are skipped, the others resume.
  ASSERT_EQ(Sweep("run " + study.Dir + " -j 2"), 0);
  ASSERT_EQ(Sweep("status " + study.Dir), 0);
  ASSERT_EQ(Sweep("collect " + study.Dir), 0);
  int resumed = 0;
  for (const ManifestRow& r : study.Runs) {
    SCOPED_TRACE(r.Id);
    int attempts = 0;
    for (const std::string& l : Lines(test::ReadText(study.LogFile(r))))
      attempts += l.rfind("== ", 0) == 0;
    // A run finished before the kill is not run again.
    EXPECT_TRUE(before.count(r.Id) ? attempts == 1 : attempts >= 1) << attempts;
    resumed += attempts > 1;
    // Every generation exactly once, in order.
    std::vector<std::string> rows = Lines(test::ReadText(study.RunDir(r) + "/run/Data1.txt"));
    ASSERT_EQ(rows.size(), 31u);
    for (int g = 1; g <= 30; ++g) EXPECT_EQ(std::atoi(rows[size_t(g)].c_str()), g);
  }
  EXPECT_GE(resumed, 1) << "no run was cut off mid-run by the kill";

  // summary.csv: one finished row per run, after the manifest's seven columns.
  std::vector<std::string> summary = Lines(test::ReadText(study.Dir + "/summary.csv"));
  ASSERT_EQ(summary.size(), 9u);
  for (size_t i = 1; i < summary.size(); ++i) {
    std::vector<std::string> f = SplitCsvLine(summary[i]);
    ASSERT_EQ(f.size(), 36u);
    EXPECT_EQ(f[7] + " " + f[8] + " " + f[9], "0 finished 30");
#ifdef ZUPO_HAVE_REPORT
    EXPECT_EQ(f[14], "1"); // the report's complete
#endif
  }
  EXPECT_NE(test::ReadText(study.Dir + "/study.html").find("<h2>G_Gap</h2>"), std::string::npos);

  // One runner per study: a second one while the lock is held starts nothing.
  int fd = ::open((study.Dir + "/run.lock").c_str(), O_RDWR | O_CREAT, 0644);
  ASSERT_EQ(::flock(fd, LOCK_EX), 0);
  std::string log = test::ReadText(study.LogFile(study.Runs[0]));
  fs::remove(study.ExitFile(study.Runs[0]));
  EXPECT_EQ(Sweep("run " + study.Dir), 1);
  EXPECT_EQ(test::ReadText(study.LogFile(study.Runs[0])), log);
  ::close(fd);
}

} // namespace
} // namespace zupo
