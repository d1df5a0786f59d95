// Tests of the window program's main window on Qt's offscreen platform: the log ring, the sliding
// price chart, the layout and status text, and whole seeded runs driven through the window.
#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTest>
#include <QTimer>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <vector>

#include "core/format.h"
#include "core/ini.h"
#include "testutil.h"
#include "ui/main_window.h"
#include "ui/message_log.h"
#include "ui/price_chart.h"

namespace zupo {
namespace {

namespace fs = std::filesystem;
using test::TempDir;

// Answers every modal message box that opens, recording its icon and text.
class BoxCloser : public QObject {
public:
  std::vector<std::pair<QMessageBox::Icon, QString>> Seen;
  BoxCloser() {
    connect(&timer_, &QTimer::timeout, this, [this] {
      if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
        Seen.emplace_back(box->icon(), box->text());
        box->done(QMessageBox::Ok);
      }
    });
    timer_.start(20);
  }

private:
  QTimer timer_;
};

// A copy of the example run folder with some keys changed.
void Prepare(const TempDir& d, const std::map<std::string, std::string>& keys) {
  fs::copy(ZUPO_SOURCE_DIR "/examples/default", d.Path(),
           fs::copy_options::recursive | fs::copy_options::overwrite_existing);
  for (const auto& [k, v] : keys)
    IniWrite(d / "Zupo.ini",
             k == "Gen_No" || k == "G_Gap" || k == "LibraryProb" ? "Traders" : "Common", k, v);
}

std::unique_ptr<TForm1> MakeWindow(const TempDir& d, uint32_t seed) {
  return std::make_unique<TForm1>(
      RunSetup{d / "Zupo.ini", d.Path() + "/", std::make_unique<FixedClock>(seed)});
}

// Shows the window, which starts the run, and waits for its end; the exit status, or -1.
int RunToEnd(TForm1& w) {
  QSignalSpy ended(&w, &TForm1::runEnded);
  w.show();
  w.activateWindow();
  if (!ended.wait(180000)) return -1;
  return ended.takeFirst().at(0).toInt();
}

std::string Key(const TempDir& d, const std::string& key) {
  return ReadIniStr("Common", key, d / "Zupo.ini");
}

// The generation numbers of the statistics rows, in file order.
std::vector<int> RowGens(const TempDir& d) {
  std::ifstream in(d / "run/Data1.txt");
  std::string line;
  std::vector<int> gens;
  std::getline(in, line); // header
  while (std::getline(in, line)) gens.push_back(std::stoi(line.substr(0, 5)));
  return gens;
}

std::vector<int> Range(int from, int to) {
  std::vector<int> v;
  for (int g = from; g <= to; ++g) v.push_back(g);
  return v;
}

TForm1* NewIdleWindow(const TempDir& d) {
  return new TForm1(RunSetup{d / "Zupo.ini", d.Path() + "/", std::make_unique<FixedClock>(1)});
}

// What the text box must show: the log's lines, one per text line.
QString ShownText(const MessageLog& log) {
  QStringList lines;
  for (int i = 0; i < log.LineCount(); ++i) lines << log.Line(i);
  return lines.join('\n');
}

} // namespace

// The numbered log: 200 lines, then a ring.
class LogRing : public QObject {
  Q_OBJECT
private slots:
  void placesEachLineInTheRing_data() {
    QTest::addColumn<bool>("fresh");
    QTest::addColumn<int>("written");
    QTest::addColumn<int>("index");
    QTest::addColumn<QString>("expected");
    QTest::addColumn<int>("lines");
    const QString first = "Processing Generation        1 ";
    QTest::newRow("fresh start: line 0 is the unnumbered first line")
        << true << 5 << 0 << first << 6;
    QTest::newRow("199th line is the last appended") << true << 199 << 199 << "199: x" << 200;
    QTest::newRow("199 lines leave line 0 alone") << true << 199 << 0 << first << 200;
    QTest::newRow("200th replaces line 0") << true << 200 << 0 << "200: x" << 200;
    QTest::newRow("201st replaces line 1") << true << 201 << 1 << "201: x" << 200;
    QTest::newRow("201 lines keep line 2") << true << 201 << 2 << "2: x" << 200;
    QTest::newRow("resume keeps edtMsg") << false << 150 << 0 << "edtMsg" << 151;
    QTest::newRow("resume: 400th replaces line 0") << false << 400 << 0 << "400: x" << 200;
    QTest::newRow("resume: 599th replaces line 199") << false << 599 << 199 << "599: x" << 200;
  }
  void placesEachLineInTheRing() {
    QFETCH(bool, fresh);
    QFETCH(int, written);
    QFETCH(int, index);
    QFETCH(QString, expected);
    QFETCH(int, lines);
    TempDir d;
    std::unique_ptr<TForm1> w(NewIdleWindow(d));
    QCOMPARE(w->edtMsg()->Line(0), QString("edtMsg"));
    if (fresh) w->ReplaceFirstLogLine("Processing Generation        1 ");
    // The text box is brought up to date now and then, as the window does before it repaints.
    for (int n = 1; n <= written; ++n) {
      w->Output_msg(n, FormatInt(n) + ": x");
      if (n % 37 == 0) w->edtMsg()->Show();
    }
    QCOMPARE(w->edtMsg()->Line(index), expected);
    QCOMPARE(w->edtMsg()->LineCount(), lines);
    w->edtMsg()->Show();
    QCOMPARE(w->edtMsg()->toPlainText(), ShownText(*w->edtMsg()));
  }

