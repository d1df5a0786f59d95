// The report piece by piece (the statistics table read back, the statistics, the run summary and
// the exact text of its files, the charts and the page), then whole reports of a seeded run.
#include <QImage>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <gtest/gtest.h>
#include <numbers>
#include <sstream>
#include <vector>

#include "core/ini.h"
#include "report/charts.h"
#include "report/data1.h"
#include "report/html.h"
#include "report/stats.h"
#include "report/summary.h"
#include "testutil.h"
#include "ui/chart_png.h"

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

// Irate 0.1, Lambda 0.5, H0 1, dividends of mean 10 and variance 4: P* = 80.
RunInfo Info(int gGap, int genNo) {
  return {"", "", {}, 0.1, 0.5, 1, gGap, genNo, false, 10, 4, 0, ""};
}

TEST(Summarize, FiguresOfASmallTable) {
  Data1Table t;
  const double prices[] = {78, 82, 90, 70, 80};
  for (int g = 1; g <= 5; ++g) {
    auto r = Row(g, prices[g - 1]);
    std::tie(r[kSucceedNo], r[kMartingaleNo], r[kVisitGenNo], r[kVisitLibNo]) =
        std::tuple(10 * g, g, 100 + g, 7);
    t.Rows.push_back(r);
  }
  RunSummary s = Summarize("runs/a", Info(2, 5), t); // complete or not: the end-to-end test
  EXPECT_DOUBLE_EQ(s.PriceMean, 80);
  EXPECT_DOUBLE_EQ(s.PriceSd, std::sqrt(208.0 / 4)); // deviations -2, 2, 10, -10, 0
  EXPECT_DOUBLE_EQ(s.PriceMadRee, 24.0 / 5);         // from P* = 80; with H0 2, 60; with r 0, none
  EXPECT_DOUBLE_EQ(EquilibriumPrice(10, 4, 0.5, 2, 0.1), 60);
  EXPECT_TRUE(std::isnan(EquilibriumPrice(10, 4, 0.5, 1, 0)));
  EXPECT_NEAR(s.RetMean, std::log(80.0 / 78) / 4, 1e-15);
  // Learning generations with G_Gap 2 are 3 and 5.
  EXPECT_EQ(s.LearningGens, 2);
  EXPECT_EQ(std::tuple(s.SucceedMean, s.MartingaleMean, s.VisitGenMean, s.VisitLibMean),
            std::tuple(40.0, 4.0, 104.0, 7.0));

  // Every generation from 2 learns with G_Gap 1, none with G_Gap 0 or beyond the run.
  EXPECT_EQ(Summarize("a", Info(1, 5), t).LearningGens, 4);
  EXPECT_EQ(Summarize("a", Info(0, 5), t).LearningGens, 0);
  EXPECT_TRUE(std::isnan(Summarize("a", Info(20, 5), t).SucceedMean));
}

