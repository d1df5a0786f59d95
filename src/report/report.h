#pragma once
// A run report: figures and charts of a run's statistics table, written into one folder.
#include <string>

#include "report/summary.h"

namespace zupo {

struct ReportOptions {
  std::string RunDir; // the folder that holds Zupo.ini
  int From = 0;       // first generation reported (a burn-in before it is left out)
  std::string OutDir; // default: RUN_DIR/report/
};

struct ReportResult {
  std::string HtmlPath;
  RunSummary Summary;
};

// Reads the run, writes report.html, the PNG charts, summary.json and summary.csv. RunError
// naming the file (and line) at fault.
ReportResult WriteReport(const ReportOptions& opt);

} // namespace zupo
