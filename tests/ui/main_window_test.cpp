// Tests of the window program's main window on Qt's offscreen platform: the log ring, the sliding
// price chart, the layout and status text, and whole seeded runs driven through the window.
#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include "core/format.h"
#include "e2e/e2e_util.h"
#include "ui/main_window.h"
#include "ui/message_log.h"
#include "ui/price_chart.h"

namespace zupo {
namespace {

using namespace e2e;

// Answers every modal message box that opens, recording its icon and text.
struct BoxCloser : QObject {
  std::vector<std::pair<QMessageBox::Icon, QString>> Seen;
  QTimer timer;
  BoxCloser() {
    connect(&timer, &QTimer::timeout, this, [this] {
      if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
        Seen.emplace_back(box->icon(), box->text());
        box->done(QMessageBox::Ok);
      }
    });
    timer.start(20);
  }
};

std::unique_ptr<TForm1> MakeWindow(const TempDir& d, uint32_t seed = 1) {
  return std::make_unique<TForm1>(
      RunSetup{Ini(d), d.Path() + "/", std::make_unique<FixedClock>(seed)});
}

// Shows the window, which starts the run, and waits for its end; the exit status, or -1.
int RunToEnd(TForm1& w) {
  QSignalSpy ended(&w, &TForm1::runEnded);
  w.show();
  w.activateWindow();
  if (!ended.wait(180000)) return -1;
  return ended.takeFirst().at(0).toInt();
}

// What the text box must show: the log's lines, one per text line.
QString ShownText(const MessageLog& log) {
  QStringList lines;
  for (int i = 0; i < log.LineCount(); ++i) lines << log.Line(i);
  return lines.join('\n');
}

} // namespace

// The parts of the window: the numbered log, the price chart, the layout and the status text.
class WindowParts : public QObject {
  Q_OBJECT
private slots:
  // The numbered log: 200 lines, then a ring.
  void logPlacesEachLineInTheRing() {
    using Case = std::tuple<int, int, const char*, int>;
    for (auto [written, index, expected, lines] :
         {Case{5, 0, "edtMsg", 6}, Case{199, 199, "199: x", 200}, Case{200, 0, "200: x", 200},
          Case{201, 1, "201: x", 200}, Case{599, 199, "599: x", 200}}) {
      TempDir d;
      auto w = MakeWindow(d);
      // The text box is brought up to date now and then, as the window does before it repaints.
      for (int n = 1; n <= written; ++n) {
        w->Output_msg(n, FormatInt(n) + ": x");
        if (n % 37 == 0) w->edtMsg()->Show();
      }
      QCOMPARE(w->edtMsg()->Line(index), QString(expected));
      QCOMPARE(w->edtMsg()->LineCount(), lines);
      w->edtMsg()->Show();
      QCOMPARE(w->edtMsg()->toPlainText(), ShownText(*w->edtMsg()));
      // The box shows the line written last, also inside the ring.
      QCOMPARE(w->edtMsg()->textCursor().blockNumber(), written % 200);
    }
  }

  // The first 500 points after the start, then the latest 500; the bottom axis spans a full page
  // of 500 generations from the oldest point.
  void chartKeepsAWindowOf500Points() {
    using Case = std::array<int, 4>;
    for (auto [start, last, first, count] :
         {Case{0, 500, 1, 500}, Case{0, 501, 2, 500}, Case{40, 100, 41, 60}, Case{40, 540, 41, 500},
          Case{40, 541, 42, 500}}) {
      PriceChart chart;
      for (int g = start + 1; g <= last; ++g) chart.AddPoint(g, 100 + g % 7, start);
      chart.Refresh();
      QCOMPARE(chart.Series1()->count(), count);
      QCOMPARE(chart.Series1()->at(0).x(), double(first));
      QCOMPARE(chart.BottomAxis()->max(), double(first + 499));
      QVERIFY(chart.LeftAxis()->min() <= 100 && chart.LeftAxis()->max() >= 106);
    }
  }

  // The log above the full-width chart, with the button panel at the log's right. A click on the
  // window's own surface measures the free space at once.
  void layoutAndTheStatusTextOnAClick() {
    TempDir d;
    auto w = MakeWindow(d);
    w->show();
    QVERIFY(QTest::qWaitForWindowExposed(w.get()));
    QWidget* panel1 = w->edtMsg()->parentWidget();
    QPoint logBottom = panel1->mapTo(w.get(), QPoint(0, panel1->height()));
    QCOMPARE(logBottom.y(), w->Chart1()->mapTo(w.get(), QPoint(0, 0)).y());
    QCOMPARE(w->edtMsg()->geometry().right() + 1, w->btnExit()->parentWidget()->geometry().left());
    QCOMPARE(w->Chart1()->width(), w->width());

    QCOMPARE(w->StatusText()->text(), QString()); // until the first tick
    QTest::mouseClick(w->btnExit()->parentWidget(), Qt::LeftButton, {}, QPoint(30, 10));
    QString text = w->StatusText()->text();
    QVERIFY2(QRegularExpression("^Free Disk Space : [0-9.]+(E[0-9]+)?MB$").match(text).hasMatch(),
             qPrintable(text));
    QCOMPARE(FreeDiskText(81234.5), QString("Free Disk Space : 81234.5MB"));
    QCOMPARE(FreeDiskText(-0.000001), QString("Free Disk Space : -1E-6MB")); // a failed query
  }
};

// Seeded runs of the example driven through the window.
class RunInWindow : public QObject {
  Q_OBJECT
private slots:
  // The Exit button (a real click) and closing the window both stop the run at the end of the
  // generation with a checkpoint, and the window stays open; a new run resumes it without a gap,
  // on an empty chart, and a later activation of its window does not start another run.
  void exitButtonStopsTheGenerationAndTheRunResumes() { stopAndResume(false); }
  void closingTheWindowStopsTheGenerationAndTheRunResumes() { stopAndResume(true); }

