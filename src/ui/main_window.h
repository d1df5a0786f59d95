#pragma once
#include <QMainWindow>
#include <chrono>
#include <memory>
#include <string>

#include "core/clock.h"
#include "core/state.h"
#include "run/driver.h"
#include "run/host.h"

class QFrame;
class QLabel;
class QPushButton;
class QTimer;

namespace zupo {

class MessageLog;
class PriceChart;

// What the window runs: the configuration file, the program's folder (where the companion
// lives) and the clock the run seeds its random generator from.
struct RunSetup {
  std::string IniFile;
  std::string AppDir;
  std::unique_ptr<Clock> RunClock;
};

// Exit status of the programs for each way a run can end; a start-up error is 1.
int ExitStatus(RunEnd end);

// "Free Disk Space : 81234.5MB".
QString FreeDiskText(double freeDiskMB);

// The main window. Its first activation runs the whole simulation on the window thread; the run
// keeps the window alive by calling ProcessMessages at its fixed points, where the timer, the
// Exit button and repainting get their turn.
class TForm1 : public QMainWindow, public Host {
  Q_OBJECT

public:
  explicit TForm1(RunSetup setup, QWidget* parent = nullptr);
  ~TForm1() override;

  // Host
  void Output_msg(int32_t msgNo, const std::string& line) override;
  void ShowGraph(int32_t gen, long double price) override;
  void ReplaceFirstLogLine(const std::string& line) override;
  void ProcessMessages() override;
  void Warn(const std::string& msg) override;
  double FreeDiskMB() override;
  bool ExitPressed() override;

  // Starts the run; later calls do nothing.
  void FormActivate();
  void TimerTimer();
  void btnExitClick();

  MessageLog* edtMsg() const { return edtMsg_; }
  QPushButton* btnExit() const { return btnExit_; }
  PriceChart* Chart1() const { return chart_; }
  QLabel* StatusText() const { return status_; }
  const Simulation& Sim() const { return *sim_; }
  const RunResult& Result() const { return result_; }
  bool Running() const { return running_; }
  // Time the run has spent in the window's log, chart and event handling (modal boxes aside).
  double WindowSeconds() const { return std::chrono::duration<double>(windowTime_).count(); }

signals:
  // The run is over (or never started because of a start-up error); status as zupo-cli's.
  void runEnded(int status);
  // A generation's price has been plotted.
  void pricePlotted(int gen);

protected:
  bool event(QEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;

private:
  void BuildLayout();
  void EndRun(int status);

  RunSetup setup_;
  std::unique_ptr<Simulation> sim_;
  MessageLog* edtMsg_ = nullptr;
  QPushButton* btnExit_ = nullptr;
  PriceChart* chart_ = nullptr;
  QLabel* status_ = nullptr;
  QTimer* timer_ = nullptr;
  double freeDiskMB_ = 0;
  bool diskMeasured_ = false;
  bool exitPressed_ = false;
  bool started_ = false;
  bool running_ = false;
  bool sized_ = false;
  RunResult result_;
  std::chrono::steady_clock::time_point lastPump_{};
  std::chrono::steady_clock::duration windowTime_{};
};

} // namespace zupo
