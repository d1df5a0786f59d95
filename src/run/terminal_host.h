#pragma once
#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>

#include "run/host.h"

namespace zupo {

// The terminal front end: a single progress line on a terminal, the numbered log lines
// otherwise; warnings on standard error; Ctrl-C / SIGTERM act as the Exit button.
class TerminalHost : public Host {
public:
  TerminalHost(std::string runDir, int32_t genNo, bool quiet, bool tty);
  void Output_msg(int32_t msgNo, const std::string& line) override;
  void ShowGraph(int32_t gen, long double price) override;
  void ReplaceFirstLogLine(const std::string& line) override;
  void ProcessMessages() override {}
  void Warn(const std::string& msg) override;
  double FreeDiskMB() override;
  bool ExitPressed() override;
  // Ends the progress line before other output.
  void Finish();
  static void InstallSignalHandlers();

private:
  std::string runDir_;
  int32_t genNo_;
  bool quiet_, tty_;
  bool lineOpen_ = false;
  int32_t firstGen_ = -1;
  std::chrono::steady_clock::time_point start_, lastShown_, lastDisk_;
  double disk_ = 0;
};

} // namespace zupo