// hill_top5 stays undefined.
RunSummary Fixed() {
  RunSummary s{"runs/x", 101, 2000, 1900, true};
  std::tie(s.PriceMean, s.PriceSd, s.PriceRee, s.PriceMadRee, s.RetMean, s.RetSd, s.RetSkew,
           s.RetExKurt, s.JbStat, s.JbP, s.Lb10Ret, s.Lb10RetP) =
      std::tuple(116.8622003, 10.5, 80, 37.25, 0.000159515957596, 0.0073875, -0.5, 29.4184836369,
                 79320.6323656, 0, 17.7, 1.92375712949477e-43);
  std::tie(s.Lb10AbsRet, s.Lb10AbsRetP, s.Arch5Lm, s.Arch5P, s.SucceedMean, s.MartingaleMean,
           s.VisitGenMean, s.VisitLibMean) =
      std::tuple(22.9, 0.011, 4.2, 0.5185, 150.575757576, 8, 253.25, 0);
  return s;
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

// A run folder with Zupo.ini and, when dstar is not empty, run/Dstar.txt.
void WriteRun(const TempDir& d, const std::string& lambda, const std::string& dstar) {
  fs::create_directories(d / "run");
  test::WriteText(d / "Zupo.ini", "[Common]\r\nRunning=1\r\nTree_Path1=run\\\r\n; comment\r\n"
                                  "\r\n[Stock_Market]\r\nH0=1\r\nIrate=0.1\r\n"
                                  "[Traders]\r\nLambda=" +
                                      lambda + "\r\nG_Gap=20\r\nGen_No=300\r\n");
  if (!dstar.empty()) test::WriteText(d / "run/Dstar.txt", dstar);
}

TEST(ReadRunInfo, ParametersDividendsAndErrors) {
  TempDir d;
  // One dividend per line (anything after it on the line is not a dividend), blank lines skipped.
  WriteRun(d, "0.5", "8\r\n12 99\r\n\r\n  10\r\n14\r\n6");
  RunInfo r = ReadRunInfo(d.Path());
  EXPECT_EQ(std::tuple(r.G_Gap, r.DividendCount, r.DividendMean, r.DividendVar),
            std::tuple(20, size_t{5}, 10.0, 40.0 / 4));
  ASSERT_EQ(r.Sections.size(), 3u);
  EXPECT_EQ(r.Sections[0].Keys, (std::vector<std::pair<std::string, std::string>>{
                                    {"Running", "1"}, {"Tree_Path1", "run\\"}}));

  // Without dividends there is no equilibrium price, but no failure either; a configuration that
  // cannot be read is an error naming the file, the key and the value.
  fs::remove(d / "run/Dstar.txt");
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
    std::tie(r[kTwealth1], r[kSucceedNo], r[kAveDepth], r[kVarDepth]) =
        std::tuple(0.2 + g * 1e-4, g, 3, 4);
    t.Rows.push_back(r);
  }
  RunInfo info = Info(20, 60);
  info.IniPath = "runs/a<b>/Zupo.ini";
  info.Sections = {{"Common", {{"BinarySet", "+\\-\\*\\%\\"}, {"Note", "a&b <i>"}}}};
  RunSummary s = Summarize("r", info, t);
  std::vector<ReportChart> charts = ReportCharts(t, info, s);
  std::string h = ReportHtml(info, s, charts, {"Stopped at <60>"});
  ASSERT_EQ(charts.size(), 7u); // their files and pictures: the end-to-end test
  for (const ReportChart& c : charts)
    EXPECT_TRUE(!c.Caption.empty() &&
                h.find("<figcaption>" + c.Caption + "</figcaption>") != std::string::npos)
        << c.File;
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
  EXPECT_EQ(std::pair(depth.Low.front(), depth.High.front()), std::pair(1.0, 5.0));
  EXPECT_EQ(LineNamed(charts[5], "SucceedNo").Y, (std::vector<double>{21, 41}));
  const ChartLine& w1 = LineNamed(charts[6], "Twealth1");
  EXPECT_EQ(std::pair(w1.X.size(), w1.Y[20]), std::pair(size_t{58}, 0.2 + 22 * 1e-4));
  // No equilibrium line without its price.
  s.PriceRee = std::nan("");
  EXPECT_EQ(ReportCharts(t, info, s)[0].Chart.Lines.size(), 1u);
}

const std::string kHeader =
    "GEN          P(t+1)    D(t+1) BuyNo SellNo BeSNo     TotalBid  TotalOffer Twealth1  "
    "Twealth2  Twealth3  Twealth4  Twealth5  AveDepth    AveNode   AveHi      AveVijs       "
    "AveSigma    VarDepth     VarNode    VarHi        VarVijs        VarSigma    SucceedNo     "
    "MartingaleNo  VisitGenNo   VisitLibNo\r\n";
const std::string kRow1 =
    "    1        80.28329  11.29  488     12      0     386.74151   11.32681  0.20000   0.20000 "
    "  0.20000   0.20000   0.20000   3.00400     5.33800   1.00000    95.06842       2.91109    "
    "2.72398     28.75176    0.02279     237.90203        0.00000      0             0          "
    "   0            0\r\n";
