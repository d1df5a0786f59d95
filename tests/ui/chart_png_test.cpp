// Charts rendered offscreen into PNG files: size, content, and the failure to write.
#include <QImage>
#include <gtest/gtest.h>

#include "testutil.h"
#include "ui/chart_png.h"

namespace zupo {
namespace {

using test::TempDir;

// Pixels close to a pure colour: the line's pen, blended a little by antialiasing.
int PixelsNear(const QImage& img, QRgb rgb) {
  int n = 0;
  for (int y = 0; y < img.height(); ++y)
    for (int x = 0; x < img.width(); ++x) {
      int d = 0;
      for (int shift : {0, 8, 16})
        d += std::abs(int(img.pixel(x, y) >> shift & 0xFF) - int(rgb >> shift & 0xFF));
      n += d < 40;
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

// Each chart is written at its size with every line's colour drawn; a constant series and one
// with no drawable value still give a chart. A path that cannot be written is named.
TEST(ChartPng, WritesPngOfRequestedSizeWithEveryLineOrNamesThePath) {
  ChartLayout price{"Price", "generation", "price", {}, false, 640, 360};
  price.Lines.push_back(Line({80, 82, 79, 85, 90, 88, 86}, 0x0000C0));
  ChartLine ree = Line(std::vector<double>(7, 84), 0xC00000);
  ree.Name = "equilibrium";
  ree.Dashed = true;
  price.Lines.push_back(ree);
  ChartLayout density{"Density", "z", "density", {}, true, 500, 400};
  // Zeros and a negative value cannot be drawn on a log axis and are left out.
  ChartLine pts = Line({0.4, 0.2, 0.0, 0.05, -1, 0.001}, 0x008000);
  pts.Points = true;
  pts.Name = "observed";
  density.Lines.push_back(pts);
  ChartLayout band{"Band", "lag", "acf", {}, false, 400, 300};
  ChartLine l = Line({0.5, 0.1, -0.1, 0.0}, 0x0000FF);
  l.Low = {-0.2, -0.2, -0.2, -0.2};
  l.High = {0.2, 0.2, 0.2, 0.2};
  band.Lines.push_back(l);
  ChartLayout flat{"Flat", "", "", {}, false, 300, 200};
  flat.Lines.push_back(Line({5, 5, 5}, 0xC00000));
  flat.Lines.push_back(Line({std::nan(""), std::numeric_limits<double>::infinity()}, 0x00C000));

  const std::pair<ChartLayout, std::vector<uint32_t>> cases[] = {
      {price, {0x0000C0, 0xC00000}}, {density, {0x008000}}, {band, {0x0000FF}}, {flat, {0xC00000}}};
  for (const auto& [chart, colours] : cases) {
    SCOPED_TRACE(chart.Title);
    TempDir d;
    SaveChartPng(chart, d / "chart.png");
    QImage img(QString::fromStdString(d / "chart.png"), "PNG");
    EXPECT_EQ(img.size(), QSize(chart.Width, chart.Height));
    for (uint32_t rgb : colours) EXPECT_GT(PixelsNear(img, rgb), 20) << std::hex << rgb;
  }
  TempDir d;
  const std::string path = d / "no-such-folder/chart.png";
  EXPECT_TRUE(test::FailsNaming([&] { SaveChartPng(flat, path); }, path));
}

} // namespace
} // namespace zupo
