#include "library/service.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <poll.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

#include "core/errors.h"
#include "core/format.h"
#include "core/ini.h"
#include "core/paths.h"
#include "core/textio.h"
#include "library/keeper.h"
#include "run/companion.h"

namespace zupo {

namespace {

using Steady = std::chrono::steady_clock;

// ZupoAp.log: one line per event, appended and pushed to the file at once, so that the log is
// complete up to the last event whatever ends the program.
class CompanionLog {
public:
  explicit CompanionLog(const std::string& path) {
    fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  }
  ~CompanionLog() {
    if (fd_ >= 0) ::close(fd_);
  }
  CompanionLog(const CompanionLog&) = delete;
  CompanionLog& operator=(const CompanionLog&) = delete;
  void Line(std::string text) {
    EndLine(text);
    if (fd_ < 0 || ::write(fd_, text.data(), text.size()) < 0)
      ::write(2, text.data(), text.size()); // no log file: the error output is all there is
  }

private:
  int fd_ = -1;
};

std::string Pid(pid_t p) {
  return FormatInt(static_cast<long long>(p));
}

// The folder for the log before the configuration is known to be sound: Tree_Path1 when it
// names a folder, else the folder of the configuration.
std::string FallbackFolder(const std::string& ini) {
  try {
    std::string t = ResolvePath(FolderOf(ini), ReadIniStr("Common", "Tree_Path1", ini));
    if (!t.empty() && DirExists(t)) return t;
  } catch (const std::exception&) {
  }
  return FolderOf(ini);
}

// Asks a running run to stop (with its checkpoint) rather than wait for a companion that cannot
// serve it.
void StopRun(const std::string& ini, CompanionLog& log) {
  try {
    if (FileExists(ini) && ReadIniStr("Common", "Running", ini) == "1") {
      IniWrite(ini, "Common", "Exit", "1");
      log.Line("Exit set to 1: the run stops with its checkpoint");
    }
  } catch (const std::exception& e) {
    log.Line(std::string("Exit could not be set: ") + e.what());
  }
}

// The lock file, held through flock for the life of the program. Its text names the holder.
class CompanionLock {
public:
  explicit CompanionLock(std::string path) : path_(std::move(path)) {
    fd_ = ::open(path_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd_ < 0) throw RunError(path_ + ": cannot open the lock file: " + std::strerror(errno));
  }
  ~CompanionLock() { ::close(fd_); }
  CompanionLock(const CompanionLock&) = delete;
  CompanionLock& operator=(const CompanionLock&) = delete;

  bool TryAcquire(pid_t runPid) {
    if (::flock(fd_, LOCK_EX | LOCK_NB) != 0) return false;
    std::string text = "companion " + Pid(::getpid()) + " run " + Pid(runPid) + "\r\n";
    if (::ftruncate(fd_, 0) != 0 ||
        ::pwrite(fd_, text.data(), text.size(), 0) != static_cast<ssize_t>(text.size()))
      throw RunError(path_ + ": cannot write the lock file: " + std::strerror(errno));
    return true;
  }
  // The companion and the run named by the holder (0 when unreadable).
  std::pair<pid_t, pid_t> Holder() const {
    long long c = 0, r = 0;
    try {
      TextReader in(path_, ReadWholeFile(path_));
      std::string line = in.ReadLine();
      std::sscanf(line.c_str(), "companion %lld run %lld", &c, &r);
    } catch (const std::exception&) {
    }
    return {static_cast<pid_t>(c), static_cast<pid_t>(r)};
  }

private:
  std::string path_;
  int fd_ = -1;
};

// Wakes the companion when a file appears in the run folder; without inotify it polls.
class FolderWatch {
public:
  explicit FolderWatch(const std::string& folder) {
    fd_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (fd_ >= 0 && ::inotify_add_watch(fd_, folder.c_str(), IN_CREATE | IN_MOVED_TO) < 0) {
      ::close(fd_);
      fd_ = -1;
    }
  }
  ~FolderWatch() {
    if (fd_ >= 0) ::close(fd_);
  }
  FolderWatch(const FolderWatch&) = delete;
  FolderWatch& operator=(const FolderWatch&) = delete;