// A later row of the same run, as generation 2.
const std::string kRow2 =
    "    2        81.51502  13.74  204    290      6     204.88045   59.44348  0.19988   0.20009 "
    "  0.19999   0.20002   0.20002   2.83200     4.98200   1.00000    98.16489       6.32396    "
    "2.65178     27.82568    0.11415     295.47657       84.61747    120            10          "
    " 344            0\r\n";

Data1Table ReadText(const TempDir& d, const std::string& text) {
  test::WriteText(d / "Data1.txt", text);
  return ReadData1(d / "Data1.txt");
}

std::string Replace(std::string s, const std::string& from, const std::string& to) {
  return s.replace(s.find(from), from.size(), to);
}

TEST(ReadData1, RowsComeBackColumnByColumnWithoutAPartialLastRowOrAreRefusedNamingTheLine) {
  TempDir d;
  Data1Table t = ReadText(d, kHeader + kRow1 + kRow2);
  ASSERT_EQ(std::pair(t.Rows.size(), t.PartialLastRow), std::pair(size_t{2}, false));
  // Columns are told apart by position: neighbours and the last ones.
  const auto& r = t.Rows[1];
  EXPECT_EQ(std::tuple(r[kDividend], r[kSellNo], r[kVarSigma], r[kSucceedNo], r[kMartingaleNo],
                       r[kVisitGenNo]),
            std::tuple(13.74, 290, 84.61747, 120, 10, 344));
  EXPECT_TRUE(RowsFrom(t, 3).Rows.empty());
  // Line-feed-only files read the same.
  std::string lf = kHeader + kRow1 + kRow2;
  std::erase(lf, '\r');
  EXPECT_EQ(ReadText(d, lf).Rows, t.Rows);

  // A last row still being written is left out, even when it looks complete.
  for (auto [text, rows, partial] :
       {std::tuple{kHeader + kRow1 + kRow2.substr(0, kRow2.size() - 2), size_t{1}, true},
        {kHeader + kRow1.substr(0, 40), 0, true},
        {kHeader, 0, false}}) {
    Data1Table read = ReadText(d, text);
    EXPECT_EQ(std::pair(read.Rows.size(), read.PartialLastRow), std::pair(rows, partial)) << text;
  }
  // A malformed file is an error naming the file and line (the message after "<path>"); a missing
  // one is named by the end-to-end test.
  const std::pair<std::string, std::string> malformed[] = {
      {"", ": the statistics table is empty (no header)"},
      {kRow1 + kRow2, " line 1: not the header of a statistics table"},
      {kHeader + kRow1 + Replace(kRow2, "204.88045", "204.8x045"),
       " line 3: field 7 \"204.8x045\" is not a number"},
      {kHeader + kRow1 + Replace(kRow2, " 13.74", ""), " line 3: 26 fields, a row has 27"},
      {kHeader + Replace(kRow1, "\r\n", " 7\r\n"), " line 2: 28 fields, a row has 27"},
      {kHeader + kRow1 + kRow2 + kRow2, " line 4: generation 2 does not follow generation 2"},
      {kHeader + Replace(kRow1, "    1 ", "    0 "), " line 2: \"0\" is not a generation number"},
      {kHeader + Replace(kRow1, "    1 ", "  1.5 "), " line 2: \"1.5\" is not a generation number"},
  };
  for (const auto& [text, message] : malformed) {
    test::WriteText(d / "Data1.txt", text);
    EXPECT_TRUE(test::FailsNaming([&] { ReadData1(d / "Data1.txt"); }, d / "Data1.txt" + message))
        << message;
  }
}

