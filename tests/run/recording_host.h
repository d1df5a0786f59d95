#pragma once
// A host that records what the run shows, for tests of the driver.
#include <functional>
#include <string>
#include <vector>

#include "run/host.h"

namespace zupo::test {

class RecordingHost : public Host {
public:
  std::vector<std::string> Log;
  std::string FirstLine;
  std::vector<std::pair<int32_t, long double>> Points;
  std::vector<std::string> Warnings;
  int32_t PressExitAtGen = -1; // the Exit button is pressed when this generation's price shows
  bool Pressed = false;
  double DiskMB = 1e6;
  std::function<void()> OnPump; // runs inside ProcessMessages

  void Output_msg(int32_t, const std::string& line) override { Log.push_back(line); }
  void ShowGraph(int32_t gen, long double price) override {
    Points.emplace_back(gen, price);
    if (gen == PressExitAtGen) Pressed = true;
  }
  void ReplaceFirstLogLine(const std::string& line) override { FirstLine = line; }
  void ProcessMessages() override {
    if (OnPump) OnPump();
  }
  void Warn(const std::string& msg) override { Warnings.push_back(msg); }
  double FreeDiskMB() override { return DiskMB; }
  bool ExitPressed() override { return Pressed; }
};

} // namespace zupo::test