  enum Event { Timeout, NewName, Other };

  // Waits up to ms for a new name beginning with "Gen" (any new name when unsure), or until
  // other (-1: none) is readable.
  Event Wait(int ms, int other) {
    if (fd_ < 0) {
      if (other >= 0) {
        pollfd p{other, POLLIN, 0};
        if (::poll(&p, 1, std::min(ms, 2)) > 0) return Other;
      } else {
        std::this_thread::sleep_for(std::chrono::milliseconds(std::min(ms, 2)));
      }
      return Timeout;
    }
    auto until = Steady::now() + std::chrono::milliseconds(ms);
    for (;;) {
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - Steady::now());
      if (left.count() <= 0) return Timeout;
      pollfd p[2] = {{fd_, POLLIN, 0}, {other, POLLIN, 0}};
      int n = ::poll(p, other >= 0 ? 2 : 1, static_cast<int>(left.count()));
      if (n <= 0) return Timeout; // timeout, or a signal: the caller looks again
      if ((p[0].revents & POLLIN) && Drain()) return NewName;
      if (other >= 0 && p[1].revents != 0) return Other;
    }
  }

private:
  bool Drain() {
    alignas(inotify_event) char buf[8192];
    bool signal = false;
    for (;;) {
      ssize_t n = ::read(fd_, buf, sizeof buf);
      if (n <= 0) return signal;
      for (char* p = buf; p < buf + n;) {
        auto* ev = reinterpret_cast<inotify_event*>(p);
        if ((ev->mask & IN_Q_OVERFLOW) || (ev->len > 0 && std::strncmp(ev->name, "Gen", 3) == 0))
          signal = true;
        p += sizeof(inotify_event) + ev->len;
      }
    }
  }
  int fd_ = -1;
};

// The run folder the companion serves, by the file it is, not by its name: a folder removed and
// made again under the same name (a new run started in its place while this companion was still
// ending) is not this companion's to serve, and its configuration is not its to set.
class ServedFolder {
public:
  explicit ServedFolder(std::string folder) : folder_(std::move(folder)) {
    if (::stat(folder_.c_str(), &was_) != 0) throw RunError(folder_ + ": " + std::strerror(errno));
  }
  // "" while the name still holds the folder the companion started with.
  std::string Gone() const {
    struct stat now {};
    if (::stat(folder_.c_str(), &now) == 0 && now.st_dev == was_.st_dev &&
        now.st_ino == was_.st_ino)
      return "";
    return "the run folder " + folder_ + " was removed or replaced";
  }

private:
  std::string folder_;
  struct stat was_ {};
};

// Why the companion should end now ("" while it should go on).
std::string EndReason(const CompanionOptions& opt) {
  if (opt.Stop && opt.Stop->load()) return "stopped by a signal";
  if (opt.RunPid > 0 && !ProcessAlive(opt.RunPid))
    return "the run process " + Pid(opt.RunPid) + " is gone";
  if (ReadIniStr("Common", "Running", opt.IniFile) == "0") return "Running is 0";
  if (ReadIniStr("Common", "Exit", opt.IniFile) == "1") return "Exit is 1";
  return "";
}

std::string ReportLine(const GenerationReport& r) {
  return "Generation " + FormatInt(r.Gen) + ": best " + FormatGeneral(r.Best) + ", median " +
         FormatGeneral(r.Median) + ", " + FormatInt(r.Changed) + " entries changed, " +
         FormatFixed(r.Millis, 0, 3) + " ms (" + FormatFixed(r.AheadMillis, 0, 3) + " ms ahead, " +
         FormatInt(static_cast<int>(r.Evaluations)) + " evaluations)";
}

} // namespace

bool ProcessAlive(pid_t pid) {
  if (pid <= 0) return false;
  if (::kill(pid, 0) != 0 && errno == ESRCH) return false;
  // A zombie has ended; only its parent has not collected it yet.
  try {
    std::string stat = ReadWholeFile("/proc/" + Pid(pid) + "/stat");
    size_t p = stat.rfind(')');
    if (p != std::string::npos && p + 2 < stat.size())
      return stat[p + 2] != 'Z' && stat[p + 2] != 'X';
  } catch (const std::exception&) {
    return false; // gone between the two looks
  }
  return true;
}

