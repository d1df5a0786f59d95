#pragma once
// The report page: one self-contained HTML file (no scripts, no network) that shows the run's
// parameters, its figures and the charts stored beside it.
#include <string>
#include <vector>

#include "core/html.h"
#include "report/charts.h"
#include "report/runinfo.h"
#include "report/summary.h"

namespace zupo {

// notes: lines shown above the figures (a run that did not finish, a burn-in left out, ...).
std::string ReportHtml(const RunInfo& info, const RunSummary& summary,
                       const std::vector<ReportChart>& charts,
                       const std::vector<std::string>& notes);

} // namespace zupo
