// The report's charts (as descriptions, before drawing) and its HTML page.
#include <cmath>
#include <gtest/gtest.h>

#include "report/charts.h"
#include "report/html.h"

namespace zupo {
namespace {

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

struct Fixture {
  Data1Table Table;
  RunInfo Info;
  RunSummary Summary;
};

// Generations 1..60 with G_Gap 20: learning generations 21 and 41.
Fixture Make() {
  Fixture f;
  for (int g = 1; g <= 60; ++g) {
    std::array<double, kData1Cols> r{};
    r[kGen] = g;
    r[kPrice] = 80 + (g % 7);
    r[kTwealth1] = 0.2 + g * 1e-4;
    r[kSucceedNo] = g;
    r[kAveDepth] = 3;
    r[kVarDepth] = 4;
    f.Table.Rows.push_back(r);
  }
  f.Info.Irate = 0.1;
  f.Info.Lambda = 0.5;
  f.Info.H0 = 1;
  f.Info.G_Gap = 20;
  f.Info.Gen_No = 60;
  f.Info.DividendMean = 10;
  f.Info.DividendVar = 4;
  f.Summary = Summarize("r", f.Info, f.Table);
  return f;
}

const ChartLine& LineNamed(const ReportChart& c, const std::string& name) {
  for (const ChartLine& l : c.Chart.Lines)
    if (l.Name == name) return l;
  throw std::runtime_error("no line " + name + " in " + c.File);
}

TEST(ReportCharts, TheSevenChartsWithTheirData) {
  Fixture f = Make();
  std::vector<ReportChart> charts = ReportCharts(f.Table, f.Info, f.Summary);
  std::vector<std::string> files;
  for (const ReportChart& c : charts) {
    files.push_back(c.File);
    EXPECT_FALSE(c.Caption.empty()) << c.File;
  }
  EXPECT_EQ(files,
            (std::vector<std::string>{"price.png", "returns.png", "acf.png", "distribution.png",
                                      "models.png", "school.png", "wealth.png"}));

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
  f.Summary.PriceRee = std::nan("");
  EXPECT_EQ(ReportCharts(f.Table, f.Info, f.Summary)[0].Chart.Lines.size(), 1u);
}

TEST(ReportHtml, NamesEveryChartAndEscapesWhatComesFromFiles) {
  Fixture f = Make();
  f.Info.IniPath = "runs/a<b>/Zupo.ini";
  f.Info.Sections = {{"Common", {{"BinarySet", "+\\-\\*\\%\\"}, {"Note", "a&b <i>"}}}};
  std::vector<ReportChart> charts = ReportCharts(f.Table, f.Info, f.Summary);
  std::string h = ReportHtml(f.Info, f.Summary, charts, {"Stopped at <60>"});
  for (const ReportChart& c : charts) {
    EXPECT_NE(h.find("<img src=\"" + c.File + "\""), std::string::npos) << c.File;
    EXPECT_NE(h.find("<figcaption>" + c.Caption + "</figcaption>"), std::string::npos);
  }
  EXPECT_NE(h.find("<p class=\"note\">Stopped at &lt;60&gt;</p>"), std::string::npos);
  EXPECT_NE(h.find("runs/a&lt;b&gt;/Zupo.ini"), std::string::npos);
  EXPECT_NE(h.find("<td>Note</td><td><code>a&amp;b &lt;i&gt;</code></td>"), std::string::npos);
  EXPECT_NE(h.find("<td class=\"num\">80</td><td><code>price_ree</code></td>"), std::string::npos);
  EXPECT_EQ(h.find("http"), std::string::npos); // nothing fetched from the network
}

} // namespace
} // namespace zupo
