#pragma once
// Charts drawn with Qt Charts and saved as PNG files without a display.
#include <cstdint>
#include <string>
#include <vector>

namespace zupo {

struct ChartLine {
  std::string Name;         // legend text; "" leaves the line out of the legend
  std::vector<double> X, Y; // same length
  uint32_t Rgb = 0xC00000;  // 0xRRGGBB
  bool Dashed = false;
  bool Points = false; // point marks only, no connecting line (a scatter)
  // Optional band around the line, same length as X (e.g. mean +- standard deviation); drawn as
  // a light area of the line's colour.
  std::vector<double> Low, High;
};

struct ChartLayout {
  std::string Title, XTitle, YTitle;
  std::vector<ChartLine> Lines;
  bool LogY = false; // logarithmic value axis (values <= 0 are left out)
  int Width = 900, Height = 500;
};

// Renders the chart offscreen into a PNG file of Width x Height pixels. Creates the Qt
// application object on first use when none exists (offscreen platform unless QT_QPA_PLATFORM
// is set). RunError naming the file when it cannot be written.
void SaveChartPng(const ChartLayout& chart, const std::string& path);

} // namespace zupo
