// End to end: a seeded 300-generation run with `zupo-cli --report`, then zupo-report on the
// same folder stopped early and without its table.
#include <QImage>
#include <filesystem>
#include <gtest/gtest.h>
#include <sstream>

#include "core/ini.h"
#include "testutil.h"

namespace zupo {
namespace {

namespace fs = std::filesystem;
using test::TempDir;

// Runs a shell command; its exit status, with stdout and stderr in *out.
int Shell(const std::string& cmd, const TempDir& d, std::string* out = nullptr) {
  int rc = std::system((cmd + " >" + d / "out.txt" + " 2>&1").c_str());
  if (out) *out = test::ReadText(d / "out.txt");
  return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
}

// summary.csv (a header and one row) as key -> text.
std::map<std::string, std::string> ReadSummaryCsv(const std::string& path) {
  std::istringstream in(test::ReadText(path));
  std::string head, row;
  std::getline(in, head);
  std::getline(in, row);
  std::istringstream keys(head), values(row);
  std::map<std::string, std::string> m;
  for (std::string k, v; std::getline(keys, k, ',') && std::getline(values, v, ',');) m[k] = v;
  EXPECT_EQ(m.size(), 26u) << head << "\n" << row;
  return m;
}

// The finished run, then the same folder stopped early, then without its table.
TEST(ReportEndToEnd, FinishedRunStoppedRunAndMissingTable) {
  TempDir d;
  fs::copy(ZUPO_SOURCE_DIR "/examples/default", d.Path(), fs::copy_options::recursive);
  IniWrite(d / "Zupo.ini", "Traders", "Gen_No", "300");
  std::string out, report = d / "report/";
  ASSERT_EQ(Shell(std::string(ZUPO_CLI) + " --seed 3 --quiet --report " + d.Path(), d, &out), 0)
      << out;
  EXPECT_NE(out.find(report + "report.html"), std::string::npos) << out;
  std::string html = test::ReadText(report + "report.html");
  for (std::string png :
       {"price", "returns", "acf", "distribution", "models", "school", "wealth"}) {
    QImage img(QString::fromStdString(report + png + ".png"), "PNG");
    EXPECT_EQ(img.size(), QSize(900, 500)) << png;
    EXPECT_NE(html.find("src=\"" + png + ".png\""), std::string::npos) << png;
  }
  std::map<std::string, std::string> row = ReadSummaryCsv(report + "summary.csv");
  EXPECT_EQ(row["run_dir"] + " " + row["generations"] + " " + row["complete"],
            d.Path() + "/ 300 1");
  EXPECT_NEAR(std::stod(row["price_ree"]), 80, 0.5); // dividends of mean 10, variance 4
  for (const auto& [k, v] : row) {
    if (k == "run_dir") continue;
    size_t used = 0;
    double x = std::stod(v, &used);
    EXPECT_EQ(used, v.size()) << k << "=" << v;
    EXPECT_TRUE(std::isfinite(x)) << k << "=" << v; // 300 generations define every figure
  }
  EXPECT_NE(test::ReadText(report + "summary.json").find("\"last_gen\": 300,"), std::string::npos);

  // Keep the header and rows 1..150, and half of row 151 as if the run were writing it.
  fs::remove_all(report);
  std::string data1 = test::ReadText(d / "run/Data1.txt");
  size_t pos = 0;
  for (int line = 0; line < 151; ++line) pos = data1.find('\n', pos) + 1;
  test::WriteText(d / "run/Data1.txt", data1.substr(0, pos + 30));
  IniWrite(d / "Zupo.ini", "Common", "Running", "1");
  std::string cmd = std::string(ZUPO_REPORT) + " " + d.Path() + " --from 20 --out " + d / "rep";
  ASSERT_EQ(Shell(cmd, d, &out), 0) << out;
  row = ReadSummaryCsv(d / "rep/summary.csv");
  EXPECT_EQ(row["first_gen"] + " " + row["last_gen"] + " " + row["complete"], "20 150 0");
  html = test::ReadText(d / "rep/report.html");
  for (const char* note :
       {"The run has not reached Gen_No = 300: it is reported up to generation 150, the last "
        "complete row of Data1.txt (Running=1: the run is still going, or it ended without "
        "closing).",
        "The last row of Data1.txt was still being written and is left out.",
        "Burn-in left out: generations before 20."})
    EXPECT_NE(html.find(note), std::string::npos) << note;

  // Without the table the program names the file and writes no report.
  fs::remove(d / "run/Data1.txt");
  ASSERT_EQ(Shell(std::string(ZUPO_REPORT) + " " + d.Path(), d, &out), 1);
  EXPECT_EQ(out, "zupo-report: " + d / "run/Data1.txt" + ": the statistics table does not exist\n");
  EXPECT_FALSE(fs::exists(report));
}

} // namespace
} // namespace zupo