// The series of the reference script: a 32-bit LCG, uniforms (s + 0.5) / 2^32, Box-Muller pairs.
std::vector<double> Normals(uint32_t s, size_t n) {
  auto uniform = [&s] {
    s = s * 1664525u + 1013904223u;
    return (s + 0.5) / 4294967296.0;
  };
  std::vector<double> out;
  while (out.size() < n) {
    double u1 = uniform(), u2 = uniform();
    double r = std::sqrt(-2 * std::log(u1));
    out.push_back(r * std::cos(2 * std::numbers::pi * u2));
    out.push_back(r * std::sin(2 * std::numbers::pi * u2));
  }
  out.resize(n);
  return out;
}

// ARCH(1): e(t) = sqrt(0.2 + 0.7 e(t-1)^2) z(t): volatility clusters, fat tails.
std::vector<double> ArchSeries(uint32_t seed, size_t n) {
  std::vector<double> e = Normals(seed, n);
  double prev = 0;
  for (double& v : e) prev = v = std::sqrt(0.2 + 0.7 * prev * prev) * v;
  return e;
}

// Values computed independently by a pure-Python script with its own formulas (Gram-Schmidt least
// squares for the ARCH regression, closed-form chi-squared tails).
TEST(Stats, EveryStatisticOfTheReferenceSeriesMatchesTheIndependentValue) {
  struct Expected {
    const char* Name;
    std::vector<double> X;
    // Mean, sd, skewness, excess kurtosis, Jarque-Bera and p, acf 1..3, Ljung-Box of x and p,
    // of |x| and p, ARCH LM and p, Hill.
    std::vector<double> Want;
  };
  const Expected series[] = {
      {"iid_normal",
       Normals(12345, 500),
       {-0.019787601329564, 0.900715826423432, -0.254132972101611, 0.461883369706538,
        9.82646910933871, 0.00734868014001674, 0.0161611821413676, 0.0261545999930132,
        0.0498634323881971, 4.82047167969422, 0.902843374205582, 7.55394352543901,
        0.672316519070129, 3.11680899079931, 0.681982880889448, 5.29930630749165}},
      {"arch1",
       ArchSeries(777, 500),
       {0.0109662130776852, 0.853859870946877, 0.772645219804002, 14.6058035099967,
        4494.11288990367, 0, -0.0692320547661599, -0.0616235246755704, 0.125844838270993,
        16.8842601385655, 0.0769645614288471, 228.329474052446, 1.92375712949477e-43,
        189.730415244229, 4.4610469241124e-39, 2.80647746789299}},
  };
  for (const Expected& e : series) {
    SCOPED_TRACE(e.Name);
    Moments m = ComputeMoments(e.X);
    TestResult jb = JarqueBera(e.X), lb = LjungBox(e.X, 10), arch = ArchLm(e.X, 5);
    std::vector<double> acf = Autocorrelations(e.X, 3), absx;
    for (double v : e.X) absx.push_back(std::fabs(v));
    TestResult lba = LjungBox(absx, 10);
    const double got[] = {
        m.Mean, m.Sd,    m.Skew, m.ExKurt, jb.Stat, jb.P,      acf[0], acf[1],
        acf[2], lb.Stat, lb.P,   lba.Stat, lba.P,   arch.Stat, arch.P, HillTailIndex(e.X, 0.05)};
    // Relative agreement to 1e-9; p-values below 1e-200 count as zero (they underflow differently).
    for (size_t i = 0; i < std::size(got); ++i) {
      const double want = e.Want.at(i);
      EXPECT_NEAR(got[i], want, want == 0 ? 1e-200 : 1e-9 * std::fabs(want) + 1e-15) << i;
    }
  }
}

// Flat or short series; lags beyond the series are undefined, the others are not.
TEST(Stats, UndefinedWhereTheSeriesCannotDefineThem) {
  const std::vector<double> flat(50, 3.0), few{0.1, -0.2, 0.3}, acf = Autocorrelations(few, 4);
  for (double v : {Autocorrelations(flat, 1)[0], ArchLm(flat, 5).Stat, HillTailIndex(flat, 0.05),
                   LjungBox(few, 10).P, ArchLm(few, 5).P, HillTailIndex(few, 0.05), acf[3],
                   ComputeMoments(std::vector<double>{1.0}).Sd})
    EXPECT_TRUE(std::isnan(v)) << v;
  EXPECT_FALSE(std::isnan(acf[1]));
}