  // The log cannot be edited, and it shows the line written last, also inside the ring.
  void isReadOnlyAndFollowsTheNewestLine() {
    TempDir d;
    std::unique_ptr<TForm1> w(NewIdleWindow(d));
    QVERIFY(w->edtMsg()->isReadOnly());
    for (int n = 1; n <= 203; ++n) w->Output_msg(n, FormatInt(n) + ": x");
    w->edtMsg()->Show();
    QCOMPARE(w->edtMsg()->textCursor().blockNumber(), 3);
  }
};

// The price chart: the first 500 points after the start, then the latest 500.
class PriceChartWindow : public QObject {
  Q_OBJECT
private slots:
  void keepsAWindowOf500Points_data() {
    QTest::addColumn<int>("startGen");
    QTest::addColumn<int>("lastGen");
    QTest::addColumn<int>("firstShown");
    QTest::addColumn<int>("count");
    QTest::newRow("fresh, 500 points") << 0 << 500 << 1 << 500;
    QTest::newRow("fresh, generation 501 removes generation 1") << 0 << 501 << 2 << 500;
    QTest::newRow("fresh, much later") << 0 << 1234 << 735 << 500;
    QTest::newRow("resume at 40, short") << 40 << 100 << 41 << 60;
    QTest::newRow("resume at 40: 41..540 all plotted") << 40 << 540 << 41 << 500;
    QTest::newRow("resume at 40: 541 removes 41") << 40 << 541 << 42 << 500;
  }
  void keepsAWindowOf500Points() {
    QFETCH(int, startGen);
    QFETCH(int, lastGen);
    QFETCH(int, firstShown);
    QFETCH(int, count);
    PriceChart chart;
    for (int g = startGen + 1; g <= lastGen; ++g) chart.AddPoint(g, 100 + g % 7, startGen);
    chart.Refresh();
    QCOMPARE(chart.Series1()->count(), count);
    QCOMPARE(chart.Series1()->at(0).x(), double(firstShown));
    QCOMPARE(chart.Series1()->at(count - 1).x(), double(lastGen));
    // The bottom axis spans a full page of 500 generations from the oldest point.
    QCOMPARE(chart.BottomAxis()->min(), double(firstShown));
    QCOMPARE(chart.BottomAxis()->max(), double(firstShown + 499));
    QVERIFY(chart.LeftAxis()->min() <= 100 && chart.LeftAxis()->max() >= 106);
  }

  // Points reach the series in batches, not one redraw per point.
  void handsPointsToTheSeriesInBatches() {
    PriceChart chart;
    chart.AddPoint(1, 80, 0); // the first refresh is due at once
    chart.AddPoint(2, 81, 0);
    chart.AddPoint(3, 82, 0);
    QCOMPARE(chart.Series1()->count(), 1);
    QTest::qWait(int(PriceChart::RefreshInterval.count()) + 20);
    chart.RefreshIfDue();
    QCOMPARE(chart.Series1()->count(), 3);
    QCOMPARE(chart.Series1()->at(2), QPointF(3, 82));
  }
};

// Layout, status text and the click on the window's surface.
class WindowLayout : public QObject {
  Q_OBJECT
private slots:
  void hasItsDesignSizeAndPlacement() {
    TempDir d;
    std::unique_ptr<TForm1> w(NewIdleWindow(d));
    w->show();
    QVERIFY(QTest::qWaitForWindowExposed(w.get()));
    QCOMPARE(w->windowTitle(), QString("Zupo"));
    QCOMPARE(w->frameGeometry().size(), QSize(795, 570));
    QCOMPARE(w->frameGeometry().topLeft(), QPoint(218, 122));
    QCOMPARE(w->Chart1()->height(), 293);
    QCOMPARE(w->statusBar()->height(), 24);
    QCOMPARE(w->btnExit()->geometry(), QRect(6, 58, 59, 26));
    QCOMPARE(w->btnExit()->text(), QString("Exit"));
    QCOMPARE(w->btnExit()->parentWidget()->width(), 72);
    // Log above the chart, the button panel at the log's right, the chart full width.
    QWidget* panel1 = w->edtMsg()->parentWidget();
    QPoint logBottom = panel1->mapTo(w.get(), QPoint(0, panel1->height()));
    QCOMPARE(logBottom.y(), w->Chart1()->mapTo(w.get(), QPoint(0, 0)).y());
    QWidget* panel2 = w->btnExit()->parentWidget();
    QCOMPARE(panel2->geometry().right(), panel1->contentsRect().right());
    QCOMPARE(w->edtMsg()->geometry().right() + 1, panel2->geometry().left());
    QCOMPARE(w->Chart1()->width(), w->width());
    QCOMPARE(w->font().family(), QString("Times New Roman"));
    QCOMPARE(w->font().pixelSize(), 12);
  }

