#pragma once
#include <QChartView>
#include <QLineSeries>
#include <QValueAxis>
#include <chrono>
#include <cstdint>
#include <deque>

namespace zupo {

// The chart of the equilibrium price by generation. It keeps the first 500 points after the
// run's start generation and then a sliding window of the latest 500. Points are collected as
// they come and handed to the chart at most a few times a second: redrawing a 500-point line
// for every generation would cost the run more time than the generation itself.
class PriceChart : public QChartView {
public:
  static constexpr int PointsPerPage = 500;
  static constexpr std::chrono::milliseconds RefreshInterval{250};

  explicit PriceChart(QWidget* parent = nullptr);

  // Adds the point of generation gen; past startGen + 500 the oldest point goes first.
  void AddPoint(int32_t gen, double price, int32_t startGen);
  // Hands the collected points to the series when the last refresh is RefreshInterval old.
  void RefreshIfDue();
  // Hands them over now (the end of the run, the timer tick).
  void Refresh();

  const std::deque<QPointF>& Points() const { return points_; }
  QLineSeries* Series1() const { return series_; }
  QValueAxis* BottomAxis() const { return axisX_; }
  QValueAxis* LeftAxis() const { return axisY_; }

protected:
  void resizeEvent(QResizeEvent* event) override;

private:
  void SetAxisRanges();

  QLineSeries* series_;
  QValueAxis* axisX_;
  QValueAxis* axisY_;
  std::deque<QPointF> points_;
  bool stale_ = false;
  std::chrono::steady_clock::time_point lastRefresh_{};
};

} // namespace zupo
