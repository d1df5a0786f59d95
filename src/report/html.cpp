#include "report/html.h"

namespace zupo {

namespace {

const char* kStyle = R"(<style>
body { font-family: sans-serif; margin: 2em auto; max-width: 960px; color: #222; }
h1 { font-size: 1.5em; } h2 { font-size: 1.2em; margin-top: 1.5em; }
table { border-collapse: collapse; margin: 0.5em 0; }
td, th { border: 1px solid #ccc; padding: 2px 8px; text-align: left; }
td.num { text-align: right; font-family: monospace; }
.note { background: #fff4d6; border: 1px solid #e0c060; padding: 0.5em; }
.params { display: flex; flex-wrap: wrap; gap: 1em; }
figure { margin: 1.5em 0; } figure img { max-width: 100%; border: 1px solid #ddd; }
figcaption { font-size: 0.9em; color: #444; }
code { font-size: 0.9em; }
</style>
)";

void Parameters(std::string& h, const RunInfo& info) {
  h += "<h2>Parameters (" + HtmlEscape(info.IniPath) + ")</h2>\n<div class=\"params\">\n";
  for (const IniSection& sec : info.Sections) {
    h += "<table>\n<tr><th colspan=\"2\">[" + HtmlEscape(sec.Name) + "]</th></tr>\n";
    for (const auto& [k, v] : sec.Keys)
      h += "<tr><td>" + HtmlEscape(k) + "</td><td><code>" + HtmlEscape(v) + "</code></td></tr>\n";
    h += "</table>\n";
  }
  h += "</div>\n";
}

void Figures(std::string& h, const RunSummary& s) {
  h += "<h2>Figures</h2>\n<table>\n<tr><th>figure</th><th>value</th><th>key</th></tr>\n";
  for (const SummaryField& f : SummaryFields(s))
    h += std::string("<tr><td>") + HtmlEscape(f.Label) + "</td><td class=\"num\">" +
         HtmlEscape(f.Text) + "</td><td><code>" + f.Key + "</code></td></tr>\n";
  h += "</table>\n<p>Returns are log price returns between consecutive generations (" +
       std::to_string(s.Returns) + " returns); school figures are means over the " +
       std::to_string(s.LearningGens) +
       " learning generations reported. The same figures are in summary.json and "
       "summary.csv.</p>\n";
}

} // namespace

std::string ReportHtml(const RunInfo& info, const RunSummary& s,
                       const std::vector<ReportChart>& charts,
                       const std::vector<std::string>& notes) {
  std::string h = "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n";
  h += "<title>Zupo run report: " + HtmlEscape(s.RunDir) + "</title>\n";
  h += kStyle;
  h += "</head>\n<body>\n<h1>Zupo run report</h1>\n";
  h += "<p>Run folder <code>" + HtmlEscape(s.RunDir) + "</code>: generations " +
       std::to_string(s.FirstGen) + " to " + std::to_string(s.LastGen) + " of " +
       std::to_string(info.Gen_No) + ".</p>\n";
  for (const std::string& n : notes) h += "<p class=\"note\">" + HtmlEscape(n) + "</p>\n";
  Parameters(h, info);
  Figures(h, s);
  h += "<h2>Charts</h2>\n";
  for (const ReportChart& c : charts)
    h += "<figure>\n<img src=\"" + HtmlEscape(c.File) + "\" alt=\"" + HtmlEscape(c.Chart.Title) +
         "\" width=\"" + std::to_string(c.Chart.Width) + "\" height=\"" +
         std::to_string(c.Chart.Height) + "\">\n<figcaption>" + c.Caption +
         "</figcaption>\n</figure>\n";
  h += "</body>\n</html>\n";
  return h;
}

} // namespace zupo
