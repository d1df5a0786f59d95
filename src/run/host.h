#pragma once
#include <cstdint>
#include <string>

namespace zupo {

// What the window does for the run. The Qt window, the terminal front end and the recording
// test host implement it.
class Host {
public:
  virtual ~Host() = default;
  // Shows one numbered log line ("12: P(t+1) =  80.5"); msgNo is its number, which places it in
  // the ring of 200 lines (below 200 appended, else replacing line msgNo mod 200).
  virtual void Output_msg(int32_t msgNo, const std::string& line) = 0;
  // Adds a point to the price chart (the chart keeps the latest 500).
  virtual void ShowGraph(int32_t gen, long double price) = 0;
  virtual void ReplaceFirstLogLine(const std::string& line) = 0;
  virtual void ProcessMessages() = 0;
  // A modal warning after which the run continues.
  virtual void Warn(const std::string& msg) = 0;
  // Free disk space of the run's drive in millions of bytes (-0.000001 when the query fails).
  virtual double FreeDiskMB() = 0;
  virtual bool ExitPressed() = 0;
};

} // namespace zupo
