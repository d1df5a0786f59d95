#include "sweep/collect.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>

#include "core/errors.h"
#include "core/html.h"
#include "core/paths.h"
#include "core/textio.h"

namespace zupo {

namespace {

bool ToNumber(const std::string& s, double& v) {
  if (s.empty()) return false;
  char* end = nullptr;
  v = std::strtod(s.c_str(), &end);
  return end == s.c_str() + s.size() && std::isfinite(v);
}

std::string Num(double v) {
  if (std::isnan(v)) return "nan";
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.6g", v);
  return buf;
}

// Mean and sample standard deviation (NaN below two values).
void MeanSd(const std::vector<double>& v, double& mean, double& sd) {
  mean = sd = NAN;
  if (v.empty()) return;
  double sum = 0;
  for (double x : v) sum += x;
  mean = sum / static_cast<double>(v.size());
  if (v.size() < 2) return;
  double ss = 0;
  for (double x : v) ss += (x - mean) * (x - mean);
  sd = std::sqrt(ss / static_cast<double>(v.size() - 1));
}

std::string MeanSdText(const std::vector<double>& v) {
  double m, sd;
  MeanSd(v, m, sd);
  if (v.empty()) return "";
  if (v.size() < 2) return Num(m);
  return Num(m) + " &plusmn; " + Num(sd);
}

int ColumnOf(const std::string& column) {
  const auto& cols = ReportColumns();
  for (size_t i = 0; i < cols.size(); ++i)
    if (cols[i] == column) return static_cast<int>(i);
  return -1;
}

// The statistic of a finished run with a report, or false.
bool RunValue(const CollectedRun& r, int column, double& v) {
  return r.Status.State == JobState::Finished && !r.Report.empty() &&
         ToNumber(r.Report[static_cast<size_t>(column)], v);
}

// Chart file names keep letters, digits, '_' and '-'.
std::string SafeName(const std::string& s) {
  std::string out;
  for (char c : s)
    out += (std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '-') ? c : '_';
  return out;
}

} // namespace

const std::vector<std::string>& ReportColumns() {
  static const std::vector<std::string> cols{
      "run_dir",      "first_gen",  "last_gen",     "generations",     "complete",
      "price_mean",   "price_sd",   "price_ree",    "price_mad_ree",   "ret_mean",
      "ret_sd",       "ret_skew",   "ret_exkurt",   "jb_stat",         "jb_p",
      "lb10_ret",     "lb10_ret_p", "lb10_absret",  "lb10_absret_p",   "arch5_lm",
      "arch5_p",      "hill_top5",  "succeed_mean", "martingale_mean", "visitgen_mean",
      "visitlib_mean"};
  return cols;
}

const std::vector<MainStat>& MainStats() {
  static const std::vector<MainStat> stats{
      {"price_mean", "Mean price"},
      {"price_sd", "Standard deviation of the price"},
      {"price_mad_ree", "Mean absolute deviation from the equilibrium price"},
      {"ret_sd", "Standard deviation of returns"},
      {"ret_exkurt", "Excess kurtosis of returns"},
      {"lb10_absret", "Ljung-Box Q(10) of absolute returns"},
      {"arch5_lm", "ARCH LM statistic (5 lags)"},
      {"hill_top5", "Hill tail index (top 5 %)"},
      {"succeed_mean", "Successful school visits per learning generation"},
  };
  return stats;
}

std::vector<std::string> ReadReportRow(const std::string& summaryCsv) {
  if (!FileExists(summaryCsv)) return {};
  TextReader in = TextReader::Open(summaryCsv);
  std::vector<std::string> header = SplitCsvLine(in.Eof() ? "" : in.ReadLine());
  std::vector<std::string> row = SplitCsvLine(in.Eof() ? "" : in.ReadLine());
  if (header != ReportColumns())
    throw RunError(summaryCsv + ": the header is not the one of a run report");
  if (row.size() != header.size())
    throw RunError(summaryCsv + ": line 2 has " + std::to_string(row.size()) +
                   " fields, the header " + std::to_string(header.size()));
  return row;
}

std::string StudySummaryCsv(const Study& study, const std::vector<CollectedRun>& runs) {
  std::vector<std::string> header{"run_id", "folder"};
  header.insert(header.end(), study.Keys.begin(), study.Keys.end());
  for (const char* c : {"replicate", "seed", "exit_status", "state", "generations"})
    header.push_back(c);
  header.insert(header.end(), ReportColumns().begin(), ReportColumns().end());
  std::string out = CsvLine(header);
  for (const CollectedRun& r : runs) {
    std::vector<std::string> f{r.Run.Id, r.Run.Folder};
    f.insert(f.end(), r.Run.Values.begin(), r.Run.Values.end());
    f.push_back(std::to_string(r.Run.Replicate));
    f.push_back(std::to_string(r.Run.Seed));
    f.push_back(r.Status.ExitStatus >= 0 ? std::to_string(r.Status.ExitStatus) : "");
    f.push_back(JobStateName(r.Status.State));
    f.push_back(std::to_string(r.Status.Generations));
    if (r.Report.empty())
      f.resize(f.size() + ReportColumns().size());
    else
      f.insert(f.end(), r.Report.begin(), r.Report.end());
    out += CsvLine(f);
  }
  return out;
}

std::vector<KeyStat> AggregateStats(const Study& study, const std::vector<CollectedRun>& runs) {
  // A key set to one value for the whole study is a constant: no chart of its own, and not
  // part of the series names.
  std::vector<bool> varies(study.Keys.size(), false);
  for (size_t k = 0; k < study.Keys.size(); ++k)
    for (const CollectedRun& r : runs)
      varies[k] = varies[k] || r.Run.Values[k] != runs.front().Run.Values[k];
  std::vector<KeyStat> out;
  for (size_t k = 0; k < study.Keys.size(); ++k) {
    if (!varies[k]) continue;
    // The key's values and the series (the other keys' values), in the order of the study.
    std::vector<std::string> xs, names;
    std::vector<size_t> xOf(runs.size()), seriesOf(runs.size());
    for (size_t i = 0; i < runs.size(); ++i) {
      const auto& vals = runs[i].Run.Values;
      std::string name;
      for (size_t o = 0; o < study.Keys.size(); ++o)
        if (o != k && varies[o]) name += (name.empty() ? "" : ", ") + study.Keys[o] + "=" + vals[o];
      auto find = [](std::vector<std::string>& list, const std::string& v) {
        for (size_t j = 0; j < list.size(); ++j)
          if (list[j] == v) return j;
        list.push_back(v);
        return list.size() - 1;
      };
      xOf[i] = find(xs, vals[k]);
      seriesOf[i] = find(names, name);
    }
    bool numeric = true;
    for (const std::string& x : xs) {
      double v;
      numeric = numeric && ToNumber(x, v);
    }
    for (const MainStat& stat : MainStats()) {
      KeyStat ks{study.Keys[k], stat, xs, numeric, {}};
      int col = ColumnOf(stat.Column);
      for (size_t s = 0; s < names.size(); ++s) {
        StatSeries series;
        series.Name = names[s];
        for (size_t x = 0; x < xs.size(); ++x) {
          std::vector<double> vals;
          double v;
          for (size_t i = 0; i < runs.size(); ++i)
            if (seriesOf[i] == s && xOf[i] == x && RunValue(runs[i], col, v)) vals.push_back(v);
          double m, sd;
          MeanSd(vals, m, sd);
          series.Mean.push_back(m);
          series.Sd.push_back(sd);
          series.N.push_back(static_cast<int>(vals.size()));
        }
        ks.Series.push_back(std::move(series));
      }
      out.push_back(std::move(ks));
    }
  }
  return out;
}

std::string ChartFile(const KeyStat& ks) {
  return "charts/" + SafeName(ks.Key) + "-" + ks.Stat.Column + ".png";
}

std::string StudyHtml(const Study& study, const std::vector<CollectedRun>& runs,
                      const std::vector<KeyStat>& stats, const std::vector<bool>& charts) {
  std::vector<RunStatus> st;
  for (const CollectedRun& r : runs) st.push_back(r.Status);
  std::string h = "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>Zupo study " +
                  HtmlEscape(study.Dir) +
                  "</title>\n<style>body{font-family:sans-serif;margin:2em}"
                  "table{border-collapse:collapse}td,th{border:1px solid #bbb;padding:2px 6px;"
                  "text-align:right}img{display:block;margin:1em 0}</style></head><body>\n";
  h += "<h1>Zupo study</h1>\n<p>" + HtmlEscape(study.Dir) + "</p>\n<p>" +
       HtmlEscape(CountsLine(CountStates(st))) +
       ". Values are mean &plusmn; standard deviation over the finished runs of each point; "
       "summary.csv holds every run.</p>\n";

  // One row per grid point, with the main statistics over its replicates.
  h += "<h2>Grid points</h2>\n<table><tr>";
  for (const std::string& k : study.Keys) h += "<th>" + HtmlEscape(k) + "</th>";
  h += "<th>runs</th><th>finished</th>";
  for (const MainStat& s : MainStats()) h += "<th>" + HtmlEscape(s.Column) + "</th>";
  h += "</tr>\n";
  std::vector<std::vector<std::string>> points;
  for (const CollectedRun& r : runs) {
    bool seen = false;
    for (const auto& p : points) seen = seen || p == r.Run.Values;
    if (seen) continue;
    points.push_back(r.Run.Values);
    int n = 0, done = 0;
    std::vector<std::vector<double>> vals(MainStats().size());
    for (const CollectedRun& q : runs) {
      if (q.Run.Values != r.Run.Values) continue;
      ++n;
      done += q.Status.State == JobState::Finished;
      double v;
      for (size_t s = 0; s < MainStats().size(); ++s)
        if (RunValue(q, ColumnOf(MainStats()[s].Column), v)) vals[s].push_back(v);
    }
    h += "<tr>";
    for (const std::string& v : r.Run.Values) h += "<td>" + HtmlEscape(v) + "</td>";
    h += "<td>" + std::to_string(n) + "</td><td>" + std::to_string(done) + "</td>";
    for (const auto& v : vals) h += "<td>" + MeanSdText(v) + "</td>";
    h += "</tr>\n";
  }
  h += "</table>\n";

  std::string key;
  for (size_t i = 0; i < stats.size(); ++i) {
    const KeyStat& ks = stats[i];
    if (ks.Key != key) {
      key = ks.Key;
      h += "<h2>" + HtmlEscape(key) + "</h2>\n";
      if (!ks.NumericX) {
        h += "<p>Positions on the axis:";
        for (size_t x = 0; x < ks.XValues.size(); ++x)
          h += " " + std::to_string(x + 1) + " = " + HtmlEscape(ks.XValues[x]) + ";";
        h += "</p>\n";
      }
    }
    if (i < charts.size() && charts[i])
      h += "<img src=\"" + ChartFile(ks) + "\" alt=\"" +
           HtmlEscape(ks.Stat.Title + " against " + key) + "\">\n";
    else
      h += "<p>" + HtmlEscape(ks.Stat.Title) + " against " + HtmlEscape(key) +
           ": no chart drawn.</p>\n";
  }
  return h + "</body></html>\n";
}

} // namespace zupo