// Runs a shell command; its exit status, with stdout and stderr in *out.
int Shell(const std::string& cmd, const TempDir& d, std::string* out = nullptr) {
  int rc = std::system((cmd + " >" + d / "out.txt" + " 2>&1").c_str());
  if (out) *out = test::ReadText(d / "out.txt");
  return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
}

// summary.csv (a header and one row) as key -> text.
std::map<std::string, std::string> ReadSummaryCsv(const std::string& path) {
  std::istringstream in(test::ReadText(path));
  std::string head, row;
  std::getline(std::getline(in, head), row);
  std::istringstream keys(head), values(row);
  std::map<std::string, std::string> m;
  for (std::string k, v; std::getline(keys, k, ',') && std::getline(values, v, ',');) m[k] = v;
  EXPECT_EQ(m.size(), 26u) << head << "\n" << row;
  return m;
}

// The finished run, then the same folder stopped early, then without its table.
TEST(ReportEndToEnd, FinishedRunStoppedRunAndMissingTable) {
  TempDir d;
  fs::copy(ZUPO_SOURCE_DIR "/examples/default", d.Path(), fs::copy_options::recursive);
  IniWrite(d / "Zupo.ini", "Traders", "Gen_No", "300");
  std::string out, report = d / "report/";
  ASSERT_EQ(Shell(std::string(ZUPO_CLI) + " --seed 3 --quiet --report " + d.Path(), d, &out), 0)
      << out;
  EXPECT_NE(out.find(report + "report.html"), std::string::npos) << out;
  std::string html = test::ReadText(report + "report.html");
  for (std::string png :
       {"price", "returns", "acf", "distribution", "models", "school", "wealth"}) {
    QImage img(QString::fromStdString(report + png + ".png"), "PNG");
    EXPECT_EQ(img.size(), QSize(900, 500)) << png;
    EXPECT_NE(html.find("src=\"" + png + ".png\""), std::string::npos) << png;
  }
  std::map<std::string, std::string> row = ReadSummaryCsv(report + "summary.csv");
  EXPECT_EQ(row["run_dir"] + " " + row["generations"] + " " + row["complete"],
            d.Path() + "/ 300 1");
  EXPECT_NEAR(std::stod(row["price_ree"]), 80, 0.5); // dividends of mean 10, variance 4
  for (const auto& [k, v] : row) {                   // 300 generations define every figure
    if (k == "run_dir") continue;
    size_t used = 0;
    double x = std::stod(v, &used);
    EXPECT_TRUE(used == v.size() && std::isfinite(x)) << k << "=" << v;
  }
  EXPECT_NE(test::ReadText(report + "summary.json").find("\"last_gen\": 300,"), std::string::npos);

  // Keep the header and rows 1..150, and half of row 151 as if the run were writing it.
  fs::remove_all(report);
  std::string data1 = test::ReadText(d / "run/Data1.txt");
  size_t pos = 0;
  for (int line = 0; line < 151; ++line) pos = data1.find('\n', pos) + 1;
  test::WriteText(d / "run/Data1.txt", data1.substr(0, pos + 30));
  IniWrite(d / "Zupo.ini", "Common", "Running", "1");
  std::string cmd = std::string(ZUPO_REPORT) + " " + d.Path() + " --from 20 --out " + d / "rep";
  ASSERT_EQ(Shell(cmd, d, &out), 0) << out;
  row = ReadSummaryCsv(d / "rep/summary.csv");
  EXPECT_EQ(row["first_gen"] + " " + row["last_gen"] + " " + row["complete"], "20 150 0");
  html = test::ReadText(d / "rep/report.html");
  for (const char* note :
       {"The run has not reached Gen_No = 300: it is reported up to generation 150, the last "
        "complete row of Data1.txt (Running=1: the run is still going, or it ended without "
        "closing).",
        "The last row of Data1.txt was still being written and is left out.",
        "Burn-in left out: generations before 20."})
    EXPECT_NE(html.find(note), std::string::npos) << note;

  // Without the table the program names the file and writes no report.
  fs::remove(d / "run/Data1.txt");
  ASSERT_EQ(Shell(std::string(ZUPO_REPORT) + " " + d.Path(), d, &out), 1);
  EXPECT_EQ(out, "zupo-report: " + d / "run/Data1.txt" + ": the statistics table does not exist\n");
  EXPECT_FALSE(fs::exists(report));
}

