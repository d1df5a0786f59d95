#include "ui/chart_png.h"

#include <QApplication>
#include <QAreaSeries>
#include <QChart>
#include <QGraphicsScene>
#include <QImage>
#include <QLegendMarker>
#include <QLineSeries>
#include <QLogValueAxis>
#include <QPainter>
#include <QScatterSeries>
#include <QValueAxis>
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>

#include "core/errors.h"

#if defined(__SANITIZE_ADDRESS__)
// Qt's font database keeps fontconfig's pattern caches to the end of the process; they are not
// ours to free, so the leak checker of a sanitized build leaves them out.
extern "C" const char* __lsan_default_suppressions() {
  return "leak:libfontconfig.so\n";
}
#endif

namespace zupo {
namespace {

QtMessageHandler previousHandler = nullptr;

// Without a desktop session Qt warns on every start that XDG_RUNTIME_DIR is not set, although
// drawing into a file never uses that folder; every other message goes on as before.
void QuietHandler(QtMsgType type, const QMessageLogContext& ctx, const QString& msg) {
  if (msg.startsWith("QStandardPaths: XDG_RUNTIME_DIR not set")) return;
  if (previousHandler) previousHandler(type, ctx, msg);
}

// Qt Charts needs an application object; a program that has none (the report, the sweep, the
// tests) gets one here, kept for the life of the process.
void EnsureApplication(const std::string& path) {
  if (QCoreApplication::instance()) {
    // Charts are widgets: a console or GUI-only application object cannot draw them.
    if (!qobject_cast<QApplication*>(QCoreApplication::instance()))
      throw RunError(path + ": charts need a QApplication, and the program made another kind");
    return;
  }
  if (!std::getenv("QT_QPA_PLATFORM")) ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
  previousHandler = qInstallMessageHandler(QuietHandler);
  static int argc = 1;
  static char name[] = "zupo";
  static char* argv[] = {name, nullptr};
  new QApplication(argc, argv);
}

QColor ColorOf(uint32_t rgb, int alpha = 255) {
  return QColor((rgb >> 16) & 0xFF, (rgb >> 8) & 0xFF, rgb & 0xFF, alpha);
}

// The range the drawn values span; values the axis cannot show (not finite, or <= 0 on a
// logarithmic axis) are left out.
struct Span {
  double Lo = std::numeric_limits<double>::infinity();
  double Hi = -std::numeric_limits<double>::infinity();
  void Add(double v) {
    Lo = std::min(Lo, v);
    Hi = std::max(Hi, v);
  }
  bool Empty() const { return !(Lo <= Hi); }
};

bool Drawable(double x, double y, bool logY) {
  return std::isfinite(x) && std::isfinite(y) && (!logY || y > 0);
}

QList<QPointF> PointsOf(const std::vector<double>& x, const std::vector<double>& y, bool logY,
                        Span& xs, Span& ys) {
  QList<QPointF> pts;
  size_t n = std::min(x.size(), y.size());
  pts.reserve(static_cast<qsizetype>(n));
  for (size_t i = 0; i < n; ++i) {
    if (!Drawable(x[i], y[i], logY)) continue;
    pts.append(QPointF(x[i], y[i]));
    xs.Add(x[i]);
    ys.Add(y[i]);
  }
  return pts;
}

// Widens a degenerate span so that the axis can draw it, with a little room around the data.
void Pad(Span& s, bool log) {
  if (s.Empty()) {
    s.Lo = log ? 1 : 0;
    s.Hi = log ? 10 : 1;
    return;
  }
  if (log) {
    s.Lo = std::pow(10.0, std::floor(std::log10(s.Lo)));
    s.Hi = std::pow(10.0, std::ceil(std::log10(s.Hi)));
    if (s.Lo == s.Hi) s.Hi = s.Lo * 10;
    return;
  }
  if (s.Lo == s.Hi) {
    double d = s.Lo == 0 ? 1 : std::fabs(s.Lo) * 0.1;
    s.Lo -= d;
    s.Hi += d;
  }
}

void AddLine(QChart& chart, const ChartLine& line, bool logY, Span& xs, Span& ys,
             std::vector<QAbstractSeries*>& added) {
  QString name = QString::fromStdString(line.Name);
  if (!line.Low.empty() && line.Low.size() == line.X.size() && line.High.size() == line.X.size()) {
    auto* lo = new QLineSeries;
    auto* hi = new QLineSeries;
    lo->replace(PointsOf(line.X, line.Low, logY, xs, ys));
    hi->replace(PointsOf(line.X, line.High, logY, xs, ys));
    auto* band = new QAreaSeries(hi, lo);
    // The area does not own its boundary lines.
    lo->setParent(band);
    hi->setParent(band);
    band->setColor(ColorOf(line.Rgb, 60));
    band->setBorderColor(ColorOf(line.Rgb, 0));
    chart.addSeries(band);
    added.push_back(band);
    for (auto* m : chart.legend()->markers(band)) m->setVisible(false);
  }
  QXYSeries* s;
  if (line.Points) {
    auto* sc = new QScatterSeries;
    sc->setMarkerSize(5);
    sc->setColor(ColorOf(line.Rgb));
    sc->setBorderColor(ColorOf(line.Rgb));
    s = sc;
  } else {
    s = new QLineSeries;
    QPen pen(ColorOf(line.Rgb));
    pen.setWidthF(2);
    if (line.Dashed) pen.setStyle(Qt::DashLine);
    s->setPen(pen);
  }
  s->setName(name);
  s->replace(PointsOf(line.X, line.Y, logY, xs, ys));
  chart.addSeries(s);
  added.push_back(s);
  if (line.Name.empty())
    for (auto* m : chart.legend()->markers(s)) m->setVisible(false);
}

} // namespace

void SaveChartPng(const ChartLayout& layout, const std::string& path) {
  EnsureApplication(path);
  const int w = std::max(layout.Width, 1), h = std::max(layout.Height, 1);

  QGraphicsScene scene; // owns the chart, which owns its series and axes
  auto* chart = new QChart;
  scene.addItem(chart);
  chart->setTitle(QString::fromStdString(layout.Title));
  chart->setBackgroundRoundness(0);
  chart->setAnimationOptions(QChart::NoAnimation);

  Span xs, ys;
  std::vector<QAbstractSeries*> series;
  bool named = false;
  for (const ChartLine& line : layout.Lines) {
    AddLine(*chart, line, layout.LogY, xs, ys, series);
    named = named || !line.Name.empty();
  }
  chart->legend()->setVisible(named);
  chart->legend()->setAlignment(Qt::AlignBottom);

  Pad(xs, false);
  Pad(ys, layout.LogY);
  auto* xAxis = new QValueAxis;
  xAxis->setTitleText(QString::fromStdString(layout.XTitle));
  xAxis->setRange(xs.Lo, xs.Hi);
  xAxis->setLabelFormat("%g");
  xAxis->applyNiceNumbers();
  QAbstractAxis* yAxis;
  if (layout.LogY) {
    auto* a = new QLogValueAxis;
    // One labelled tick per power of the base: a base of 10^k keeps a wide range to about eight
    // labels that still fit.
    double decades = std::log10(ys.Hi / ys.Lo);
    double step = std::max(1.0, std::ceil(decades / 8));
    a->setBase(std::pow(10.0, step));
    a->setRange(std::pow(10.0, step * std::floor(std::log10(ys.Lo) / step)),
                std::pow(10.0, step * std::ceil(std::log10(ys.Hi) / step)));
    a->setLabelFormat("%g");
    a->setMinorTickCount(0);
    yAxis = a;
  } else {
    auto* a = new QValueAxis;
    // A little room around the data, but not across zero when the data stay on one side of it.
    double pad = (ys.Hi - ys.Lo) * 0.04;
    double lo = ys.Lo - pad, hi = ys.Hi + pad;
    if (ys.Lo >= 0 && lo < 0) lo = 0;
    if (ys.Hi <= 0 && hi > 0) hi = 0;
    a->setRange(lo, hi);
    a->setLabelFormat("%g");
    a->applyNiceNumbers();
    yAxis = a;
  }
  yAxis->setTitleText(QString::fromStdString(layout.YTitle));
  chart->addAxis(xAxis, Qt::AlignBottom);
  chart->addAxis(yAxis, Qt::AlignLeft);
  for (QAbstractSeries* s : series) {
    s->attachAxis(xAxis);
    s->attachAxis(yAxis);
  }

  chart->setGeometry(0, 0, w, h);
  QImage image(w, h, QImage::Format_RGB32);
  image.fill(Qt::white);
  {
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    scene.render(&painter, QRectF(0, 0, w, h), QRectF(0, 0, w, h));
  }
  if (!image.save(QString::fromStdString(path), "PNG"))
    throw RunError(path + ": the chart cannot be written");
}

} // namespace zupo