  void formatsTheFreeDiskText_data() {
    QTest::addColumn<double>("mb");
    QTest::addColumn<QString>("expected");
    QTest::newRow("fraction") << 81234.5 << "Free Disk Space : 81234.5MB";
    QTest::newRow("whole") << 250000.0 << "Free Disk Space : 250000MB";
    QTest::newRow("failed query") << -0.000001 << "Free Disk Space : -1E-6MB";
  }
  void formatsTheFreeDiskText() {
    QFETCH(double, mb);
    QFETCH(QString, expected);
    QCOMPARE(FreeDiskText(mb), expected);
  }

  // The status bar is empty until the first tick; a click on the window's own surface (here the
  // button panel around the button) measures at once.
  void clickOnTheSurfaceShowsTheFreeSpace() {
    TempDir d;
    std::unique_ptr<TForm1> w(NewIdleWindow(d));
    w->show();
    QVERIFY(QTest::qWaitForWindowExposed(w.get()));
    QCOMPARE(w->StatusText()->text(), QString());
    QTest::mouseClick(w->btnExit()->parentWidget(), Qt::LeftButton, {}, QPoint(30, 10));
    QString text = w->StatusText()->text();
    QVERIFY2(QRegularExpression("^Free Disk Space : [0-9.]+(E[0-9]+)?MB$").match(text).hasMatch(),
             qPrintable(text));
    QVERIFY(w->FreeDiskMB() > 0);
    QVERIFY(!w->ExitPressed());
  }

  // A warning is a modal warning box; the caller goes on once it is answered.
  void warningIsAModalWarningBox() {
    TempDir d;
    std::unique_ptr<TForm1> w(NewIdleWindow(d));
    BoxCloser closer;
    w->Warn("Incorrect operator !");
    QCOMPARE(closer.Seen.size(), size_t(1));
    QCOMPARE(closer.Seen[0].first, QMessageBox::Warning);
    QCOMPARE(closer.Seen[0].second, QString("Incorrect operator !"));
  }
};

// Seeded runs of the example driven through the window.
class RunInWindow : public QObject {
  Q_OBJECT
private slots:
  void freshRunShowsItsLogChartAndDiskSpace() {
    TempDir d;
    Prepare(d, {{"Gen_No", "3"}, {"G_Gap", "2"}});
    auto w = MakeWindow(d, 7);
    QCOMPARE(RunToEnd(*w), 0);
    QCOMPARE(w->edtMsg()->Line(0), QString("Processing Generation        1 "));
    QVERIFY(w->edtMsg()->Line(1).startsWith("1: P(t+1) =  "));
    QCOMPARE(w->edtMsg()->Line(2), QString("2: Processing Generation     2"));
    QCOMPARE(w->edtMsg()->LineCount(), 6);
    QCOMPARE(w->edtMsg()->toPlainText(), ShownText(*w->edtMsg()));
    const auto& pts = w->Chart1()->Points();
    QCOMPARE(int(pts.size()), 3);
    QCOMPARE(pts.front().x(), 1.0);
    QCOMPARE(w->Chart1()->Series1()->count(), 3); // all shown once the run is over
    QCOMPARE(pts.back().y(), double(w->Result().LastPrice));
    QVERIFY(w->StatusText()->text().startsWith("Free Disk Space : "));
    QCOMPARE(Key(d, "Running") + Key(d, "Stop_No"), std::string("00"));
    QVERIFY(RowGens(d) == Range(1, 3));
  }

