// The run summary: returns, learning generations, the equilibrium price, the figures over a small
// table, the exact text of summary.csv and summary.json; the report's charts and page.
#include <cmath>
#include <gtest/gtest.h>

#include "report/charts.h"
#include "report/html.h"
#include "report/summary.h"
#include "testutil.h"

namespace zupo {
namespace {

namespace fs = std::filesystem;
using test::TempDir;

std::array<double, kData1Cols> Row(int gen, double price) {
  std::array<double, kData1Cols> r{};
  r[kGen] = gen;
  r[kPrice] = price;
  return r;
}

TEST(LogReturns, OnlyBetweenConsecutiveGenerationsWithPositivePrices) {
  Data1Table t;
  // 3 -> 4 -> 5 consecutive; 7 follows a gap; 8 has price 0; 9 follows the zero price.
  for (auto [g, p] : std::vector<std::pair<int, double>>{
           {3, 100}, {4, 110}, {5, 99}, {7, 120}, {8, 0}, {9, 50}, {10, 100}})
    t.Rows.push_back(Row(g, p));
  ReturnSeries r = LogReturns(t);
  EXPECT_EQ(r.Gen, (std::vector<double>{4, 5, 10}));
  EXPECT_EQ(r.Ret, (std::vector<double>{std::log(1.1), std::log(0.9), std::log(2.0)}));
}

TEST(EquilibriumPrice, HomogeneousRationalExpectations) {
  // The example's mean dividend 10, variance 4, lambda 0.5 and r 0.1 give 80 with H0 1.
  EXPECT_DOUBLE_EQ(EquilibriumPrice(10, 4, 0.5, 2, 0.1), 60);
  EXPECT_DOUBLE_EQ(EquilibriumPrice(10, 4, 0.5, 1, 0.2), 40);
  EXPECT_TRUE(std::isnan(EquilibriumPrice(10, 4, 0.5, 1, 0)));
}

// Irate 0.1, Lambda 0.5, H0 1, dividends of mean 10 and variance 4: P* = 80.
RunInfo Info(int gGap, int genNo) {
  return {"", "", {}, 0.1, 0.5, 1, gGap, genNo, false, 10, 4, 0, ""};
}

TEST(Summarize, FiguresOfASmallTable) {
  Data1Table t;
  const double prices[] = {78, 82, 90, 70, 80};
  for (int g = 1; g <= 5; ++g) {
    auto r = Row(g, prices[g - 1]);
    r[kSucceedNo] = 10 * g;
    r[kMartingaleNo] = g;
    r[kVisitGenNo] = 100 + g;
    r[kVisitLibNo] = 7;
    t.Rows.push_back(r);
  }
  RunSummary s = Summarize("runs/a", Info(2, 5), t);
  EXPECT_TRUE(s.Complete);
  EXPECT_DOUBLE_EQ(s.PriceMean, 80);
  EXPECT_DOUBLE_EQ(s.PriceSd, std::sqrt(208.0 / 4)); // deviations -2, 2, 10, -10, 0
  EXPECT_DOUBLE_EQ(s.PriceMadRee, 24.0 / 5);
  EXPECT_NEAR(s.RetMean, std::log(80.0 / 78) / 4, 1e-15);
  // Learning generations with G_Gap 2 are 3 and 5.
  EXPECT_EQ(s.LearningGens, 2);
  EXPECT_DOUBLE_EQ(s.SucceedMean, 40);
  EXPECT_DOUBLE_EQ(s.MartingaleMean, 4);
  EXPECT_DOUBLE_EQ(s.VisitGenMean, 104);

  // Every generation from 2 learns with G_Gap 1, none with G_Gap 0 or beyond the run.
  EXPECT_EQ(Summarize("a", Info(1, 5), t).LearningGens, 4);
  EXPECT_EQ(Summarize("a", Info(0, 5), t).LearningGens, 0);
  EXPECT_TRUE(std::isnan(Summarize("a", Info(20, 5), t).SucceedMean));
}

// hill_top5 stays undefined.
RunSummary Fixed() {
  return {.RunDir = "runs/x",
          .FirstGen = 101,
          .LastGen = 2000,
          .Generations = 1900,
          .Complete = true,
          .PriceMean = 116.8622003,
          .PriceSd = 10.5,
          .PriceRee = 80,
          .PriceMadRee = 37.25,
          .RetMean = 0.000159515957596,
          .RetSd = 0.0073875,
          .RetSkew = -0.5,
          .RetExKurt = 29.4184836369,
          .JbStat = 79320.6323656,
          .JbP = 0,
          .Lb10Ret = 17.7,
          .Lb10RetP = 1.92375712949477e-43,
          .Lb10AbsRet = 22.9,
          .Lb10AbsRetP = 0.011,
          .Arch5Lm = 4.2,
          .Arch5P = 0.5185,
          .SucceedMean = 150.575757576,
          .MartingaleMean = 8,
          .VisitGenMean = 253.25,
          .VisitLibMean = 0};
}

TEST(SummaryFiles, CsvHeaderAndRowAndTheJsonObject) {
  RunSummary s = Fixed();
  EXPECT_EQ(SummaryCsv(s),
            "run_dir,first_gen,last_gen,generations,complete,price_mean,price_sd,price_ree,"
            "price_mad_ree,ret_mean,ret_sd,ret_skew,ret_exkurt,jb_stat,jb_p,lb10_ret,lb10_ret_p,"
            "lb10_absret,lb10_absret_p,arch5_lm,arch5_p,hill_top5,succeed_mean,martingale_mean,"
            "visitgen_mean,visitlib_mean\n"
            "runs/x,101,2000,1900,1,116.8622003,10.5,80,37.25,0.000159515957596,0.0073875,-0.5,"
            "29.4184836369,79320.6323656,0,17.7,1.92375712949e-43,22.9,0.011,4.2,0.5185,nan,"
            "150.575757576,8,253.25,0\n");
  // A run folder with a comma or a quote is quoted.
  s.RunDir = "runs/a,b \"c\"";
  std::string csv = SummaryCsv(s);
  EXPECT_EQ(csv.substr(csv.find('\n') + 1, 20), "\"runs/a,b \"\"c\"\"\",101");
  EXPECT_EQ(FormatFigure(-INFINITY), "-inf");

  // The JSON object holds the same keys, with null for an undefined figure.
  s.RunDir = "runs\\x \"y\"";
  EXPECT_EQ(SummaryJson(s), "{\n"
                            "  \"run_dir\": \"runs\\\\x \\\"y\\\"\",\n"
                            "  \"first_gen\": 101,\n"
                            "  \"last_gen\": 2000,\n"
                            "  \"generations\": 1900,\n"
                            "  \"complete\": 1,\n"
                            "  \"price_mean\": 116.8622003,\n"
                            "  \"price_sd\": 10.5,\n"
                            "  \"price_ree\": 80,\n"
                            "  \"price_mad_ree\": 37.25,\n"
                            "  \"ret_mean\": 0.000159515957596,\n"
                            "  \"ret_sd\": 0.0073875,\n"
                            "  \"ret_skew\": -0.5,\n"
                            "  \"ret_exkurt\": 29.4184836369,\n"
                            "  \"jb_stat\": 79320.6323656,\n"
                            "  \"jb_p\": 0,\n"
                            "  \"lb10_ret\": 17.7,\n"
                            "  \"lb10_ret_p\": 1.92375712949e-43,\n"
                            "  \"lb10_absret\": 22.9,\n"
                            "  \"lb10_absret_p\": 0.011,\n"
                            "  \"arch5_lm\": 4.2,\n"
                            "  \"arch5_p\": 0.5185,\n"
                            "  \"hill_top5\": null,\n"
                            "  \"succeed_mean\": 150.575757576,\n"
                            "  \"martingale_mean\": 8,\n"
                            "  \"visitgen_mean\": 253.25,\n"
                            "  \"visitlib_mean\": 0\n"
                            "}\n");
}

// A run folder with Zupo.ini and run/Dstar.txt (none when dstar is empty).
void WriteRun(const TempDir& d, const std::string& lambda, const std::string& dstar) {
  fs::create_directories(d / "run");
  test::WriteText(d / "Zupo.ini", "[Common]\r\nRunning=1\r\nTree_Path1=run\\\r\n; comment\r\n"
                                  "\r\n[Stock_Market]\r\nH0=1\r\nIrate=0.1\r\n"
                                  "[Traders]\r\nLambda=" +
                                      lambda + "\r\nG_Gap=20\r\nGen_No=300\r\n");
  if (dstar.empty())
    fs::remove(d / "run/Dstar.txt");
  else
    test::WriteText(d / "run/Dstar.txt", dstar);
}

TEST(ReadRunInfo, ParametersDividendsAndErrors) {
  TempDir d;
  // One dividend per line (anything after it on the line is not a dividend), blank lines skipped.
  WriteRun(d, "0.5", "8\r\n12 99\r\n\r\n  10\r\n14\r\n6");
  RunInfo r = ReadRunInfo(d.Path());
  EXPECT_EQ(r.G_Gap, 20);
  EXPECT_EQ(r.DividendCount, 5u);
  EXPECT_DOUBLE_EQ(r.DividendMean, 10);
  EXPECT_DOUBLE_EQ(r.DividendVar, 40.0 / 4);
  ASSERT_EQ(r.Sections.size(), 3u);
  EXPECT_EQ(r.Sections[0].Keys, (std::vector<std::pair<std::string, std::string>>{
                                    {"Running", "1"}, {"Tree_Path1", "run\\"}}));

  // Without dividends there is no equilibrium price, but no failure either; a configuration that
  // cannot be read is an error naming the file, the key and the value.
  WriteRun(d, "0.5", "");
  r = ReadRunInfo(d.Path());
  EXPECT_TRUE(std::isnan(r.DividendMean));
  EXPECT_EQ(r.DividendNote, d / "run/Dstar.txt does not exist");
  WriteRun(d, "0.5", "10\r\nten\r\n");
  EXPECT_NE(ReadRunInfo(d.Path()).DividendNote.find("\"ten\""), std::string::npos);
  WriteRun(d, "0,5", "10\r\n");
  auto read = [&] { ReadRunInfo(d.Path()); };
  EXPECT_TRUE(test::FailsNaming(read, d / "Zupo.ini: [Traders] Lambda=0,5 is not a number"));
  fs::remove(d / "Zupo.ini");
  EXPECT_TRUE(test::FailsNaming(read, d / "Zupo.ini: the configuration file does not exist"));
}

TEST(DensityHistogram, BinsOfTheGivenWidthIntegrateToOne) {
  // Bins of 0.5 from floor(-0.9) = -1 to ceil(2.0) = 2; 2.0 itself falls into the last bin.
  Histogram h = DensityHistogram({-0.9, -0.1, 0.1, 0.2, 1.4, 2.0}, 0.5);
  EXPECT_EQ(h.X, (std::vector<double>{-0.75, -0.25, 0.25, 0.75, 1.25, 1.75}));
  const double unit = 1 / (6 * 0.5);
  EXPECT_EQ(h.Y, (std::vector<double>{unit, unit, 2 * unit, 0, unit, unit}));
  EXPECT_TRUE(DensityHistogram({}, 0.5).X.empty());
  // Equal values: one bin starting at them.
  EXPECT_EQ(DensityHistogram({3, 3}, 0.25).Y, (std::vector<double>{4}));
}

const ChartLine& LineNamed(const ReportChart& c, const std::string& name) {
  for (const ChartLine& l : c.Chart.Lines)
    if (l.Name == name) return l;
  throw std::runtime_error("no line " + name + " in " + c.File);
}

// Generations 1..60 with G_Gap 20 (learning generations 21 and 41): the seven charts with their
// data, and the page that shows them and escapes what comes from files.
TEST(ReportCharts, TheSevenChartsWithTheirDataAndThePage) {
  Data1Table t;
  for (int g = 1; g <= 60; ++g) {
    auto r = Row(g, 80 + (g % 7));
    r[kTwealth1] = 0.2 + g * 1e-4;
    r[kSucceedNo] = g;
    r[kAveDepth] = 3;
    r[kVarDepth] = 4;
    t.Rows.push_back(r);
  }
  RunInfo info = Info(20, 60);
  info.IniPath = "runs/a<b>/Zupo.ini";
  info.Sections = {{"Common", {{"BinarySet", "+\\-\\*\\%\\"}, {"Note", "a&b <i>"}}}};
  RunSummary s = Summarize("r", info, t);
  std::vector<ReportChart> charts = ReportCharts(t, info, s);
  std::string h = ReportHtml(info, s, charts, {"Stopped at <60>"});
  ASSERT_EQ(charts.size(), 7u); // their files and pictures: the end-to-end test
  for (const ReportChart& c : charts) {
    EXPECT_FALSE(c.Caption.empty()) << c.File;
    EXPECT_NE(h.find("<figcaption>" + c.Caption + "</figcaption>"), std::string::npos);
  }
  EXPECT_NE(h.find("<p class=\"note\">Stopped at &lt;60&gt;</p>"), std::string::npos);
  EXPECT_NE(h.find("runs/a&lt;b&gt;/Zupo.ini"), std::string::npos);
  EXPECT_NE(h.find("<td>Note</td><td><code>a&amp;b &lt;i&gt;</code></td>"), std::string::npos);
  EXPECT_NE(h.find("<td class=\"num\">80</td><td><code>price_ree</code></td>"), std::string::npos);
  EXPECT_EQ(h.find("http"), std::string::npos); // nothing fetched from the network

  EXPECT_EQ(LineNamed(charts[0], "equilibrium price P*").Y, (std::vector<double>{80, 80}));
  EXPECT_NE(charts[0].Caption.find("= 80,"), std::string::npos) << charts[0].Caption;
  EXPECT_EQ(charts[1].Chart.Lines[0].Y.size(), 59u);
  // The band of the autocorrelations is +-1.96/sqrt(n) for the 59 returns, lags 1..50.
  const ChartLine& band = charts[2].Chart.Lines[0];
  ASSERT_EQ(band.High.size(), 50u);
  EXPECT_DOUBLE_EQ(band.Low[49], -1.96 / std::sqrt(59.0));
  EXPECT_EQ(LineNamed(charts[2], "returns").X.back(), 50);
  EXPECT_TRUE(charts[3].Chart.LogY);
  // Model depth 3 with variance 4: band 1..5.
  const ChartLine& depth = LineNamed(charts[4], "mean depth (AveDepth)");
  EXPECT_EQ(depth.Low.front(), 1);
  EXPECT_EQ(depth.High.front(), 5);
  EXPECT_EQ(LineNamed(charts[5], "SucceedNo").Y, (std::vector<double>{21, 41}));
  const ChartLine& w1 = LineNamed(charts[6], "Twealth1");
  EXPECT_EQ(w1.X.size(), 58u);
  EXPECT_EQ(w1.Y[20], 0.2 + 22 * 1e-4);
  // No equilibrium line without its price.
  s.PriceRee = std::nan("");
  EXPECT_EQ(ReportCharts(t, info, s)[0].Chart.Lines.size(), 1u);
}

} // namespace
} // namespace zupo
