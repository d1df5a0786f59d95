// End to end: a seeded 300-generation run with `zupo-cli --report`, then zupo-report on copies
// of it that were stopped early or damaged.
#include <QImage>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <set>
#include <sstream>

#include "core/ini.h"
#include "testutil.h"

namespace zupo {
namespace {

namespace fs = std::filesystem;
using test::TempDir;

const char* kCharts[] = {"price.png",  "returns.png", "acf.png",   "distribution.png",
                         "models.png", "school.png",  "wealth.png"};
const std::string kCsvHeader =
    "run_dir,first_gen,last_gen,generations,complete,price_mean,price_sd,price_ree,price_mad_ree,"
    "ret_mean,ret_sd,ret_skew,ret_exkurt,jb_stat,jb_p,lb10_ret,lb10_ret_p,lb10_absret,"
    "lb10_absret_p,arch5_lm,arch5_p,hill_top5,succeed_mean,martingale_mean,visitgen_mean,"
    "visitlib_mean";

// Runs a shell command; its exit status, with stdout and stderr in *out.
int Shell(const std::string& cmd, const TempDir& d, std::string* out = nullptr) {
  int rc = std::system((cmd + " >" + d / "out.txt" + " 2>&1").c_str());
  if (out) *out = test::ReadText(d / "out.txt");
  return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
}

std::vector<std::string> Split(const std::string& line) {
  std::vector<std::string> f;
  std::stringstream ss(line);
  for (std::string x; std::getline(ss, x, ',');) f.push_back(x);
  return f;
}

// The header and the data row of summary.csv, the row as key -> text.
std::map<std::string, std::string> ReadSummaryCsv(const std::string& path) {
  std::string text = test::ReadText(path);
  size_t nl = text.find('\n');
  EXPECT_EQ(text.substr(0, nl), kCsvHeader);
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 2);
  std::vector<std::string> keys = Split(text.substr(0, nl));
  std::vector<std::string> vals = Split(text.substr(nl + 1, text.size() - nl - 2));
  EXPECT_EQ(vals.size(), keys.size());
  std::map<std::string, std::string> row;
  for (size_t i = 0; i < keys.size() && i < vals.size(); ++i) row[keys[i]] = vals[i];
  return row;
}

class ReportEndToEnd : public ::testing::Test {
protected:
  static void SetUpTestSuite() {
    dir_ = new TempDir;
    fs::copy(ZUPO_SOURCE_DIR "/examples/default", dir_->Path(), fs::copy_options::recursive);
    IniWrite(*dir_ / "Zupo.ini", "Traders", "Gen_No", "300");
    rc_ = Shell(std::string(ZUPO_CLI) + " --seed 3 --quiet --report " + dir_->Path(), *dir_, &out_);
  }
  static void TearDownTestSuite() {
    delete dir_;
    dir_ = nullptr;
  }
  // A copy of the finished run folder, without its report.
  static void CopyRun(const TempDir& to) {
    fs::copy(dir_->Path(), to.Path(), fs::copy_options::recursive);
    fs::remove_all(to / "report");
  }
  static TempDir* dir_;
  static int rc_;
  static std::string out_;
};
TempDir* ReportEndToEnd::dir_ = nullptr;
int ReportEndToEnd::rc_ = -1;
std::string ReportEndToEnd::out_;

TEST_F(ReportEndToEnd, FinishedRunGetsEveryChartThePageAndTheSummary) {
  ASSERT_EQ(rc_, 0) << out_;
  std::string report = *dir_ / "report/";
  EXPECT_NE(out_.find(report + "report.html"), std::string::npos) << out_;
  std::string html = test::ReadText(report + "report.html");
  for (const char* png : kCharts) {
    QImage img(QString::fromStdString(report + png), "PNG");
    ASSERT_FALSE(img.isNull()) << png;
    EXPECT_EQ(img.width(), 900) << png;
    EXPECT_EQ(img.height(), 500) << png;
    std::set<QRgb> colours;
    for (int y = 0; y < img.height(); y += 2)
      for (int x = 0; x < img.width(); x += 2) colours.insert(img.pixel(x, y));
    EXPECT_GT(colours.size(), 50u) << png;
    EXPECT_NE(html.find(std::string("src=\"") + png + "\""), std::string::npos) << png;
  }
  std::map<std::string, std::string> row = ReadSummaryCsv(report + "summary.csv");
  EXPECT_EQ(row["run_dir"], dir_->Path() + "/");
  EXPECT_EQ(row["generations"], "300");
  EXPECT_EQ(row["complete"], "1");
  EXPECT_NEAR(std::stod(row["price_ree"]), 80, 0.5); // dividends of mean 10, variance 4
  for (const auto& [k, v] : row) {
    if (k == "run_dir") continue;
    size_t used = 0;
    double x = std::stod(v, &used);
    EXPECT_EQ(used, v.size()) << k << "=" << v;
    EXPECT_TRUE(std::isfinite(x)) << k << "=" << v; // 300 generations define every figure
  }
  EXPECT_NE(test::ReadText(report + "summary.json").find("\"last_gen\": 300,"), std::string::npos);
}

TEST_F(ReportEndToEnd, StoppedRunIsReportedUpToItsLastRowAndAMissingTableIsNamed) {
  TempDir d;
  CopyRun(d);
  // Keep the header and rows 1..150, and half of row 151 as if the run were writing it.
  std::string data1 = test::ReadText(d / "run/Data1.txt");
  size_t pos = 0;
  for (int line = 0; line < 151; ++line) pos = data1.find('\n', pos) + 1;
  test::WriteText(d / "run/Data1.txt", data1.substr(0, pos + 30));
  IniWrite(d / "Zupo.ini", "Common", "Running", "1");

  std::string out;
  ASSERT_EQ(
      Shell(std::string(ZUPO_REPORT) + " " + d.Path() + " --from 20 --out " + d / "rep", d, &out),
      0)
      << out;
  std::map<std::string, std::string> row = ReadSummaryCsv(d / "rep/summary.csv");
  EXPECT_EQ(row["first_gen"], "20");
  EXPECT_EQ(row["last_gen"], "150");
  EXPECT_EQ(row["complete"], "0");
  std::string html = test::ReadText(d / "rep/report.html");
  EXPECT_NE(html.find("The run has not reached Gen_No = 300: it is reported up to generation "
                      "150, the last complete row of Data1.txt (Running=1: the run is still "
                      "going, or it ended without closing)."),
            std::string::npos);
  EXPECT_NE(html.find("The last row of Data1.txt was still being written and is left out."),
            std::string::npos);
  EXPECT_NE(html.find("Burn-in left out: generations before 20."), std::string::npos);

  // Without the table the program names the file and writes no report. (The reading of a damaged
  // table is tested on its own.)
  fs::remove(d / "run/Data1.txt");
  ASSERT_EQ(Shell(std::string(ZUPO_REPORT) + " " + d.Path(), d, &out), 1);
  EXPECT_EQ(out, "zupo-report: " + d / "run/Data1.txt" + ": the statistics table does not exist\n");
  EXPECT_FALSE(fs::exists(d / "report/report.html"));
}

} // namespace
} // namespace zupo