  // With the library in use and no companion to answer, the window stays alive while the run
  // waits for it: the Exit button is seen, and the run stops at the generation that waits, with
  // that generation's checkpoint; nothing the run computed past the wait is written.
  void exitWhileTheCompanionIsAwaitedStopsAtTheWait() {
    TempDir d;
    Prepare(d, {{"Gen_No", "20"}, {"G_Gap", "5"}, {"LibraryProb", "30"}});
    BoxCloser closer;          // the warning that ZupoAp could not be started
    auto w = MakeWindow(d, 4); // no ZupoAp beside it: generation 1's signal file stays
    QTimer::singleShot(1500, w.get(), [&] { QTest::mouseClick(w->btnExit(), Qt::LeftButton); });
    QCOMPARE(RunToEnd(*w), 3);
    CheckStoppedAt(d, *w, 2);
    QCOMPARE(closer.Seen.size(), size_t(1));
    QCOMPARE(closer.Seen[0].first, QMessageBox::Warning); // the run went on after it
    QVERIFY2(closer.Seen[0].second.startsWith("The companion ZupoAp could not be started (" +
                                              QString::fromStdString(d.Path()) + "/ZupoAp: "),
             qPrintable(closer.Seen[0].second));
  }

  // An error at start-up runs nothing; one inside a generation ends the run with status 2. Each
  // is shown in one critical box.
  void errorsAreShownInABoxAndEndTheRun() {
    // The key and value, the exit status, the box's text (a regular expression), and the keys
    // Running and Exit (a start-up error leaves Running=1).
    for (auto [key, value, status, box, runningExit] :
         {std::tuple{"LibraryProb", "0.5", 1, "Zupo.ini.*LibraryProb.*0\\.5", "10"},
          {"G_Gap", "0", 2, "^The run stopped in generation 2: ", "01"}}) {
      TempDir d;
      Prepare(d, {{"Gen_No", "3"}, {key, value}});
      BoxCloser closer;
      auto w = MakeWindow(d, 3);
      QCOMPARE(RunToEnd(*w), status);
      QCOMPARE(closer.Seen.size(), size_t(1));
      QCOMPARE(closer.Seen[0].first, QMessageBox::Critical);
      QVERIFY2(QRegularExpression(box).match(closer.Seen[0].second).hasMatch(),
               qPrintable(closer.Seen[0].second));
      QCOMPARE(Key(d, "Running") + Key(d, "Exit"), std::string(runningExit));
      QCOMPARE(fs::exists(d / "run/Data1.txt"), status == 2);
      QCOMPARE(w->edtMsg()->LineCount() == 1, status == 1);
    }
  }

private:
  // A run stopped by the Exit button in generation gen: the stop's keys, that generation's
  // checkpoint, and its rows up to gen.
  void CheckStoppedAt(const TempDir& d, const TForm1& w, int gen) {
    const std::string g = std::to_string(gen);
    QCOMPARE(w.Result().LastGen, gen);
    QCOMPARE(Key(d, "Stop_No") + Key(d, "Exit") + Key(d, "No_Memory") + Key(d, "Running"),
             g + "110");
    QVERIFY(test::ReadText(d / "run/Backup1.txt").rfind("GEN=" + g + "  First=", 0) == 0);
    QCOMPARE(RowGens(d), Range(1, gen));
  }

  void stopAndResume(bool byClose) {
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
    CheckStoppedAt(d, *w, 5);
    QVERIFY(w->isVisible());
    QCOMPARE(w->edtMsg()->Line(0), QString("Processing Generation        1 "));

    auto again = MakeWindow(d, 6);
    QCOMPARE(RunToEnd(*again), 0);
    QCOMPARE(Key(d, "Running") + Key(d, "Stop_No"), std::string("00"));
    QCOMPARE(again->edtMsg()->Line(0), QString("edtMsg"));
    QCOMPARE(again->edtMsg()->Line(1), QString("1: Processing Generation     6"));
    QCOMPARE(again->edtMsg()->toPlainText(), ShownText(*again->edtMsg()));
    // Generations 6..9, all shown once the run is over.
    QCOMPARE(again->Chart1()->Series1()->count(), 4);
    QCOMPARE(again->Chart1()->Series1()->at(0).x(), 6.0);
    QCOMPARE(again->Chart1()->Points().back().y(), double(again->Result().LastPrice));
    QSignalSpy ended(again.get(), &TForm1::runEnded);
    again->hide();
    again->show();
    again->FormActivate();
    QTest::qWait(300);
    QCOMPARE(ended.count(), 0);
    QCOMPARE(RowGens(d), Range(1, 9));
  }
};

} // namespace zupo

// A first argument that is not an option names the one group to run (CTest runs each alone).
int main(int argc, char** argv) {
  QApplication app(argc, argv);
  zupo::WindowParts parts;
  zupo::RunInWindow runs;
  QStringList args = app.arguments();
  QString only = args.size() > 1 && !args[1].startsWith('-') ? args.takeAt(1) : QString();
  if (only != "" && only != "WindowParts" && only != "RunInWindow") {
    std::fprintf(stderr, "no test group named %s\n", qPrintable(only));
    return 1;
  }
  int failed = only == "RunInWindow" ? 0 : QTest::qExec(&parts, args);
  if (only != "WindowParts") failed += QTest::qExec(&runs, args);
  return failed == 0 ? 0 : 1;
}

#include "main_window_test.moc"
