// The state of a study's runs and what is collected from them.
#include "sweep/collect.h"
#include "sweep/status.h"

#include <cmath>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "core/errors.h"
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
    fs::create_directories(dir / "logs");
    fs::create_directories(dir / "runs/0000/run");
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

// A report row whose price_mean and ret_sd are the given texts.
std::vector<std::string> Report(const std::string& priceMean, const std::string& retSd) {
  std::vector<std::string> row(ReportColumns().size(), "1");
  row[0] = "/s/runs/x";
  row[5] = priceMean;
  row[10] = retSd;
  return row;
}

CollectedRun Collected(const std::string& id, std::vector<std::string> values, int rep,
                       JobState state, std::vector<std::string> report) {
  CollectedRun r;
  r.Run = {id, "runs/" + id, std::move(values), rep, static_cast<uint32_t>(100 + rep)};
  r.Status.State = state;
  r.Status.ExitStatus = state == JobState::Finished ? 0 : -1;
  r.Status.Generations = 30;
  r.Report = std::move(report);
  return r;
}

const KeyStat& Find(const std::vector<KeyStat>& stats, const std::string& key,
                    const std::string& column) {
  for (const KeyStat& ks : stats)
    if (ks.Key == key && ks.Stat.Column == column) return ks;
  throw std::runtime_error("no " + key + " " + column);
}

TEST(Collect, EachStatisticAgainstEachKeyIsMeanAndSdOverReplicates) {
  // Gen_No is set to one value: a constant of the study.
  Study study{"/s", {"Irate", "Gen_No", "BinarySet"}, {}};
  const auto F = JobState::Finished;
  std::vector<CollectedRun> runs{
      Collected("0000", {"0.05", "30", "+\\"}, 1, F, Report("100", "0.5")),
      Collected("0001", {"0.05", "30", "+\\"}, 2, F, Report("104", "nan")),
      Collected("0002", {"0.05", "30", "*\\"}, 1, F, Report("90", "0.1")),
      Collected("0003", {"0.05", "30", "*\\"}, 2, JobState::Stopped, Report("999", "9")),
      Collected("0004", {"0.1", "30", "+\\"}, 1, F, Report("50", "0.2")),
      Collected("0005", {"0.1", "30", "+\\"}, 2, F, {}), // no report
      Collected("0006", {"0.1", "30", "*\\"}, 1, F, Report("60", "0.3")),
      Collected("0007", {"0.1", "30", "*\\"}, 2, F, Report("64", "0.3")),
  };
  auto stats = AggregateStats(study, runs);
  ASSERT_EQ(stats.size(), 2 * MainStats().size());

  const KeyStat& price = Find(stats, "Irate", "price_mean");
  EXPECT_EQ(price.XValues, (std::vector<std::string>{"0.05", "0.1"}));
  ASSERT_EQ(price.Series.size(), 2u);
  EXPECT_EQ(price.Series[0].Name, "BinarySet=+\\");
  EXPECT_DOUBLE_EQ(price.Series[0].Sd[0], std::sqrt(8.0));
  EXPECT_DOUBLE_EQ(price.Series[0].Mean[1], 50);
  EXPECT_TRUE(std::isnan(price.Series[0].Sd[1])); // one run: no deviation
  EXPECT_EQ(price.Series[1].N, (std::vector<int>{1, 2}));
  EXPECT_DOUBLE_EQ(price.Series[1].Mean[1], 62);

  const KeyStat& ret = Find(stats, "Irate", "ret_sd");
  EXPECT_EQ(ret.Series[0].N, (std::vector<int>{1, 1})); // "nan" left out

  const KeyStat& bySet = Find(stats, "BinarySet", "price_mean");
  EXPECT_TRUE(Find(stats, "Irate", "price_mean").NumericX && !bySet.NumericX);
  EXPECT_DOUBLE_EQ(bySet.Series[0].Mean[1], 90);
  EXPECT_EQ(ChartFile(bySet), "charts/BinarySet-price_mean.png");

  std::string html = StudyHtml(study, runs, stats, std::vector<bool>(stats.size(), true));
  EXPECT_NE(
      html.find("<td>0.05</td><td>30</td><td>+\\</td><td>2</td><td>2</td><td>102 &plusmn; 2.82843"
                "</td>"),
      std::string::npos)
      << html;
  EXPECT_NE(html.find("8 runs: 7 finished, 0 running, 1 stopped, 0 failed, 0 not started"),
            std::string::npos);
  EXPECT_NE(html.find("1 = +\\; 2 = *\\;"), std::string::npos);
}

TEST(Collect, SummaryRowsJoinManifestStateAndReport) {
  Study study{"/s", {"G_Gap"}, {}};
  std::vector<CollectedRun> runs{
      Collected("0000", {"5"}, 1, JobState::Finished, Report("101.5", "0.25")),
      Collected("0001", {"5, 6"}, 2, JobState::Stopped, {}),
  };
  std::string csv = StudySummaryCsv(study, runs);
  std::string header = "run_id,folder,G_Gap,replicate,seed,exit_status,state,generations,run_dir,"
                       "first_gen,last_gen,generations,complete,price_mean,price_sd,price_ree,"
                       "price_mad_ree,ret_mean,ret_sd,ret_skew,ret_exkurt,jb_stat,jb_p,lb10_ret,"
                       "lb10_ret_p,lb10_absret,lb10_absret_p,arch5_lm,arch5_p,hill_top5,"
                       "succeed_mean,martingale_mean,visitgen_mean,visitlib_mean\n";
  std::string row0 = "0000,runs/0000,5,1,101,0,finished,30,/s/runs/x,1,1,1,1,101.5,1,1,1,1,0.25," +
                     std::string("1,1,1,1,1,1,1,1,1,1,1,1,1,1,1\n");
  std::string row1 = "0001,runs/0001,\"5, 6\",2,102,,stopped,30" + std::string(26, ',') + "\n";
  EXPECT_EQ(csv, header + row0 + row1);
}

TEST(Collect, AReportRowIsCheckedAgainstTheReportColumns) {
  test::TempDir dir;
  std::string header;
  for (const std::string& c : ReportColumns()) header += (header.empty() ? "" : ",") + c;
  std::string row = "/r,1,30,30,1" + std::string(21, ',');
  test::WriteText(dir / "ok.csv", header + "\n" + row + "\n");
  EXPECT_EQ(ReadReportRow(dir / "ok.csv").size(), ReportColumns().size());
  EXPECT_TRUE(ReadReportRow(dir / "missing.csv").empty());
  for (std::string bad : {header + "\n/r,1,30\n", std::string("run_dir,gens\n/r,30\n")}) {
    test::WriteText(dir / "bad.csv", bad);
    EXPECT_THROW(ReadReportRow(dir / "bad.csv"), RunError) << bad;
  }
}

} // namespace
} // namespace zupo
