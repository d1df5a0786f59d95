#pragma once
// The figures of a run report: price against equilibrium, the stylized facts of returns and the
// school's activity, and their two file forms (one CSV row with a header, a JSON object).
#include <limits>
#include <string>
#include <vector>

#include "report/data1.h"
#include "report/runinfo.h"

namespace zupo {

// Log price returns ln(P(t+1) / P(t)) between consecutive rows; a pair of rows whose generations
// are not consecutive or whose prices are not both positive gives no return.
struct ReturnSeries {
  std::vector<double> Gen, Ret;
};
ReturnSeries LogReturns(const Data1Table& table);

// Generations in which traders may visit the school: every loop generation when G_Gap is 1,
// otherwise those with generation mod G_Gap = 1 (generation 1 builds the first models).
bool IsLearningGen(int gen, int gGap);

struct RunSummary {
  std::string RunDir;
  int FirstGen = 0, LastGen = 0, Generations = 0;
  bool Complete = false;
  static constexpr double NaN = std::numeric_limits<double>::quiet_NaN();
  double PriceMean = NaN, PriceSd = NaN, PriceRee = NaN, PriceMadRee = NaN;
  double RetMean = NaN, RetSd = NaN, RetSkew = NaN, RetExKurt = NaN, JbStat = NaN, JbP = NaN;
  double Lb10Ret = NaN, Lb10RetP = NaN, Lb10AbsRet = NaN, Lb10AbsRetP = NaN;
  double Arch5Lm = NaN, Arch5P = NaN, HillTop5 = NaN;
  double SucceedMean = NaN, MartingaleMean = NaN, VisitGenMean = NaN, VisitLibMean = NaN;
  int LearningGens = 0, Returns = 0;
};

RunSummary Summarize(const std::string& runDir, const RunInfo& info, const Data1Table& table);

// One figure of the summary: its key in the files, its text there, and what it is.
struct SummaryField {
  const char* Key;
  std::string Text; // integer, decimal number, "nan", or the run folder
  const char* Label;
  bool IsNumber;
};
std::vector<SummaryField> SummaryFields(const RunSummary& s);

// A number as the summary files write it: up to 12 significant digits, "nan" when undefined.
std::string FormatFigure(double v);

std::string SummaryCsv(const RunSummary& s);  // header line and one row, LF line ends
std::string SummaryJson(const RunSummary& s); // undefined numbers are null

} // namespace zupo
