#include "report/summary.h"

#include <cmath>
#include <cstdio>
#include <limits>

#include "report/stats.h"

namespace zupo {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

double MeanOf(const std::vector<double>& v) {
  if (v.empty()) return kNaN;
  long double s = 0;
  for (double x : v) s += x;
  return static_cast<double>(s / v.size());
}

std::string CsvField(const std::string& s) {
  if (s.find_first_of(",\"\r\n") == std::string::npos) return s;
  std::string q = "\"";
  for (char c : s) {
    if (c == '"') q += '"';
    q += c;
  }
  return q + "\"";
}

std::string JsonString(const std::string& s) {
  std::string q = "\"";
  for (unsigned char c : s) {
    if (c == '"' || c == '\\') {
      q += '\\';
      q += static_cast<char>(c);
    } else if (c < 0x20) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\u%04x", c);
      q += buf;
    } else {
      q += static_cast<char>(c);
    }
  }
  return q + "\"";
}

} // namespace

ReturnSeries LogReturns(const Data1Table& table) {
  ReturnSeries r;
  for (size_t i = 1; i < table.Rows.size(); ++i) {
    const auto &prev = table.Rows[i - 1], &cur = table.Rows[i];
    if (cur[kGen] != prev[kGen] + 1 || !(prev[kPrice] > 0) || !(cur[kPrice] > 0)) continue;
    r.Gen.push_back(cur[kGen]);
    r.Ret.push_back(std::log(cur[kPrice] / prev[kPrice]));
  }
  return r;
}

bool IsLearningGen(int gen, int gGap) {
  if (gen < 2 || gGap < 1) return false;
  return gGap == 1 || gen % gGap == 1;
}

RunSummary Summarize(const std::string& runDir, const RunInfo& info, const Data1Table& table) {
  RunSummary s;
  s.RunDir = runDir;
  s.FirstGen = table.FirstGen();
  s.LastGen = table.LastGen();
  s.Generations = static_cast<int>(table.Rows.size());
  s.Complete = !table.Rows.empty() && s.LastGen >= info.Gen_No;

  std::vector<double> price = table.Column(kPrice);
  Moments pm = ComputeMoments(price);
  s.PriceMean = pm.Mean;
  s.PriceSd = pm.Sd;
  s.PriceRee =
      EquilibriumPrice(info.DividendMean, info.DividendVar, info.Lambda, info.H0, info.Irate);
  std::vector<double> dev;
  for (double p : price) dev.push_back(std::fabs(p - s.PriceRee));
  s.PriceMadRee = MeanOf(dev);

  ReturnSeries rs = LogReturns(table);
  const std::vector<double>& r = rs.Ret;
  s.Returns = static_cast<int>(r.size());
  Moments rm = ComputeMoments(r);
  s.RetMean = rm.Mean;
  s.RetSd = rm.Sd;
  s.RetSkew = rm.Skew;
  s.RetExKurt = rm.ExKurt;
  TestResult jb = JarqueBera(r);
  s.JbStat = jb.Stat;
  s.JbP = jb.P;
  std::vector<double> absr;
  for (double x : r) absr.push_back(std::fabs(x));
  TestResult lb = LjungBox(r, 10), lba = LjungBox(absr, 10), arch = ArchLm(r, 5);
  s.Lb10Ret = lb.Stat;
  s.Lb10RetP = lb.P;
  s.Lb10AbsRet = lba.Stat;
  s.Lb10AbsRetP = lba.P;
  s.Arch5Lm = arch.Stat;
  s.Arch5P = arch.P;
  s.HillTop5 = HillTailIndex(absr, 0.05);

  std::vector<double> succeed, martingale, visitGen, visitLib;
  for (const auto& row : table.Rows) {
    if (!IsLearningGen(static_cast<int>(row[kGen]), info.G_Gap)) continue;
    succeed.push_back(row[kSucceedNo]);
    martingale.push_back(row[kMartingaleNo]);
    visitGen.push_back(row[kVisitGenNo]);
    visitLib.push_back(row[kVisitLibNo]);
  }
  s.LearningGens = static_cast<int>(succeed.size());
  s.SucceedMean = MeanOf(succeed);
  s.MartingaleMean = MeanOf(martingale);
  s.VisitGenMean = MeanOf(visitGen);
  s.VisitLibMean = MeanOf(visitLib);
  return s;
}

