// Charts rendered offscreen into PNG files: size, content, and the failure to write.
#include <QColor>
#include <QImage>
#include <gtest/gtest.h>
#include <set>

#include "core/errors.h"
#include "testutil.h"
#include "ui/chart_png.h"

namespace zupo {
namespace {

using test::TempDir;

size_t DistinctColours(const QImage& img) {
  std::set<QRgb> seen;
  for (int y = 0; y < img.height(); ++y)
    for (int x = 0; x < img.width(); ++x) seen.insert(img.pixel(x, y));
  return seen.size();
}

// Pixels close to a pure colour: the line's pen, blended a little by antialiasing.
int PixelsNear(const QImage& img, uint32_t rgb) {
  int n = 0;
  QColor want((rgb >> 16) & 0xFF, (rgb >> 8) & 0xFF, rgb & 0xFF);
  for (int y = 0; y < img.height(); ++y)
    for (int x = 0; x < img.width(); ++x) {
      QColor c = img.pixelColor(x, y);
      if (std::abs(c.red() - want.red()) + std::abs(c.green() - want.green()) +
              std::abs(c.blue() - want.blue()) <
          40)
        ++n;
    }
  return n;
}

ChartLine Line(std::vector<double> y, uint32_t rgb) {
  ChartLine l;
  l.Rgb = rgb;
  l.Y = std::move(y);
  for (size_t i = 0; i < l.Y.size(); ++i) l.X.push_back(static_cast<double>(i + 1));
  return l;
}

struct ChartCase {
  const char* Name;
  ChartLayout Chart;
  std::vector<uint32_t> Colours; // each must be drawn
};

std::vector<ChartCase> Cases() {
  std::vector<ChartCase> cases;
  {
    ChartLayout s{"Price", "generation", "price", {}, false, 640, 360};
    s.Lines.push_back(Line({80, 82, 79, 85, 90, 88, 86}, 0x0000C0));
    ChartLine ree = Line(std::vector<double>(7, 84), 0xC00000);
    ree.Name = "equilibrium";
    ree.Dashed = true;
    s.Lines.push_back(ree);
    cases.push_back({"TwoLines", s, {0x0000C0, 0xC00000}});
  }
  {
    ChartLayout s{"Density", "z", "density", {}, true, 500, 400};
    // Zeros and a negative value cannot be drawn on a log axis and are left out.
    ChartLine pts = Line({0.4, 0.2, 0.0, 0.05, -1, 0.001}, 0x008000);
    pts.Points = true;
    pts.Name = "observed";
    s.Lines.push_back(pts);
    cases.push_back({"LogScatter", s, {0x008000}});
  }
  {
    ChartLayout s{"Band", "lag", "acf", {}, false, 400, 300};
    ChartLine l = Line({0.5, 0.1, -0.1, 0.0}, 0x000000);
    l.Low = {-0.2, -0.2, -0.2, -0.2};
    l.High = {0.2, 0.2, 0.2, 0.2};
    l.Rgb = 0x0000FF;
    s.Lines.push_back(l);
    cases.push_back({"Band", s, {0x0000FF}});
  }
  {
    // A constant series and a series with no drawable value still give a chart.
    ChartLayout s{"Flat", "", "", {}, false, 300, 200};
    s.Lines.push_back(Line({5, 5, 5}, 0xC00000));
    s.Lines.push_back(Line({std::nan(""), std::numeric_limits<double>::infinity()}, 0x00C000));
    cases.push_back({"FlatAndEmpty", s, {0xC00000}});
  }
  return cases;
}

void PrintTo(const ChartCase& c, std::ostream* os) {
  *os << c.Name;
}

class ChartPng : public ::testing::TestWithParam<ChartCase> {};

TEST_P(ChartPng, WritesPngOfRequestedSizeWithEveryLine) {
  TempDir d;
  const ChartCase& c = GetParam();
  std::string path = d / "chart.png";
  SaveChartPng(c.Chart, path);
  QImage img(QString::fromStdString(path), "PNG");
  EXPECT_EQ(img.size(), QSize(c.Chart.Width, c.Chart.Height));
  EXPECT_GT(DistinctColours(img), 20u);
  for (uint32_t rgb : c.Colours) EXPECT_GT(PixelsNear(img, rgb), 20) << std::hex << rgb;
}

INSTANTIATE_TEST_SUITE_P(Charts, ChartPng, ::testing::ValuesIn(Cases()),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST(ChartPngError, UnwritablePathNamesTheFile) {
  TempDir d;
  ChartLayout s;
  s.Lines.push_back(Line({1, 2, 3}, 0xC00000));
  std::string path = d / "no-such-folder/chart.png";
  try {
    SaveChartPng(s, path);
    FAIL() << "no error";
  } catch (const RunError& e) {
    EXPECT_NE(std::string(e.what()).find(path), std::string::npos) << e.what();
  }
}

} // namespace
} // namespace zupo
