#include "report/report.h"

#include "core/errors.h"
#include "core/paths.h"
#include "core/textio.h"
#include "report/charts.h"
#include "report/data1.h"
#include "report/html.h"
#include "report/runinfo.h"

namespace zupo {
namespace {

std::vector<std::string> Notes(const RunInfo& info, const Data1Table& all, const Data1Table& table,
                               const RunSummary& s, int from) {
  std::vector<std::string> notes;
  if (!s.Complete) {
    std::string n = "The run has not reached Gen_No = " + std::to_string(info.Gen_No) +
                    ": it is reported up to generation " + std::to_string(all.LastGen()) +
                    ", the last complete row of Data1.txt";
    n += info.Running ? " (Running=1: the run is still going, or it ended without closing)."
                      : " (the run was stopped; running it again resumes it).";
    notes.push_back(n);
  }
  if (all.PartialLastRow)
    notes.push_back("The last row of Data1.txt was still being written and is left out.");
  if (from > all.FirstGen())
    notes.push_back("Burn-in left out: generations before " + std::to_string(from) + ".");
  if (!info.DividendNote.empty())
    notes.push_back("No equilibrium price: " + info.DividendNote + ".");
  if (table.Rows.size() < 20)
    notes.push_back("Only " + std::to_string(table.Rows.size()) +
                    " generations: most statistics are undefined (nan) or not meaningful.");
  return notes;
}

} // namespace

ReportResult WriteReport(const ReportOptions& opt) {
  std::string runDir = opt.RunDir.empty() ? "./" : opt.RunDir;
  RunInfo info = ReadRunInfo(runDir);
  Data1Table all = ReadData1(info.ResultDir + "Data1.txt");
  Data1Table table = RowsFrom(all, opt.From);
  if (table.Rows.empty())
    throw RunError(info.ResultDir + "Data1.txt: no complete row" +
                   (opt.From > 0 ? " from generation " + std::to_string(opt.From) : ""));

  RunSummary s = Summarize(opt.RunDir, info, table);
  std::vector<ReportChart> charts = ReportCharts(table, info, s);
  std::string out = opt.OutDir.empty() ? FileInFolder(runDir, "report") : opt.OutDir;
  EnsureDir(out);
  for (const ReportChart& c : charts) SaveChartPng(c.Chart, FileInFolder(out, c.File));
  WriteFileAtomic(FileInFolder(out, "summary.csv"), SummaryCsv(s));
  WriteFileAtomic(FileInFolder(out, "summary.json"), SummaryJson(s));
  ReportResult r{FileInFolder(out, "report.html"), s};
  WriteFileAtomic(r.HtmlPath, ReportHtml(info, s, charts, Notes(info, all, table, s, opt.From)));
  return r;
}

} // namespace zupo
