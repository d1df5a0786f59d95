#include "run/companion.h"

#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "core/errors.h"
#include "core/ini.h"
#include "core/paths.h"
#include "core/real6.h"
#include "core/textio.h"
#include "run/runfiles.h"

namespace zupo {

namespace {

void Nap() {
  std::this_thread::sleep_for(std::chrono::milliseconds(5));
}

bool ExitKeySet(const Simulation& sim) {
  return ReadIniStr("Common", "Exit", sim.IniFileName) == "1";
}

} // namespace

bool StartCompanion(const std::string& appDir, const std::string& iniFile) {
  std::string program = appDir;
  if (!program.empty() && program.back() != '/') program += '/';
  program += "ZupoAp";
  if (::access(program.c_str(), X_OK) != 0) return false;
  std::string folder = FolderOf(iniFile);
  char* real = ::realpath(iniFile.c_str(), nullptr);
  std::string fullIni = real ? real : iniFile;
  std::free(real);
  // Double fork: the companion is re-parented at once and never becomes a zombie of the run.
  pid_t pid = ::fork();
  if (pid < 0) return false;
  if (pid == 0) {
    pid_t inner = ::fork();
    if (inner != 0) ::_exit(0);
    ::setsid();
    int null = ::open("/dev/null", O_RDWR);
    if (null >= 0) {
      ::dup2(null, 0);
      ::dup2(null, 1);
      ::dup2(null, 2);
    }
    if (::chdir(folder.c_str()) != 0) ::_exit(127);
    ::setenv("ZUPO_INI", fullIni.c_str(), 1);
    ::execl(program.c_str(), program.c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  return true;
}

void WaitForCompanion(Simulation& sim, Host& host, const std::string& signalFile) {
  try {
    while (FileExists(signalFile)) {
      if (ExitKeySet(sim)) {
        sim.R.ExitRequested = true;
        return;
      }
      host.ProcessMessages();
      Nap();
    }
  } catch (const std::exception&) {
    host.ProcessMessages();
    if (ExitKeySet(sim)) sim.R.ExitRequested = true;
  }
}

bool ReadMape(Simulation& sim, Host& host) {
  std::string path = RunFile(sim, "Mape.txt");
  std::string text;
  for (;;) {
    try {
      text = ReadWholeFile(path);
      break;
    } catch (const RunError&) {
      // Not there yet: the companion writes it; a stop request ends the retry.
      if (host.ExitPressed() || ExitKeySet(sim)) return false;
      host.ProcessMessages();
      Nap();
    }
  }
  TextReader in(path, std::move(text));
  for (int w = 1; w <= MaxTraders; ++w) {
    sim.R.Mape[w] = Round6(in.ReadReal());
    in.SkipLine();
  }
  return true;
}

} // namespace zupo
