#include "run/runlock.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include "core/errors.h"
#include "core/paths.h"

namespace zupo {

RunLock::~RunLock() {
  if (fd_ >= 0) ::close(fd_); // closing releases the lock
}

RunLock& RunLock::operator=(RunLock&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = other.fd_;
    other.fd_ = -1;
  }
  return *this;
}

RunLock RunLock::Acquire(const std::string& folder) {
  const std::string path = FileInFolder(folder, "zupo.lock");
  // Close-on-exec: the companion program started by the run must not inherit the hold.
  int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0)
    throw RunError(path + ": cannot open the run folder's lock file: " + std::strerror(errno));
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    int err = errno;
    char buf[32] = {};
    ssize_t n = ::pread(fd, buf, sizeof buf - 1, 0);
    ::close(fd);
    if (err != EWOULDBLOCK)
      throw RunError(path + ": cannot lock the run folder: " + std::strerror(err));
    std::string holder = n > 0 ? std::string(buf, static_cast<size_t>(n)) : std::string();
    while (!holder.empty() && (holder.back() == '\n' || holder.back() == '\r')) holder.pop_back();
    std::string name = folder;
    while (name.size() > 1 && name.back() == '/') name.pop_back();
    throw RunError(name + ": the run folder is in use by another run (process " +
                   (holder.empty() ? std::string("unknown") : holder) + ")");
  }
  std::string pid = std::to_string(::getpid()) + "\n";
  if (::ftruncate(fd, 0) != 0 || ::pwrite(fd, pid.data(), pid.size(), 0) < 0) {
    int err = errno;
    ::close(fd);
    throw RunError(path + ": cannot write the lock file: " + std::strerror(err));
  }
  return RunLock(fd);
}

} // namespace zupo
