#pragma once
// The charts of a run report, as chart descriptions (drawn by SaveChartPng) with a caption each.
#include <string>
#include <vector>

#include "report/data1.h"
#include "report/runinfo.h"
#include "report/summary.h"
#include "ui/chart_png.h"

namespace zupo {

struct ReportChart {
  std::string File;    // PNG file name in the report folder
  std::string Caption; // an HTML fragment
  ChartLayout Chart;
};

std::vector<ReportChart> ReportCharts(const Data1Table& table, const RunInfo& info,
                                      const RunSummary& summary);

// Histogram of standardised values as a density: bins of `width` from floor(min) to ceil(max);
// X holds the bin centres, Y the density (count / (n width)); empty bins are kept as 0.
struct Histogram {
  std::vector<double> X, Y;
};
Histogram DensityHistogram(const std::vector<double>& z, double width);

} // namespace zupo
