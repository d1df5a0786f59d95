#include "run/companion.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "core/errors.h"
#include "core/format.h"
#include "core/ini.h"
#include "core/paths.h"
#include "core/real6.h"
#include "core/textio.h"
#include "run/runfiles.h"

extern char** environ;

namespace zupo {

namespace {

using Steady = std::chrono::steady_clock;

// Short naps first, so that a companion that answers within a few milliseconds costs the run
// no more than that; then longer ones, to leave the processor to the companion.
void Nap(Steady::duration waited) {
  auto d = waited < std::chrono::milliseconds(20) ? std::chrono::microseconds(200)
                                                  : std::chrono::microseconds(5000);
  std::this_thread::sleep_for(d);
}

constexpr auto KeyEvery = std::chrono::milliseconds(5);

bool ExitKeySet(const Simulation& sim) {
  return ReadIniStr("Common", "Exit", sim.IniFileName) == "1";
}

// Collects an ended companion, so that it does not stay a zombie of the run.
void Reap(CompanionLink* link) {
  if (link && link->Pid > 0 && ::waitpid(link->Pid, nullptr, WNOHANG) == link->Pid) link->Pid = -1;
}

// The environment of the companion, built before the spawn: this process's environment without
// earlier ZUPO_INI / ZUPO_RUN_PID entries, plus the two.
std::vector<std::string> CompanionEnvironment(const std::string& fullIni) {
  std::vector<std::string> env;
  for (char** e = environ; e && *e; ++e) {
    std::string_view v(*e);
    if (v.starts_with("ZUPO_INI=") || v.starts_with("ZUPO_RUN_PID=")) continue;
    env.emplace_back(v);
  }
  env.push_back("ZUPO_INI=" + fullIni);
  env.push_back("ZUPO_RUN_PID=" + FormatInt(static_cast<long long>(::getpid())));
  return env;
}

} // namespace

pid_t StartCompanion(const std::string& appDir, const std::string& iniFile, std::string* why) {
  std::string program = appDir;
  if (!program.empty() && program.back() != '/') program += '/';
  program += "ZupoAp";
  auto fail = [&](int err) {
    if (why) *why = program + ": " + std::strerror(err);
    return -1;
  };
  if (::access(program.c_str(), X_OK) != 0) return fail(errno);
  std::string folder = FolderOf(iniFile);
  char* real = ::realpath(iniFile.c_str(), nullptr);
  std::string fullIni = real ? real : iniFile;
  std::free(real);

  std::vector<std::string> env = CompanionEnvironment(fullIni);
  std::vector<char*> envp;
  for (std::string& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);
  char* argv[] = {program.data(), nullptr};

  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attr;
  posix_spawn_file_actions_init(&actions);
  posix_spawnattr_init(&attr);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, 1, 2);
  posix_spawn_file_actions_addchdir_np(&actions, folder.c_str());
  // Its own session: a Ctrl-C at the run's terminal is the run's to handle, and the companion
  // learns of the run's end through the keys and ZUPO_RUN_PID. Signals start from the defaults.
  sigset_t none, all;
  sigemptyset(&none);
  sigfillset(&all);
  posix_spawnattr_setsigmask(&attr, &none);
  posix_spawnattr_setsigdefault(&attr, &all);
  posix_spawnattr_setflags(&attr,
                           POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  pid_t pid = -1;
  int rc = posix_spawn(&pid, program.c_str(), &actions, &attr, argv, envp.data());
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attr);
  return rc == 0 ? pid : fail(rc);
}

std::string CompanionNotStarted(const std::string& why) {
  return "The companion ZupoAp could not be started (" + why +
         "). The run waits for it, starting it again every 60 s; a run with LibraryProb 0 needs "
         "no companion.";
}

std::vector<int> SignalGenerations(const std::string& folder) {
  std::vector<int> gens;
  DIR* dir = ::opendir(folder.c_str());
  if (!dir) return gens;
  while (dirent* e = ::readdir(dir)) {
    const char* name = e->d_name;
    if (std::strncmp(name, "Gen", 3) != 0 || name[3] < '0' || name[3] > '9') continue;
    long long g = 0;
    if (ParseInt(name + 3, g) && g < (1LL << 31)) gens.push_back(static_cast<int>(g));
  }
  ::closedir(dir);
  std::sort(gens.begin(), gens.end());
  return gens;
}

bool CompanionLockHeld(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  bool held = ::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
  ::close(fd); // closing releases the lock if this look took it
  return held;
}

