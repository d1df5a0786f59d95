// The grid of a study, the files that plan it, the state of its runs and what is collected.
#include "sweep/collect.h"
#include "sweep/grid.h"
#include "sweep/plan.h"
#include "sweep/status.h"

#include <cmath>
#include <cstdlib>
#include <functional>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <tuple>

#include "core/ini.h"
#include "testutil.h"

namespace fs = std::filesystem;

namespace zupo {
namespace {

// Keys take their own spelling and the section the run reads them from; the first key varies
// slowest, replicates fastest, and seeds count up within their range.
TEST(Grid, SetsAndTheirExpansion) {
  auto axes = ParseSets({"irate= 0.05 , 0.1", "g_gap=5,10,20", "DO_DIM=1"});
  std::string seen;
  for (const SweepAxis& a : axes) seen += a.Section + "/" + a.Key + " ";
  EXPECT_EQ(seen, "Stock_Market/Irate Traders/G_Gap Common/Do_Dim ");
  // A symbol list keeps its backslashes; an empty value is a value.
  auto lists = ParseSets({"BinarySet=+\\-\\,+\\*\\", "Const_Item="});
  EXPECT_EQ(lists[0].Values, (std::vector<std::string>{"+\\-\\", "+\\*\\"}));
  EXPECT_EQ(lists[1].Values, (std::vector<std::string>{""}));

  axes.pop_back();
  seen = "";
  for (const GridRun& r : ExpandGrid(axes, 2, 100))
    seen += std::to_string(r.Index) + ":" + r.Values[0] + "/" + r.Values[1] + "/" +
            std::to_string(r.Replicate) + "/" + std::to_string(r.Seed) + " ";
  EXPECT_EQ(seen, "0:0.05/5/1/100 1:0.05/5/2/101 2:0.05/10/1/102 3:0.05/10/2/103 "
                  "4:0.05/20/1/104 5:0.05/20/2/105 6:0.1/5/1/106 7:0.1/5/2/107 "
                  "8:0.1/10/1/108 9:0.1/10/2/109 10:0.1/20/1/110 11:0.1/20/2/111 ");
  // No swept key: replicates of the base run.
  auto reps = ExpandGrid({}, 3, 0);
  ASSERT_EQ(reps.size(), 3u);
  EXPECT_EQ(reps[2].Seed, 2u);
  // Seeds stay in a run's range; run ids have four digits, or as many as the last run needs.
  EXPECT_EQ(ExpandGrid(axes, 1, 4294967290ull).back().Seed, 4294967295u);
  EXPECT_THROW(ExpandGrid(axes, 1, 4294967291ull), RunError);
  EXPECT_THROW(ExpandGrid(axes, 0, 1), RunError);
  EXPECT_EQ(RunId(9999, 10000) + RunId(3, 10001), "999900003");
}

// A copy of the example run folder as the base of a study, and a study folder beside it.
class PlanTest : public ::testing::Test {
public:
  void SetUp() override {
    fs::copy(ZUPO_SOURCE_DIR "/examples/default", base_, fs::copy_options::recursive);
    std::tie(opt_.BaseDir, opt_.StudyDir, opt_.Cli, opt_.Replicates, opt_.Seed) =
        std::tuple(base_, study_, ZUPO_CLI, 2, 40);
    opt_.Sets = {"Irate=0.05,0.1", "G_Gap=5"};
  }
  // Every path under the test's folder.
  std::vector<std::string> Entries() const {
    std::vector<std::string> names;
    for (const auto& e : fs::recursive_directory_iterator(dir_.Path()))
      names.push_back(e.path().string());
    std::sort(names.begin(), names.end());
    return names;
  }
  test::TempDir dir_;
  std::string base_ = dir_ / "base";
  std::string study_ = dir_ / "study";
  PlanOptions opt_;
};

// Each run is a configured copy named by the study's files; an empty study folder is used.
TEST_F(PlanTest, EachRunIsAConfiguredCopyAndEveryRefusalWritesNothing) {
  fs::create_directory(study_);
  opt_.ReportFrom = 200;
  ASSERT_EQ(PlanStudy(opt_), 4);
  EXPECT_EQ(test::ReadText(study_ + "/manifest.csv"), "run_id,folder,Irate,G_Gap,replicate,seed\n"
                                                      "0000,runs/0000,0.05,5,1,40\n"
                                                      "0001,runs/0001,0.05,5,2,41\n"
                                                      "0002,runs/0002,0.1,5,1,42\n"
                                                      "0003,runs/0003,0.1,5,2,43\n");
  std::string cli = ZUPO_CLI, r = " --quiet --report --report-from 200 " + study_ + "/runs/000";
  EXPECT_EQ(test::ReadText(study_ + "/jobs.txt"),
            cli + " --seed 40" + r + "0\n" + cli + " --seed 41" + r + "1\n" + cli + " --seed 42" +
                r + "2\n" + cli + " --seed 43" + r + "3\n");
  std::string ini = study_ + "/runs/0002/Zupo.ini";
  EXPECT_EQ(IniRead(ini, "Stock_Market", "Irate", "?"), "0.1");
  EXPECT_EQ(IniRead(ini, "Common", "Irate", "?"), "?"); // set where it lives, not added twice
  // The base is untouched and nothing of the planning is left beside the study.
  EXPECT_EQ(test::ReadText(base_ + "/Zupo.ini"),
            test::ReadText(ZUPO_SOURCE_DIR "/examples/default/Zupo.ini"));
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_.Path()), {}), 2); // base and study

  // Every refusal names its cause and writes nothing.
  struct Case {
    std::string name;
    std::function<void(PlanTest&)> prepare;
    std::string message;
  };
  auto set = [](std::vector<std::string> sets) {
    return [sets](PlanTest& t) { t.opt_.Sets = sets; };
  };
  auto key = [](const char* section, const char* k, const char* v) {
    return [=](PlanTest& t) { IniWrite(t.base_ + "/Zupo.ini", section, k, v); };
  };
  const Case cases[] = {
      {"no value", set({"Irate"}), "--set Irate: expected KEY=VALUE"},
      {"unknown key", set({"Interest=1"}),
       "--set Interest=1: \"Interest\" is not a key of the configuration"},
      {"key the run writes", set({"Stop_No=5"}), "Stop_No is written by the run itself"},
      {"key twice", set({"Irate=0.1", "IRATE=0.2"}), "--set IRATE=0.2: Irate is set twice"},
      {"value twice", set({"G_Gap=5,10,5"}), "the value \"5\" is listed twice"},
      {"line break", set({"Data_File=a.txt\nb"}), "a value holds a line break"},
      {"bad real", set({"Irate=0.1,abc"}),
       "--set Irate=abc: " + base_ +
           "/Zupo.ini [Stock_Market] Irate: \"abc\" is not a valid "
           "number"},
      {"missing data file", set({"Data_File=Other.txt"}), "Other.txt does not exist"},
      {"shared library", set({"LibraryProb=0,30", "Tree_Path2=/tmp/lib/"}),
       "the grid point LibraryProb=30 Tree_Path2=/tmp/lib/: " + base_ +
           "/Zupo.ini [Common] Tree_Path2=/tmp/lib/: /tmp/lib/ lies outside the run folder"},
      {"base without Zupo.ini", [](PlanTest& t) { fs::remove(t.base_ + "/Zupo.ini"); },
       base_ + "/Zupo.ini: the base run folder has no Zupo.ini"},
      {"started base", key("Common", "Stop_No", "12"), "holds a started run"},
      {"study holds a study", [](PlanTest& t) { PlanStudy(t.opt_); },
       study_ + ": already holds a study"},
      {"study not empty", [](PlanTest& t) { fs::create_directories(t.study_ + "/notes"); },
       "the study folder is not empty"},
      {"study inside the base", [](PlanTest& t) { t.opt_.StudyDir = t.base_ + "/study"; },
       "must not lie inside the base folder"},
      {"no zupo-cli", [](PlanTest& t) { t.opt_.Cli = t.dir_ / "zupo-cli"; },
       "the zupo-cli program the runs need is not there"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove_all(base_);
    fs::remove_all(study_);
    SetUp();
    c.prepare(*this);
    auto before = Entries();
    EXPECT_TRUE(test::FailsNaming([&] { PlanStudy(opt_); }, c.message));
    EXPECT_EQ(Entries(), before);
  }
}

