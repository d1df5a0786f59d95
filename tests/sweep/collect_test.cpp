#include "sweep/collect.h"

#include <cmath>
#include <gtest/gtest.h>

#include "core/errors.h"
#include "testutil.h"

namespace zupo {
namespace {

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
  EXPECT_TRUE(price.NumericX);
  EXPECT_EQ(price.XValues, (std::vector<std::string>{"0.05", "0.1"}));
  ASSERT_EQ(price.Series.size(), 2u);
  EXPECT_EQ(price.Series[0].Name, "BinarySet=+\\");
  EXPECT_DOUBLE_EQ(price.Series[0].Mean[0], 102);
  EXPECT_DOUBLE_EQ(price.Series[0].Sd[0], std::sqrt(8.0));
  EXPECT_DOUBLE_EQ(price.Series[0].Mean[1], 50);
  EXPECT_TRUE(std::isnan(price.Series[0].Sd[1])); // one run: no deviation
  EXPECT_EQ(price.Series[1].Name, "BinarySet=*\\");
  EXPECT_EQ(price.Series[1].N, (std::vector<int>{1, 2}));
  EXPECT_DOUBLE_EQ(price.Series[1].Mean[1], 62);

  const KeyStat& ret = Find(stats, "Irate", "ret_sd");
  EXPECT_EQ(ret.Series[0].N, (std::vector<int>{1, 1})); // "nan" left out

  const KeyStat& bySet = Find(stats, "BinarySet", "price_mean");
  EXPECT_FALSE(bySet.NumericX);
  EXPECT_EQ(bySet.Series[0].Name, "Irate=0.05");
  EXPECT_DOUBLE_EQ(bySet.Series[0].Mean[1], 90);
  EXPECT_EQ(ChartFile(bySet), "charts/BinarySet-price_mean.png");

  std::string html = StudyHtml(study, runs, stats, std::vector<bool>(stats.size(), true));
  EXPECT_NE(
      html.find("<td>0.05</td><td>30</td><td>+\\</td><td>2</td><td>2</td><td>102 &plusmn; 2.82843"
                "</td>"),
      std::string::npos)
      << html;
  EXPECT_NE(html.find("8 runs: 7 finished, 0 running, 1 stopped"), std::string::npos);
  EXPECT_NE(html.find("<img src=\"charts/Irate-hill_top5.png\""), std::string::npos);
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
  test::WriteText(dir / "short.csv", header + "\n/r,1,30\n");
  EXPECT_THROW(ReadReportRow(dir / "short.csv"), RunError);
  test::WriteText(dir / "other.csv", "run_dir,gens\n/r,30\n");
  EXPECT_THROW(ReadReportRow(dir / "other.csv"), RunError);
}

} // namespace
} // namespace zupo
