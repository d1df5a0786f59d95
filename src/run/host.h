#pragma once
#include <string>

namespace zupo {

// What the window does for the run. The Qt window, the terminal front end and the recording
// test host implement it.
class Host {
public:
  virtual ~Host() = default;
  // Adds one numbered log line (the host keeps MsgCount's ring of 200 lines).
  virtual void Output_msg(const std::string& line) = 0;
  virtual void ShowGraph(int gen, long double price) = 0;
  virtual void ReplaceFirstLogLine(const std::string& line) = 0;
  virtual void ProcessMessages() = 0;
  // A modal warning after which the run continues.
  virtual void Warn(const std::string& msg) = 0;
  // Free disk space of the run's drive in millions of bytes (-0.000001 when the query fails).
  virtual double FreeDiskMB() = 0;
  virtual bool ExitPressed() = 0;
};

} // namespace zupo