// Pixels close to a pure colour: the line's pen, blended a little by antialiasing.
int PixelsNear(const QImage& img, QRgb rgb) {
  int n = 0;
  for (int y = 0; y < img.height(); ++y)
    for (int x = 0; x < img.width(); ++x) {
      int d = 0;
      for (int shift : {0, 8, 16})
        d += std::abs(int(img.pixel(x, y) >> shift & 0xFF) - int(rgb >> shift & 0xFF));
      n += d < 40;
    }
  return n;
}

ChartLine Line(std::vector<double> y, uint32_t rgb) {
  ChartLine l;
  l.Rgb = rgb;
  l.Y = std::move(y);
  for (size_t i = 0; i < l.Y.size(); ++i) l.X.push_back(static_cast<double>(i + 1));
  return l;
}

// Each chart is written at its size with every line's colour drawn; a constant series and one
// with no drawable value still give a chart. A path that cannot be written is named.
TEST(ChartPng, WritesPngOfRequestedSizeWithEveryLineOrNamesThePath) {
  ChartLayout price{"Price", "generation", "price", {}, false, 640, 360};
  price.Lines.push_back(Line({80, 82, 79, 85, 90, 88, 86}, 0x0000C0));
  ChartLine ree = Line(std::vector<double>(7, 84), 0xC00000);
  ree.Name = "equilibrium";
  ree.Dashed = true;
  price.Lines.push_back(ree);
  ChartLayout density{"Density", "z", "density", {}, true, 500, 400};
  // Zeros and a negative value cannot be drawn on a log axis and are left out.
  ChartLine pts = Line({0.4, 0.2, 0.0, 0.05, -1, 0.001}, 0x008000);
  pts.Points = true;
  pts.Name = "observed";
  density.Lines.push_back(pts);
  ChartLayout band{"Band", "lag", "acf", {}, false, 400, 300};
  ChartLine l = Line({0.5, 0.1, -0.1, 0.0}, 0x0000FF);
  l.Low = {-0.2, -0.2, -0.2, -0.2};
  l.High = {0.2, 0.2, 0.2, 0.2};
  band.Lines.push_back(l);
  ChartLayout flat{"Flat", "", "", {}, false, 300, 200};
  flat.Lines.push_back(Line({5, 5, 5}, 0xC00000));
  flat.Lines.push_back(Line({std::nan(""), std::numeric_limits<double>::infinity()}, 0x00C000));

  const std::pair<ChartLayout, std::vector<uint32_t>> cases[] = {
      {price, {0x0000C0, 0xC00000}}, {density, {0x008000}}, {band, {0x0000FF}}, {flat, {0xC00000}}};
  TempDir d;
  for (const auto& [chart, colours] : cases) {
    SCOPED_TRACE(chart.Title);
    SaveChartPng(chart, d / "chart.png");
    QImage img(QString::fromStdString(d / "chart.png"), "PNG");
    EXPECT_EQ(img.size(), QSize(chart.Width, chart.Height));
    for (uint32_t rgb : colours) EXPECT_GT(PixelsNear(img, rgb), 20) << std::hex << rgb;
  }
  const std::string path = d / "no-such-folder/chart.png";
  EXPECT_TRUE(test::FailsNaming([&] { SaveChartPng(flat, path); }, path));
}

} // namespace
} // namespace zupo
