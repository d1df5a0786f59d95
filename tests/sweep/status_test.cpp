#include "sweep/status.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <utime.h>

#include "testutil.h"

namespace fs = std::filesystem;

namespace zupo {
namespace {

TEST(Status, TheRunsFilesAndTheLastExitStatusGiveItsState) {
  struct Case {
    std::string name;
    std::string keys; // the run's [Common] control keys
    bool data1;       // the statistics table exists
    std::string exitFile;
    std::string logHost; // "" no log
    bool localProcess;
    int ageSeconds; // of Zupo.ini
    JobState want;
  };
  const std::string idle = "Running=0\r\nExit=0\r\nNo_Memory=0\r\nStop_No=0\r\n";
  const std::string going = "Running=1\r\nExit=0\r\nNo_Memory=0\r\nStop_No=12\r\n";
  const std::string stopped = "Running=0\r\nExit=1\r\nNo_Memory=1\r\nStop_No=12\r\n";
  const std::string failed = "Running=0\r\nExit=1\r\nNo_Memory=0\r\nStop_No=12\r\n";
  const Case cases[] = {
      {"never run", idle, false, "", "", false, 0, JobState::NotStarted},
      {"exit 0", idle, true, "0\n", "here", false, 0, JobState::Finished},
      {"exit 3", stopped, true, "3\n", "here", false, 0, JobState::Stopped},
      {"exit 2", failed, true, "2\n", "here", false, 0, JobState::Failed},
      {"start-up error leaves Running=1", going, false, "1\n", "here", false, 0, JobState::Failed},
      {"zupo-cli at work here", going, true, "", "here", true, 0, JobState::Running},
      {"killed here", going, true, "", "here", false, 0, JobState::Stopped},
      {"on another node, recently", going, true, "", "node7", false, 10, JobState::Running},
      {"on another node, long ago", going, true, "", "node7", false, 600, JobState::Stopped},
      {"stopped by hand", stopped, true, "", "", false, 0, JobState::Stopped},
      {"failed by hand", failed, true, "", "", false, 0, JobState::Failed},
      {"finished by hand", idle, true, "", "", false, 0, JobState::Finished},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    test::TempDir dir;
    Study study{dir.Path(), {}, {{"0000", "runs/0000", {}, 1, 1}}};
    const ManifestRow& run = study.Runs[0];
    fs::create_directories(dir / "runs/0000/run");
    fs::create_directories(dir / "logs");
    std::string ini = dir / "runs/0000/Zupo.ini";
    test::WriteText(ini,
                    "[Common]\r\n" + c.keys + "Tree_Path1=run\\\r\n[Traders]\r\nGen_No=30\r\n");
    if (c.data1) test::WriteText(dir / "runs/0000/run/Data1.txt", "GEN P(t+1)\r\n    1 80.1\r\n");
    if (!c.exitFile.empty()) test::WriteText(study.ExitFile(run), c.exitFile);
    if (!c.logHost.empty())
      test::WriteText(study.LogFile(run),
                      "== 2026-01-01 10:00:00 on " + c.logHost + ": zupo-cli x\nRun finished\n");
    ProcessView procs;
    procs.Host = "here";
    procs.Now = std::time(nullptr);
    struct stat sb {};
    ::stat(ini.c_str(), &sb);
    procs.Now = sb.st_mtime + c.ageSeconds;
    if (c.localProcess) procs.LocalRunDirs.push_back(dir / "runs/0000");
    RunStatus st = InspectRun(study, run, procs);
    EXPECT_EQ(JobStateName(st.State), std::string(JobStateName(c.want)));
    EXPECT_EQ(st.Gen_No, 30);
    EXPECT_EQ(st.Generations, c.data1 ? 1 : 0);
  }
}

TEST(Status, GenerationsAreTheRowsAfterTheHeader) {
  test::TempDir dir;
  test::WriteText(dir / "Data1.txt", "GEN          P(t+1)\r\n    1  80.2\r\n    2  81.3\r\n"
                                     "    3  81.0\r\n\r\n");
  EXPECT_EQ(CountGenerations(dir / "Data1.txt"), 3);
  test::WriteText(dir / "Header.txt", "GEN          P(t+1)\r\n");
  EXPECT_EQ(CountGenerations(dir / "Header.txt"), 0);
  EXPECT_EQ(CountGenerations(dir / "missing.txt"), 0);
}

TEST(Status, LastAttemptHostIsTakenFromTheLastStartLine) {
  test::TempDir dir;
  test::WriteText(dir / "a.log", "== 2026-01-01 10:00:00 on node1: zupo-cli --seed 1 x\n"
                                 "Run stopped\n== 2026-01-01 11:00:00 on node2: zupo-cli x\n");
  EXPECT_EQ(LastAttemptHost(dir / "a.log"), "node2");
  test::WriteText(dir / "b.log", "no start line\n");
  EXPECT_EQ(LastAttemptHost(dir / "b.log"), "");
  EXPECT_EQ(LastAttemptHost(dir / "none.log"), "");
}

TEST(Status, CountsLineNamesEveryState) {
  std::vector<RunStatus> runs(6);
  runs[0].State = runs[1].State = JobState::Finished;
  runs[2].State = JobState::Running;
  runs[3].State = JobState::Stopped;
  runs[4].State = JobState::Failed;
  EXPECT_EQ(CountsLine(CountStates(runs)),
            "6 runs: 2 finished, 1 running, 1 stopped, 1 failed, 1 not started");
}

} // namespace
} // namespace zupo