TEST(PlanFiles, JobLinesQuoteWhatTheShellWouldSplit) {
  for (auto [in, out] : {std::pair{"/opt/zupo-cli", "/opt/zupo-cli"},
                         {"it's", "'it'\\''s'"},
                         {"$HOME", "'$HOME'"},
                         {"", "''"}})
    EXPECT_EQ(ShellQuote(in), out) << in;
  PlanOptions opt;
  std::tie(opt.Cli, opt.Report) = std::tuple("/opt/zupo/zupo-cli", false);
  EXPECT_EQ(JobLine(opt, 7, "/data/a b/runs/0003"),
            "/opt/zupo/zupo-cli --seed 7 --quiet '/data/a b/runs/0003'\n");
}

TEST(PlanFiles, SlurmScriptIsAnArrayOverTheJobs) {
  SlurmOptions s;
  const std::string expected =
      "#!/bin/bash\n#SBATCH --job-name=zupo-sweep\n#SBATCH --array=0-7%50\n#SBATCH --ntasks=1\n"
      "#SBATCH --cpus-per-task=1\n#SBATCH --time=12:00:00\n#SBATCH --mem=1G\n"
      "#SBATCH --output=/data/st/logs/slurm-%A_%4a.out\n"
      "# Task N runs line N+1 of jobs.txt through task.sh, which skips a run that finished, so\n"
      "# submitting this script again resumes an interrupted study.\n"
      "exec /bin/sh /data/st/task.sh \"$((SLURM_ARRAY_TASK_ID + 1))\"\n";
  EXPECT_EQ(SbatchText(s, "/data/st", 8), expected);
  std::tie(s.Limit, s.Time, s.Mem, s.Partition) = std::tuple(0, "2:00:00", "500M", "short");
  const std::string t = SbatchText(s, "/data/st", 12000);
  for (const char* part : {"#SBATCH --array=0-11999\n",
                           "#SBATCH --time=2:00:00\n#SBATCH --mem=500M\n#SBATCH --partition=short\n"
                           "#SBATCH --output=/data/st/logs/slurm-%A_%5a.out\n"})
    EXPECT_NE(t.find(part), std::string::npos) << t;
}

