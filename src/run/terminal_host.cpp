#include "run/terminal_host.h"

#include <csignal>
#include <sys/statvfs.h>
#include <unistd.h>

#include "core/format.h"

namespace zupo {

namespace {
std::atomic<bool> gStopRequested{false};
// The first Ctrl-C or SIGTERM stops the run after the current generation (or at the next step
// of the start-up); a second one ends the program at once, as the shell's own would.
extern "C" void OnStopSignal(int sig) {
  if (gStopRequested.exchange(true)) ::_exit(128 + sig);
}
} // namespace

void TerminalHost::InstallSignalHandlers() {
  struct sigaction sa {};
  sa.sa_handler = OnStopSignal;
  sigemptyset(&sa.sa_mask);
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);
}

TerminalHost::TerminalHost(std::string runDir, int32_t genNo, bool quiet, bool tty)
    : runDir_(std::move(runDir)), genNo_(genNo), quiet_(quiet), tty_(tty) {
  start_ = lastShown_ = std::chrono::steady_clock::now();
  lastDisk_ = start_ - std::chrono::seconds(10);
}

void TerminalHost::Output_msg(int32_t, const std::string& line) {
  if (quiet_ || tty_) return;
  std::printf("%s\n", line.c_str());
}

void TerminalHost::ReplaceFirstLogLine(const std::string& line) {
  if (quiet_ || tty_) return;
  std::printf("%s\n", line.c_str());
}

void TerminalHost::ShowGraph(int32_t gen, long double price) {
  auto now = std::chrono::steady_clock::now();
  if (firstGen_ < 0) {
    firstGen_ = gen;
    start_ = now;
  }
  if (quiet_ || !tty_) return;
  if (now - lastShown_ < std::chrono::milliseconds(200) && gen < genNo_) return;
  lastShown_ = now;
  double secs = std::chrono::duration<double>(now - start_).count();
  double rate = secs > 0 ? (gen - firstGen_) / secs : 0;
  std::string left = "?";
  if (rate > 0) {
    long rest = static_cast<long>((genNo_ - gen) / rate);
    char buf[32];
    std::snprintf(buf, sizeof buf, "%ldm%02lds", rest / 60, rest % 60);
    left = buf;
  }
  std::fprintf(stdout, "\rGeneration %d of %d  %.1f gen/s  %s left  price %s      ", gen, genNo_,
               rate, left.c_str(), FormatGeneral(price).c_str());
  std::fflush(stdout);
  lineOpen_ = true;
}

void TerminalHost::Warn(const std::string& msg) {
  Finish();
  std::fprintf(stderr, "warning: %s\n", msg.c_str());
}

double TerminalHost::FreeDiskMB() {
  auto now = std::chrono::steady_clock::now();
  if (now - lastDisk_ >= std::chrono::seconds(1)) {
    lastDisk_ = now;
    struct statvfs st {};
    if (::statvfs(runDir_.c_str(), &st) == 0)
      disk_ = static_cast<double>(st.f_bavail) * static_cast<double>(st.f_frsize) * 0.000001;
    else
      disk_ = -0.000001;
  }
  return disk_;
}

bool TerminalHost::ExitPressed() {
  return gStopRequested.load();
}

void TerminalHost::Finish() {
  if (lineOpen_) {
    std::fputc('\n', stdout);
    std::fflush(stdout);
    lineOpen_ = false;
  }
}

} // namespace zupo