  // The Exit button (a real click) and closing the window both stop the run at the end of the
  // generation with a checkpoint; a new run resumes it without a gap, on an empty chart.
  void stopRequestEndsTheGenerationAndTheRunResumes_data() {
    QTest::addColumn<bool>("byClose");
    QTest::newRow("Exit button") << false;
    QTest::newRow("closing the window") << true;
  }
  void stopRequestEndsTheGenerationAndTheRunResumes() {
    QFETCH(bool, byClose);
    TempDir d;
    Prepare(d, {{"Gen_No", "9"}, {"G_Gap", "2"}});
    auto w = MakeWindow(d, 5);
    connect(w.get(), &TForm1::pricePlotted, w.get(), [&](int gen) {
      if (gen != 5) return;
      if (byClose)
        w->close();
      else
        QTest::mouseClick(w->btnExit(), Qt::LeftButton);
    });
    QCOMPARE(RunToEnd(*w), 3);
    QCOMPARE(w->Result().LastGen, 5);
    QCOMPARE(Key(d, "Stop_No") + Key(d, "Exit") + Key(d, "No_Memory") + Key(d, "Running"),
             std::string("5110"));
    std::ifstream backup(d / "run/Backup1.txt");
    std::string head;
    std::getline(backup, head);
    QVERIFY(head.rfind("GEN=5  First=", 0) == 0);
    QVERIFY(RowGens(d) == Range(1, 5));
    // The window stays open until the program ends the run.
    QVERIFY(w->isVisible());

    auto again = MakeWindow(d, 6);
    QCOMPARE(RunToEnd(*again), 0);
    QVERIFY(RowGens(d) == Range(1, 9));
    QCOMPARE(again->Chart1()->Points().front().x(), 6.0);
    QCOMPARE(int(again->Chart1()->Points().size()), 4);
    QCOMPARE(again->edtMsg()->Line(0), QString("edtMsg"));
    QCOMPARE(again->edtMsg()->Line(1), QString("1: Processing Generation     6"));
    QCOMPARE(Key(d, "Stop_No"), std::string("0"));
  }

  void startUpErrorShowsItsBoxAndRunsNothing() {
    TempDir d;
    Prepare(d, {{"Gen_No", "3"}, {"LibraryProb", "0.5"}});
    BoxCloser closer;
    auto w = MakeWindow(d, 3);
    QCOMPARE(RunToEnd(*w), 1);
    QCOMPARE(closer.Seen.size(), size_t(1));
    QCOMPARE(closer.Seen[0].first, QMessageBox::Critical);
    QString text = closer.Seen[0].second;
    QVERIFY2(text.contains("Zupo.ini") && text.contains("LibraryProb") && text.contains("0.5"),
             qPrintable(text));
    QVERIFY(!fs::exists(d / "run/Data1.txt"));
    QVERIFY(w->Chart1()->Points().empty());
    QCOMPARE(w->edtMsg()->LineCount(), 1);
  }

  void errorInAGenerationIsShownAndEndsWithStatus2() {
    TempDir d;
    Prepare(d, {{"Gen_No", "3"}, {"G_Gap", "0"}});
    BoxCloser closer;
    auto w = MakeWindow(d, 3);
    QCOMPARE(RunToEnd(*w), 2);
    QCOMPARE(closer.Seen.size(), size_t(1));
    QVERIFY2(closer.Seen[0].second.startsWith("The run stopped in generation 2: "),
             qPrintable(closer.Seen[0].second));
    QCOMPARE(Key(d, "Running") + Key(d, "Exit"), std::string("01"));
  }

  // A later activation of the window does not start a second run.
  void runStartsOnlyOnce() {
    TempDir d;
    Prepare(d, {{"Gen_No", "2"}, {"G_Gap", "2"}});
    auto w = MakeWindow(d, 8);
    QSignalSpy ended(w.get(), &TForm1::runEnded);
    QCOMPARE(RunToEnd(*w), 0);
    w->hide();
    w->show();
    w->activateWindow();
    QTest::qWait(300);
    w->FormActivate();
    QCOMPARE(ended.count(), 1);
    QVERIFY(RowGens(d) == Range(1, 2));
  }
};

} // namespace zupo

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  zupo::LogRing logRing;
  zupo::PriceChartWindow chart;
  zupo::WindowLayout layout;
  zupo::RunInWindow runs;
  const std::vector<std::pair<QString, QObject*>> groups = {{"LogRing", &logRing},
                                                            {"PriceChartWindow", &chart},
                                                            {"WindowLayout", &layout},
                                                            {"RunInWindow", &runs}};
  QStringList args = app.arguments();
  QString only;
  if (args.size() > 1 && !args[1].startsWith('-')) only = args.takeAt(1);
  int failed = 0;
  bool ran = false;
  for (const auto& [name, obj] : groups) {
    if (!only.isEmpty() && only != name) continue;
    ran = true;
    failed += QTest::qExec(obj, args);
  }
  if (!ran) {
    std::fprintf(stderr, "no test group named %s\n", qPrintable(only));
    return 1;
  }
  return failed == 0 ? 0 : 1;
}

#include "main_window_test.moc"
