#include "ui/main_window.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QStatusBar>
#include <QTimer>
#include <QVBoxLayout>
#include <sys/statvfs.h>

#include "core/format.h"
#include "core/paths.h"
#include "core/real6.h"
#include "ui/message_log.h"
#include "ui/price_chart.h"

namespace zupo {

namespace {

constexpr QSize OuterSize(795, 570);
constexpr QPoint FirstPosition(218, 122);
constexpr int ChartHeight = 293;
constexpr int ButtonPanelWidth = 72;
constexpr int StatusBarHeight = 24;
// The run asks for pending events several times a generation; handling them at most this often
// keeps the window responsive without repainting it for every step of a fast run.
constexpr std::chrono::milliseconds PumpInterval{100};

// Adds the time of its scope to a total.
class Stopwatch {
public:
  explicit Stopwatch(std::chrono::steady_clock::duration& total) : total_(total) {}
  ~Stopwatch() { total_ += std::chrono::steady_clock::now() - start_; }

private:
  std::chrono::steady_clock::duration& total_;
  std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};

QFrame* Panel(QWidget* parent) {
  auto* p = new QFrame(parent);
  p->setFrameStyle(QFrame::Panel | QFrame::Raised);
  return p;
}

} // namespace

int ExitStatus(RunEnd end) {
  switch (end) {
  case RunEnd::Finished:
    return 0;
  case RunEnd::Stopped:
    return 3;
  case RunEnd::Failed:
    break;
  }
  return 2;
}

QString FreeDiskText(double freeDiskMB) {
  return QString::fromStdString("Free Disk Space : " + FormatGeneral(freeDiskMB) + "MB");
}

TForm1::TForm1(RunSetup setup, QWidget* parent)
    : QMainWindow(parent), setup_(std::move(setup)), sim_(std::make_unique<Simulation>()) {
  setWindowTitle("Zupo");
  QFont font("Times New Roman");
  font.setPixelSize(12);
  setFont(font);
  BuildLayout();
  move(FirstPosition);
  resize(OuterSize);
  timer_ = new QTimer(this);
  timer_->setInterval(1000);
  connect(timer_, &QTimer::timeout, this, &TForm1::TimerTimer);
  timer_->start();
}

TForm1::~TForm1() = default;

// Panel1 (the log and, at its right edge, Panel2 with the Exit button) above the chart, the
// one-panel status bar at the bottom edge.
void TForm1::BuildLayout() {
  auto* central = new QWidget(this);
  auto* column = new QVBoxLayout(central);
  column->setContentsMargins(0, 0, 0, 0);
  column->setSpacing(0);

  QFrame* panel1 = Panel(central);
  auto* row = new QHBoxLayout(panel1);
  row->setContentsMargins(0, 0, 0, 0);
  row->setSpacing(0);
  edtMsg_ = new MessageLog(panel1);
  QFrame* panel2 = Panel(panel1);
  panel2->setFixedWidth(ButtonPanelWidth);
  btnExit_ = new QPushButton("Exit", panel2);
  btnExit_->setGeometry(6, 58, 59, 26);
  connect(btnExit_, &QPushButton::clicked, this, &TForm1::btnExitClick);
  row->addWidget(edtMsg_, 1);
  row->addWidget(panel2);

  chart_ = new PriceChart(central);
  chart_->setFixedHeight(ChartHeight);
  column->addWidget(panel1, 1);
  column->addWidget(chart_);
  setCentralWidget(central);

  status_ = new QLabel(this);
  statusBar()->addWidget(status_, 1);
  statusBar()->setFixedHeight(StatusBarHeight);
}

void TForm1::Output_msg(int32_t msgNo, const std::string& line) {
  Stopwatch watch(windowTime_);
  edtMsg_->PutLine(msgNo, QString::fromStdString(line));
}

void TForm1::ReplaceFirstLogLine(const std::string& line) {
  edtMsg_->ReplaceLine(0, QString::fromStdString(line));
}

void TForm1::ShowGraph(int32_t gen, long double price) {
  Stopwatch watch(windowTime_);
  chart_->AddPoint(gen, static_cast<double>(price), sim_->R.StartGen);
  emit pricePlotted(gen);
}

void TForm1::ProcessMessages() {
  auto now = std::chrono::steady_clock::now();
  if (now - lastPump_ < PumpInterval) return;
  lastPump_ = now;
  Stopwatch watch(windowTime_);
  edtMsg_->ShowIfDue();
  QCoreApplication::processEvents();
}

void TForm1::Warn(const std::string& msg) {
  QMessageBox box(QMessageBox::Warning, "Warning", QString::fromStdString(msg), QMessageBox::Ok,
                  this);
  box.exec();
}

double TForm1::FreeDiskMB() {
  if (!diskMeasured_) TimerTimer();
  return freeDiskMB_;
}

bool TForm1::ExitPressed() {
  return exitPressed_;
}

// The free space of the drive that holds the configuration file, in millions of bytes; a failed
// query counts as -1 byte, which the run's stop check treats as a full disk.
void TForm1::TimerTimer() {
  struct statvfs st {};
  std::string folder = FolderOf(setup_.IniFile);
  long double bytes = -1;
  if (::statvfs(folder.empty() ? "." : folder.c_str(), &st) == 0)
    bytes = static_cast<long double>(st.f_bavail) * static_cast<long double>(st.f_frsize);
  freeDiskMB_ = Round6(bytes * 0.000001L);
  diskMeasured_ = true;
  status_->setText(FreeDiskText(freeDiskMB_));
  edtMsg_->Show();
  chart_->RefreshIfDue();
}

void TForm1::btnExitClick() {
  exitPressed_ = true;
}

bool TForm1::event(QEvent* event) {
  // The run starts from the event loop rather than inside the activation's own delivery.
  if (event->type() == QEvent::WindowActivate && !started_)
    QMetaObject::invokeMethod(this, &TForm1::FormActivate, Qt::QueuedConnection);
  return QMainWindow::event(event);
}

void TForm1::FormActivate() {
  if (started_) return;
  started_ = running_ = true;
  TimerTimer();
  try {
    result_ = RunSimulation(*sim_, *this, *setup_.RunClock, setup_.IniFile, setup_.AppDir);
  } catch (const std::exception& e) {
    running_ = false;
    result_.Message = e.what();
    edtMsg_->Show();
    chart_->Refresh();
    QMessageBox::critical(this, "Zupo", QString::fromStdString(e.what()));
    EndRun(1);
    return;
  }
  running_ = false;
  edtMsg_->Show();
  chart_->Refresh();
  if (result_.End == RunEnd::Failed)
    QMessageBox::critical(this, "Zupo",
                          QString::fromStdString("The run stopped in generation " +
                                                 FormatInt(result_.LastGen) + ": " +
                                                 result_.Message));
  EndRun(ExitStatus(result_.End));
}

void TForm1::EndRun(int status) {
  emit runEnded(status);
}

// The outer size includes the frame the window manager adds, known once the window is shown.
void TForm1::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  if (sized_) return;
  sized_ = true;
  QSize frame = frameGeometry().size() - geometry().size();
  if (frame.width() > 0 || frame.height() > 0) resize(OuterSize - frame);
}

// Closing the window while the run computes is a press of Exit: the run stops at the end of the
// generation with a checkpoint, and its end closes the program. Otherwise the window just closes.
void TForm1::closeEvent(QCloseEvent* event) {
  if (running_) {
    exitPressed_ = true;
    event->ignore();
    return;
  }
  if (!started_) {
    started_ = true;
    EndRun(3);
  }
  event->accept();
}

void TForm1::mousePressEvent(QMouseEvent* event) {
  TimerTimer();
  QMainWindow::mousePressEvent(event);
}

} // namespace zupo