// task.sh runs one line of jobs.txt, records its exit status and skips a finished run.
TEST(PlanFiles, TaskScriptRecordsExitStatusAndSkipsFinishedRuns) {
  test::TempDir dir;
  fs::create_directory(dir / "logs");
  test::WriteText(dir / "jobs.txt", "echo first run\nexit 3\necho $((1 + 1)) && exit 2\n");
  test::WriteText(dir / "task.sh", TaskScript(dir.Path(), 3));
  auto task = [&](int n) {
    std::string cmd =
        "sh " + dir / "task.sh" + " " + std::to_string(n) + " >>" + dir / "out" + " 2>&1";
    return WEXITSTATUS(std::system(cmd.c_str()));
  };
  std::string codes; // the second time, 1 finished before is not run again, 2 stopped is
  for (int n : {1, 2, 3, 4, 1, 2}) codes += std::to_string(task(n));
  EXPECT_EQ(codes, "032103");
  EXPECT_EQ(test::ReadText(dir / "logs/0001.exit"), "3\n");
  EXPECT_EQ(test::ReadText(dir / "out"),
            "run 0000: finished\n"
            "run 0001: stopped; it resumes when the study runs again\n"
            "run 0002: failed with exit status 2, see logs/0002.log\n"
            "run 0003: jobs.txt has no line 4\n"
            "run 0000: finished before\n"
            "run 0001: stopped; it resumes when the study runs again\n");
  std::string log = test::ReadText(dir / "logs/0000.log"); // one attempt only
  EXPECT_NE(log.find(": echo first run\nfirst run\n"), std::string::npos) << log;
  EXPECT_EQ(log.find("== ", 3), std::string::npos);
}

TEST(Status, TheRunsFilesAndTheLastExitStatusGiveItsState) {
  struct Case {
    std::string name, keys;        // keys: the run's [Common] control keys
    bool data1;                    // the statistics table exists
    std::string exitFile, logHost; // logHost "": no log
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
    struct stat sb {};
    ::stat(ini.c_str(), &sb);
    ProcessView procs{"here", {}, sb.st_mtime + c.ageSeconds};
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
  std::tie(row[0], row[5], row[10]) = std::tuple("/s/runs/x", priceMean, retSd);
  return row;
}

CollectedRun Collected(const std::string& id, std::vector<std::string> values, int rep,
                       JobState state, std::vector<std::string> report) {
  CollectedRun r;
  r.Run = {id, "runs/" + id, std::move(values), rep, static_cast<uint32_t>(100 + rep)};
  std::tie(r.Status.State, r.Status.ExitStatus, r.Status.Generations) =
      std::tuple(state, state == JobState::Finished ? 0 : -1, 30);
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

  const std::string html = StudyHtml(study, runs, stats, std::vector<bool>(stats.size(), true));
  for (const char* part :
       {"<td>0.05</td><td>30</td><td>+\\</td><td>2</td><td>2</td><td>102 &plusmn; 2.82843</td>",
        "8 runs: 7 finished, 0 running, 1 stopped, 0 failed, 0 not started", "1 = +\\; 2 = *\\;"})
    EXPECT_NE(html.find(part), std::string::npos) << part;
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
