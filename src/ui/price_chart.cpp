#include "ui/price_chart.h"

#include <QGraphicsLayout>
#include <QLinearGradient>
#include <QList>
#include <QResizeEvent>
#include <algorithm>
#include <cmath>

namespace zupo {

namespace {

const QColor Navy(0, 0, 128);

QFont TitleFont() {
  QFont f("Arial");
  f.setPixelSize(17);
  f.setBold(true);
  return f;
}

QValueAxis* MakeAxis(const QString& title) {
  auto* axis = new QValueAxis;
  axis->setTitleText(title);
  axis->setTitleFont(TitleFont());
  axis->setTitleBrush(Navy);
  return axis;
}

} // namespace

PriceChart::PriceChart(QWidget* parent) : QChartView(parent) {
  auto* chart = new QChart;
  chart->setTitle("Equilibrium Price in Each Generation");
  chart->setTitleFont(TitleFont());
  chart->setTitleBrush(Navy);
  chart->legend()->hide();
  chart->setBackgroundRoundness(0);
  chart->layout()->setContentsMargins(0, 0, 0, 0);
  // The background gradient, white at the top to yellow at the bottom; the plot area is left
  // transparent so the gradient shows behind the line.
  QLinearGradient gradient(0, 0, 0, 1);
  gradient.setCoordinateMode(QGradient::ObjectBoundingMode);
  gradient.setColorAt(0, Qt::white);
  gradient.setColorAt(1, Qt::yellow);
  chart->setBackgroundBrush(gradient);
  chart->setPlotAreaBackgroundVisible(false);
  chart->setAnimationOptions(QChart::NoAnimation);

  series_ = new QLineSeries;
  series_->setColor(Qt::red);
  series_->setPointsVisible(false);
  chart->addSeries(series_);
  axisX_ = MakeAxis("Generation");
  axisX_->setLabelFormat("%d");
  // Labels at round generation numbers while the page slides.
  axisX_->setTickType(QValueAxis::TicksDynamic);
  axisX_->setTickAnchor(0);
  axisX_->setTickInterval(50);
  axisY_ = MakeAxis("Equilibrium Price");
  chart->addAxis(axisX_, Qt::AlignBottom);
  chart->addAxis(axisY_, Qt::AlignLeft);
  series_->attachAxis(axisX_);
  series_->attachAxis(axisY_);
  setChart(chart);
  setRenderHint(QPainter::Antialiasing, false);
}

void PriceChart::AddPoint(int32_t gen, double price, int32_t startGen) {
  if (!std::isfinite(price)) return; // no place on the price axis
  if (static_cast<int64_t>(gen) > static_cast<int64_t>(startGen) + PointsPerPage &&
      !points_.empty())
    points_.pop_front();
  points_.emplace_back(gen, price);
  stale_ = true;
  RefreshIfDue();
}

void PriceChart::RefreshIfDue() {
  if (stale_ && std::chrono::steady_clock::now() - lastRefresh_ >= RefreshInterval) Refresh();
}

void PriceChart::Refresh() {
  lastRefresh_ = std::chrono::steady_clock::now();
  if (!stale_) return;
  stale_ = false;
  series_->replace(QList<QPointF>(points_.begin(), points_.end()));
  SetAxisRanges();
}

// The bottom axis spans a full page of 500 generations from the oldest point, also while the
// page is still filling; the left axis spans the prices shown.
void PriceChart::SetAxisRanges() {
  if (points_.empty()) return;
  double first = points_.front().x();
  axisX_->setRange(first, first + PointsPerPage - 1);
  auto [lo, hi] =
      std::minmax_element(points_.begin(), points_.end(),
                          [](const QPointF& a, const QPointF& b) { return a.y() < b.y(); });
  double min = lo->y(), max = hi->y();
  if (max - min < 1e-9 * std::max(1.0, std::abs(max))) {
    min -= 1;
    max += 1;
  }
  axisY_->setRange(min, max);
  axisY_->applyNiceNumbers();
}

// Margins of 1 % of the chart's width left and right, 1 % of its height at the bottom and 2 % at
// the top.
void PriceChart::resizeEvent(QResizeEvent* event) {
  QSize s = event->size();
  chart()->setMargins(
      QMargins(s.width() / 100, s.height() * 2 / 100, s.width() / 100, s.height() / 100));
  QChartView::resizeEvent(event);
}

} // namespace zupo
