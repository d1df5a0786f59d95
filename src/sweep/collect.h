#pragma once
// Collecting a study: one summary row per run, and each main statistic against each swept key
// as mean and standard deviation over replicates.
#include <string>
#include <vector>

#include "sweep/status.h"
#include "sweep/study.h"

namespace zupo {

// The columns of a run report's summary.csv, in order.
const std::vector<std::string>& ReportColumns();

struct MainStat {
  std::string Column; // a report column
  std::string Title;
};
const std::vector<MainStat>& MainStats();

struct CollectedRun {
  ManifestRow Run;
  RunStatus Status;
  std::vector<std::string> Report; // the report's row by ReportColumns(); empty: no report
};

// Reads RUN/report/summary.csv; an empty row when it is missing. RunError naming the file when
// it exists but is not one header line and one row with the columns of a report.
std::vector<std::string> ReadReportRow(const std::string& summaryCsv);

// summary.csv of the study: manifest columns, exit_status, state, generations, report columns.
std::string StudySummaryCsv(const Study& study, const std::vector<CollectedRun>& runs);

// One line of a chart: the runs that share the values of the other swept keys.
struct StatSeries {
  std::string Name;             // "G_Gap=5, MutMode=1"; "" when the study sweeps one key
  std::vector<double> Mean, Sd; // per value of the key; NaN where no run has the statistic
  std::vector<int> N;           // runs behind each mean
};

struct KeyStat {
  std::string Key;
  MainStat Stat;
  std::vector<std::string> XValues; // the key's values, in the order of the study
  bool NumericX = false;            // all values are numbers (else the chart uses 1, 2, ...)
  std::vector<StatSeries> Series;
};

// For each swept key that takes more than one value and each main statistic, in that order. Only
// finished runs with a report count; values that are not numbers ("nan") are left out.
std::vector<KeyStat> AggregateStats(const Study& study, const std::vector<CollectedRun>& runs);

// The file name of the chart of one KeyStat, relative to the study folder.
std::string ChartFile(const KeyStat& ks);

// study.html; charts lists, for each KeyStat, whether its PNG was drawn.
std::string StudyHtml(const Study& study, const std::vector<CollectedRun>& runs,
                      const std::vector<KeyStat>& stats, const std::vector<bool>& charts);

} // namespace zupo