int RunCompanion(const CompanionOptions& opt) {
  std::unique_ptr<LibraryKeeper> keeper;
  try {
    keeper = std::make_unique<LibraryKeeper>(opt.IniFile);
  } catch (const std::exception& e) {
    CompanionLog log(FileInFolder(FallbackFolder(opt.IniFile), CompanionLogName));
    log.Line("Start failed: " + std::string(e.what()));
    StopRun(opt.IniFile, log);
    log.Line("End: start-up error");
    return 1;
  }
  const std::string folder = keeper->Sim().P.Tree_Path1;
  CompanionLog log(FileInFolder(folder, CompanionLogName));
  std::string reason;
  try {
    CompanionLock lock(FileInFolder(folder, CompanionLockName));
    if (!lock.TryAcquire(opt.RunPid)) {
      auto [holder, run] = lock.Holder();
      if (opt.RunPid > 0 && run == opt.RunPid) {
        log.Line("End: companion " + Pid(holder) + " already serves run " + Pid(run));
        return 0;
      }
      log.Line("Waiting for the lock held by companion " + Pid(holder));
      while (!lock.TryAcquire(opt.RunPid)) {
        reason = EndReason(opt);
        if (!reason.empty()) {
          log.Line("End: " + reason);
          return 0;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(opt.PollMs));
      }
    }
    log.Line("Start: companion " + Pid(::getpid()) + " serves run " + Pid(opt.RunPid) + " of " +
             opt.IniFile);
    const ServedFolder served(folder);

    // Serves every signal file there; false when the companion must end (an error, logged with
    // the run asked to stop; or the folder is no longer its own, with the reason set).
    auto serveAll = [&](bool& any) {
      any = false;
      for (int g : SignalGenerations(folder)) {
        if (!FileExists(keeper->SignalFile(g))) continue;
        if (std::string gone = served.Gone(); !gone.empty()) {
          reason = gone;
          return false;
        }
        any = true;
        try {
          log.Line(ReportLine(keeper->Serve(g)));
        } catch (const std::exception& e) {
          log.Line("Generation " + FormatInt(g) + ": " + e.what());
          if (std::string gone = served.Gone(); !gone.empty()) { // not its run to stop
            reason = gone;
            return false;
          }
          StopRun(opt.IniFile, log);
          reason = "error";
          return false;
        }
      }
      return true;
    };
    FolderWatch watch(folder);
    auto lastCheck = Steady::now() - std::chrono::hours(1);
    for (;;) {
      if (Steady::now() - lastCheck >= std::chrono::milliseconds(opt.PollMs)) {
        reason = EndReason(opt);
        lastCheck = Steady::now();
      }
      bool any = false;
      if (!serveAll(any)) {
        log.Line("End: " + reason);
        return reason == "error" ? 1 : 0;
      }
      // The run's last signal file is there before the run ends: it is served all the same,
      // so that what is left behind does not depend on how fast the companion was.
      if (!reason.empty()) break;
      if (any) continue;
      try {
        keeper->PrepareNext();
      } catch (const std::exception& e) { // the generation's work does without
        log.Line(std::string("Preparing ahead failed: ") + e.what());
      }
      // Idle until the next signal file; meanwhile the population files the run writes for a
      // learning generation are read ahead, which shortens the work the run waits for.
      auto until = Steady::now() + std::chrono::milliseconds(opt.PollMs);
      while (Steady::now() < until) {
        int left = static_cast<int>(
            std::chrono::ceil<std::chrono::milliseconds>(until - Steady::now()).count());
        if (watch.Wait(left, keeper->ReadAheadFd()) != FolderWatch::Other) break;
        try {
          keeper->ReadAhead();
        } catch (const std::exception& e) { // the generation's work reads the files
          log.Line(std::string("Reading ahead failed: ") + e.what());
        }
      }
    }
  } catch (const std::exception& e) {
    log.Line("Error: " + std::string(e.what()));
    StopRun(opt.IniFile, log);
    log.Line("End: error");
    return 1;
  }
  log.Line("End: " + reason);
  return 0;
}

} // namespace zupo