std::string LaunchCompanion(const Simulation& sim, CompanionLink& link,
                            const std::string& awaitedSignal) {
  // A signal file of an earlier run would be served by the new companion as if it were this
  // run's, and its Mape.txt could reach this run.
  for (int g : SignalGenerations(sim.P.Tree_Path1)) {
    std::string f = RunFile(sim, "Gen" + FormatInt(g));
    if (f != awaitedSignal) ::unlink(f.c_str());
  }
  Reap(&link);
  std::string why;
  link.Pid = StartCompanion(link.AppDir, link.IniFile, &why);
  return link.Pid > 0 ? std::string() : why;
}

WaitEnd AwaitCompanion(const Simulation& sim, const WaitHooks& hooks, const std::string& signalFile,
                       CompanionLink* link) {
  auto start = Steady::now();
  auto lastStart = start;
  // The key is read at the first look and then every few milliseconds, not at every nap: each
  // read parses the whole configuration file.
  auto keyRead = start - KeyEvery;
  try {
    while (FileExists(signalFile)) {
      if (Steady::now() - keyRead >= KeyEvery) {
        if (ExitKeySet(sim)) return WaitEnd::ExitKey;
        keyRead = Steady::now();
      }
      if (hooks.StopPressed()) return WaitEnd::StopPressed;
      if (hooks.Pump) hooks.Pump();
      Reap(link);
      auto now = Steady::now();
      if (link && now - lastStart >= link->RestartAfter &&
          !CompanionLockHeld(RunFile(sim, CompanionLockName))) {
        if (!link->Warned)
          hooks.Warning("The companion ZupoAp has not removed " + signalFile + " for " +
                        FormatInt(link->RestartAfter.count() / 1000) +
                        " s and is not running; starting it again (see ZupoAp.log in the run "
                        "folder). The run goes on waiting.");
        link->Warned = true;
        lastStart = now;
        LaunchCompanion(sim, *link, signalFile);
      }
      Nap(now - start);
    }
  } catch (const std::exception&) {
    if (hooks.Pump) hooks.Pump();
    if (ExitKeySet(sim)) return WaitEnd::ExitKey;
  }
  return WaitEnd::Served;
}

namespace {

WaitHooks HostHooks(Host& host) {
  return {[&host] { return host.ExitPressed(); }, [&host] { host.ProcessMessages(); },
          [&host](const std::string& msg) { host.Warn(msg); }};
}

} // namespace

void WaitForCompanion(Simulation& sim, Host& host, const std::string& signalFile,
                      CompanionLink* link) {
  if (AwaitCompanion(sim, HostHooks(host), signalFile, link) != WaitEnd::Served)
    sim.R.ExitRequested = true;
}

void AwaitLastService(Simulation& sim, Host& host, const std::string& signalFile) {
  auto start = Steady::now();
  std::string lock = RunFile(sim, CompanionLockName);
  try {
    // A companion that hangs holds the run no longer than it would wait before a restart.
    while (FileExists(signalFile) && CompanionLockHeld(lock) && !host.ExitPressed() &&
           !ExitKeySet(sim) && Steady::now() - start < std::chrono::seconds(60)) {
      host.ProcessMessages();
      Nap(Steady::now() - start);
    }
  } catch (const std::exception&) {
    // The run has finished; a companion that cannot be waited for leaves the library as it is.
  }
}

bool ReadMape(Simulation& sim, Host& host) {
  return ReadMapeFile(sim, HostHooks(host), sim.R.Mape) == WaitEnd::Served;
}

WaitEnd ReadMapeFile(const Simulation& sim, const WaitHooks& hooks, MapeValues& mape) {
  std::string path = RunFile(sim, "Mape.txt");
  std::string text;
  for (;;) {
    try {
      text = ReadWholeFile(path);
      break;
    } catch (const RunError&) {
      // Not there yet: the companion writes it; a stop request ends the retry.
      if (hooks.StopPressed()) return WaitEnd::StopPressed;
      if (ExitKeySet(sim)) return WaitEnd::ExitKey;
      if (hooks.Pump) hooks.Pump();
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  }
  // Read into a copy: a bad file leaves the values as they were.
  MapeValues read = mape;
  TextReader in(path, std::move(text));
  for (int w = 1; w <= MaxTraders; ++w) {
    std::string where = path + " line " + FormatInt(w);
    if (in.Eof())
      throw RunError(where + ": missing (" + FormatInt(MaxTraders) + " error values expected, " +
                     FormatInt(w - 1) + " found)");
    std::string line = in.ReadLine();
    size_t b = line.find_first_not_of(" \t");
    std::string word =
        b == std::string::npos ? "" : line.substr(b, line.find_first_of(" \t", b) - b);
    long double v = 0;
    if (!ParseReal(word, v)) throw RunError(where + ": \"" + line + "\" is not a number");
    try {
      read[w] = Round6(v);
    } catch (const FloatError&) {
      throw RunError(where + ": " + word + " is out of range");
    }
  }
  mape = read;
  return WaitEnd::Served;
}

} // namespace zupo