std::string FormatFigure(double v) {
  if (std::isnan(v)) return "nan";
  if (std::isinf(v)) return v > 0 ? "inf" : "-inf";
  char buf[40];
  std::snprintf(buf, sizeof buf, "%.12g", v);
  return buf;
}

std::vector<SummaryField> SummaryFields(const RunSummary& s) {
  auto num = [](const char* key, double v, const char* label) {
    return SummaryField{key, FormatFigure(v), label, true};
  };
  auto integer = [](const char* key, int v, const char* label) {
    return SummaryField{key, std::to_string(v), label, true};
  };
  return {
      {"run_dir", s.RunDir, "Run folder", false},
      integer("first_gen", s.FirstGen, "First generation reported"),
      integer("last_gen", s.LastGen, "Last generation reported"),
      integer("generations", s.Generations, "Generations reported"),
      integer("complete", s.Complete ? 1 : 0, "Run reached Gen_No (1) or not (0)"),
      num("price_mean", s.PriceMean, "Mean price"),
      num("price_sd", s.PriceSd, "Standard deviation of the price"),
      num("price_ree", s.PriceRee, "Rational-expectations equilibrium price P*"),
      num("price_mad_ree", s.PriceMadRee, "Mean absolute deviation of the price from P*"),
      num("ret_mean", s.RetMean, "Mean log return"),
      num("ret_sd", s.RetSd, "Standard deviation of log returns"),
      num("ret_skew", s.RetSkew, "Skewness of log returns"),
      num("ret_exkurt", s.RetExKurt, "Excess kurtosis of log returns"),
      num("jb_stat", s.JbStat, "Jarque-Bera statistic"),
      num("jb_p", s.JbP, "Jarque-Bera p-value (chi-squared, 2 df)"),
      num("lb10_ret", s.Lb10Ret, "Ljung-Box Q(10) of returns"),
      num("lb10_ret_p", s.Lb10RetP, "Ljung-Box Q(10) of returns: p-value"),
      num("lb10_absret", s.Lb10AbsRet, "Ljung-Box Q(10) of absolute returns"),
      num("lb10_absret_p", s.Lb10AbsRetP, "Ljung-Box Q(10) of absolute returns: p-value"),
      num("arch5_lm", s.Arch5Lm, "ARCH LM statistic, 5 lags"),
      num("arch5_p", s.Arch5P, "ARCH LM p-value (chi-squared, 5 df)"),
      num("hill_top5", s.HillTop5, "Hill tail index of absolute returns, top 5 %"),
      num("succeed_mean", s.SucceedMean, "Mean SucceedNo per learning generation"),
      num("martingale_mean", s.MartingaleMean, "Mean MartingaleNo per learning generation"),
      num("visitgen_mean", s.VisitGenMean, "Mean VisitGenNo per learning generation"),
      num("visitlib_mean", s.VisitLibMean, "Mean VisitLibNo per learning generation"),
  };
}

std::string SummaryCsv(const RunSummary& s) {
  std::string head, row;
  for (const SummaryField& f : SummaryFields(s)) {
    if (!head.empty()) {
      head += ',';
      row += ',';
    }
    head += f.Key;
    row += CsvField(f.Text);
  }
  return head + "\n" + row + "\n";
}

std::string SummaryJson(const RunSummary& s) {
  std::string out = "{\n";
  std::vector<SummaryField> fields = SummaryFields(s);
  for (size_t i = 0; i < fields.size(); ++i) {
    const SummaryField& f = fields[i];
    bool undefined = f.Text == "nan" || f.Text == "inf" || f.Text == "-inf";
    std::string v = !f.IsNumber ? JsonString(f.Text) : undefined ? "null" : f.Text;
    out += "  " + JsonString(f.Key) + ": " + v + (i + 1 < fields.size() ? ",\n" : "\n");
  }
  return out + "}\n";
}

} // namespace zupo
