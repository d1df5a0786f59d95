// zupo-report: the figures and charts of a run, as one HTML page with PNG charts beside it.
#include <CLI/CLI.hpp>
#include <cstdio>
#include <string>

#include "report/report.h"

int main(int argc, char** argv) {
  CLI::App app{"Writes the report of a Zupo run: report.html with the run's parameters, figures\n"
               "and charts (PNG files beside it), summary.json and summary.csv."};
  zupo::ReportOptions opt;
  app.add_option("RUN_DIR", opt.RunDir, "folder that holds the run's Zupo.ini")->required();
  app.add_option("--from", opt.From, "first generation reported (leaves out a burn-in)")
      ->check(CLI::NonNegativeNumber);
  app.add_option("--out", opt.OutDir, "output folder (default: RUN_DIR/report/)");
  CLI11_PARSE(app, argc, argv);
  try {
    zupo::ReportResult r = zupo::WriteReport(opt);
    std::printf("%s\n", r.HtmlPath.c_str());
  } catch (const std::exception& e) {
    std::fprintf(stderr, "zupo-report: %s\n", e.what());
    return 1;
  }
  return 0;
}
