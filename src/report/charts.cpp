#include "report/charts.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numbers>

#include "report/stats.h"

namespace zupo {
namespace {

constexpr int kMaxLag = 50;

ChartLine Series(const std::string& name, std::vector<double> x, std::vector<double> y,
                 uint32_t rgb) {
  ChartLine l;
  l.Name = name;
  l.X = std::move(x);
  l.Y = std::move(y);
  l.Rgb = rgb;
  return l;
}

// Numbers in a caption: six significant digits are plenty to read.
std::string Fig(double v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.6g", v);
  return buf;
}

ReportChart PriceChart(const Data1Table& t, const RunInfo& info, const RunSummary& s) {
  ReportChart c{"price.png", "", {"Price by generation", "generation", "price", {}}};
  std::vector<double> gen = t.Column(kGen);
  c.Chart.Lines.push_back(Series("price P(t+1)", gen, t.Column(kPrice), 0x1F4E9C));
  if (std::isfinite(s.PriceRee) && !gen.empty()) {
    ChartLine ree = Series("equilibrium price P*", {gen.front(), gen.back()},
                           {s.PriceRee, s.PriceRee}, 0xC00000);
    ree.Dashed = true;
    c.Chart.Lines.push_back(ree);
  }
  c.Caption = "Price after each generation's clearing. Dashed: the price of homogeneous traders "
              "with rational expectations, P* = (mean D &minus; &lambda;&middot;Var(D)&middot;H0) "
              "/ r = (" +
              Fig(info.DividendMean) + " &minus; " + Fig(info.Lambda) + "&middot;" +
              Fig(info.DividendVar) + "&middot;" + Fig(info.H0) + ") / " + Fig(info.Irate) + " = " +
              Fig(s.PriceRee) + ", with D the dividend series Dstar.txt.";
  return c;
}

ReportChart ReturnsChart(const ReturnSeries& r) {
  ReportChart c{"returns.png",
                "Log return ln(P(t+1) / P(t)) of each generation.",
                {"Log returns by generation", "generation", "log return", {}}};
  c.Chart.Lines.push_back(Series("", r.Gen, r.Ret, 0x1F4E9C));
  return c;
}

ReportChart AcfChart(const ReturnSeries& r) {
  std::vector<double> absr;
  for (double x : r.Ret) absr.push_back(std::fabs(x));
  std::vector<double> lags;
  for (int k = 1; k <= kMaxLag; ++k) lags.push_back(k);
  double band = r.Ret.empty() ? 0 : 1.96 / std::sqrt(static_cast<double>(r.Ret.size()));
  ReportChart c{"acf.png",
                "Autocorrelation of returns and of absolute returns at lags 1 to 50; the grey "
                "band is &plusmn;1.96/&radic;n (n = " +
                    std::to_string(r.Ret.size()) +
                    "), where 95 % of an independent series' autocorrelations fall.",
                {"Autocorrelation", "lag", "autocorrelation", {}}};
  ChartLine zero =
      Series("\u00B11.96/\u221An", lags, std::vector<double>(lags.size(), 0), 0x808080);
  zero.Low.assign(lags.size(), -band);
  zero.High.assign(lags.size(), band);
  c.Chart.Lines.push_back(zero);
  ChartLine ret = Series("returns", lags, Autocorrelations(r.Ret, kMaxLag), 0x1F4E9C);
  ChartLine abs = Series("absolute returns", lags, Autocorrelations(absr, kMaxLag), 0xC00000);
  c.Chart.Lines.push_back(ret);
  c.Chart.Lines.push_back(abs);
  return c;
}

ReportChart DistributionChart(const ReturnSeries& r) {
  Moments m = ComputeMoments(r.Ret);
  std::vector<double> z;
  if (m.Sd > 0)
    for (double x : r.Ret) z.push_back((x - m.Mean) / m.Sd);
  Histogram h = DensityHistogram(z, 0.25);
  ReportChart c{"distribution.png",
                "Distribution of standardised returns (return minus mean, divided by the standard "
                "deviation; bins of 0.25) against the standard normal density, on a log scale: "
                "points above the curve in the tails are fat tails.",
                {"Standardised returns against the normal density",
                 "standardised return",
                 "density",
                 {},
                 true}};
  ChartLine obs = Series("observed", h.X, h.Y, 0x1F4E9C);
  obs.Points = true;
  c.Chart.Lines.push_back(obs);
  std::vector<double> nx, ny;
  double lo = h.X.empty() ? -4 : std::min(-4.0, h.X.front()),
         hi = h.X.empty() ? 4 : std::max(4.0, h.X.back());
  // The curve stops a decade below the rarest observed bin, so that the value axis spans the
  // data rather than the normal's far tails.
  double floor = 1e-4;
  for (double y : h.Y)
    if (y > 0) floor = std::min(floor, y / 10);
  for (double x = lo; x <= hi + 1e-9; x += 0.05) {
    double y = std::exp(-x * x / 2) / std::sqrt(2 * std::numbers::pi);
    if (y < floor) continue;
    nx.push_back(x);
    ny.push_back(y);
  }
  c.Chart.Lines.push_back(Series("normal density", nx, ny, 0xC00000));
  return c;
}

ReportChart ModelsChart(const Data1Table& t) {
  ReportChart c{"models.png",
                "Mean depth and mean size (nodes) of the traders' models; the light bands are "
                "&plusmn; one standard deviation across the 500 traders.",
                {"Model depth and size by generation", "generation", "depth / nodes", {}}};
  std::vector<double> gen = t.Column(kGen);
  auto withBand = [&](const char* name, Data1Col mean, Data1Col var, uint32_t rgb) {
    ChartLine l = Series(name, gen, t.Column(mean), rgb);
    for (const auto& row : t.Rows) {
      double sd = std::sqrt(std::max(row[var], 0.0));
      l.Low.push_back(std::max(row[mean] - sd, 0.0));
      l.High.push_back(row[mean] + sd);
    }
    return l;
  };
  c.Chart.Lines.push_back(withBand("mean depth (AveDepth)", kAveDepth, kVarDepth, 0x1F4E9C));
  c.Chart.Lines.push_back(withBand("mean size (AveNode)", kAveNode, kVarNode, 0xC00000));
  return c;
}

ReportChart SchoolChart(const Data1Table& t, const RunInfo& info) {
  ReportChart c{"school.png",
                "The school in each learning generation (every " + std::to_string(info.G_Gap) +
                    "): traders that visited it (VisitGenNo: among the others' models, "
                    "VisitLibNo: in the library), that found a better model (SucceedNo), and "
                    "traders with a martingale forecast (MartingaleNo).",
                {"The school by learning generation", "generation", "traders", {}}};
  std::vector<double> gen, succeed, martingale, visitGen, visitLib;
  for (const auto& row : t.Rows) {
    if (!IsLearningGen(static_cast<int>(row[kGen]), info.G_Gap)) continue;
    gen.push_back(row[kGen]);
    succeed.push_back(row[kSucceedNo]);
    martingale.push_back(row[kMartingaleNo]);
    visitGen.push_back(row[kVisitGenNo]);
    visitLib.push_back(row[kVisitLibNo]);
  }
  c.Chart.Lines.push_back(Series("VisitGenNo", gen, visitGen, 0x1F4E9C));
  c.Chart.Lines.push_back(Series("VisitLibNo", gen, visitLib, 0x2E8B57));
  c.Chart.Lines.push_back(Series("SucceedNo", gen, succeed, 0xC00000));
  c.Chart.Lines.push_back(Series("MartingaleNo", gen, martingale, 0x9A6A00));
  return c;
}

ReportChart WealthChart(const Data1Table& t, const RunInfo& info) {
  // A learning generation ranks the traders right after their period profit was reset to zero,
  // so its ranking is the order of ties and its shares say nothing; those rows are left out.
  const bool skipLearning = info.G_Gap > 1;
  ReportChart c{"wealth.png",
                std::string("Share of total wealth held by the traders ranked 1-100 (Twealth1) to "
                            "401-500 (Twealth5) by profit since the last learning generation; "
                            "0.2 each is an equal division.") +
                    (skipLearning ? " Learning generations, whose ranking is by a profit just "
                                    "reset to zero, are left out."
                                  : ""),
                {"Wealth shares by generation", "generation", "share of total wealth", {}}};
  const Data1Col cols[] = {kTwealth1, kTwealth2, kTwealth3, kTwealth4, kTwealth5};
  const uint32_t rgb[] = {0x1F4E9C, 0x2E8B57, 0x9A6A00, 0x8E44AD, 0xC00000};
  for (int g = 0; g < 5; ++g) {
    ChartLine l = Series("Twealth" + std::to_string(g + 1), {}, {}, rgb[g]);
    for (const auto& row : t.Rows) {
      if (skipLearning && IsLearningGen(static_cast<int>(row[kGen]), info.G_Gap)) continue;
      l.X.push_back(row[kGen]);
      l.Y.push_back(row[cols[g]]);
    }
    c.Chart.Lines.push_back(l);
  }
  return c;
}

} // namespace

Histogram DensityHistogram(const std::vector<double>& z, double width) {
  Histogram h;
  if (z.empty() || !(width > 0)) return h;
  auto [mn, mx] = std::minmax_element(z.begin(), z.end());
  double lo = std::floor(*mn), hi = std::max(std::ceil(*mx), lo + width);
  size_t bins = static_cast<size_t>(std::ceil((hi - lo) / width - 1e-9));
  std::vector<size_t> count(bins, 0);
  for (double v : z) {
    size_t b = static_cast<size_t>((v - lo) / width);
    ++count[std::min(b, bins - 1)];
  }
  for (size_t b = 0; b < bins; ++b) {
    h.X.push_back(lo + (b + 0.5) * width);
    h.Y.push_back(count[b] / (z.size() * width));
  }
  return h;
}

std::vector<ReportChart> ReportCharts(const Data1Table& table, const RunInfo& info,
                                      const RunSummary& summary) {
  ReturnSeries r = LogReturns(table);
  return {PriceChart(table, info, summary),
          ReturnsChart(r),
          AcfChart(r),
          DistributionChart(r),
          ModelsChart(table),
          SchoolChart(table, info),
          WealthChart(table, info)};
}

} // namespace zupo
