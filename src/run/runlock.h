#pragma once
#include <string>

namespace zupo {

// An exclusive hold on a run folder for the life of a run, so that a second program started on
// the same folder refuses to start instead of overwriting the first one's files. The hold is a
// lock on the file "zupo.lock" in the folder, which also records the holder's process id; the
// system releases it when the process ends, however it ends.
class RunLock {
public:
  RunLock() = default;
  ~RunLock();
  RunLock(RunLock&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
  RunLock& operator=(RunLock&& other) noexcept;
  RunLock(const RunLock&) = delete;
  RunLock& operator=(const RunLock&) = delete;

  // RunError naming the folder and the process that holds it when the folder is in use.
  static RunLock Acquire(const std::string& folder);
  bool Held() const { return fd_ >= 0; }

private:
  explicit RunLock(int fd) : fd_(fd) {}
  int fd_ = -1;
};

} // namespace zupo
