#include "sweep/status.h"

#include <algorithm>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

#include "core/errors.h"
#include "core/ini.h"
#include "core/paths.h"
#include "core/textio.h"

namespace zupo {

const char* JobStateName(JobState s) {
  switch (s) {
  case JobState::Finished:
    return "finished";
  case JobState::Running:
    return "running";
  case JobState::Stopped:
    return "stopped";
  case JobState::Failed:
    return "failed";
  default:
    return "not started";
  }
}

int CountGenerations(const std::string& data1File) {
  if (!FileExists(data1File)) return 0;
  TextReader in = TextReader::Open(data1File);
  if (!in.Eof()) in.SkipLine(); // header
  int n = 0;
  while (!in.Eof()) {
    std::string line = in.ReadLine();
    size_t b = line.find_first_not_of(' ');
    if (b != std::string::npos && line[b] >= '0' && line[b] <= '9') ++n;
  }
  return n;
}

std::string LastAttemptHost(const std::string& logFile) {
  if (!FileExists(logFile)) return "";
  std::string text = ReadWholeFile(logFile);
  size_t at = text.rfind("\n== ");
  at = at == std::string::npos ? (text.compare(0, 3, "== ") == 0 ? 0 : text.size()) : at + 1;
  if (at >= text.size()) return "";
  size_t eol = text.find('\n', at);
  std::string line = text.substr(at, eol == std::string::npos ? std::string::npos : eol - at);
  size_t on = line.find(" on ");
  size_t colon = on == std::string::npos ? on : line.find(':', on + 4);
  return colon == std::string::npos ? "" : line.substr(on + 4, colon - on - 4);
}

ProcessView CurrentProcesses() {
  ProcessView v;
  v.Now = std::time(nullptr);
  char host[256] = {};
  if (::gethostname(host, sizeof host - 1) == 0) v.Host = host;
  std::error_code ec;
  for (const auto& e : std::filesystem::directory_iterator("/proc", ec)) {
    std::string name = e.path().filename().string();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    std::string cmd;
    try {
      cmd = ReadWholeFile(e.path().string() + "/cmdline");
    } catch (const RunError&) {
      continue; // the process ended meanwhile
    }
    std::vector<std::string> args;
    for (size_t p = 0; p < cmd.size();) {
      size_t z = cmd.find('\0', p);
      if (z == std::string::npos) z = cmd.size();
      args.push_back(cmd.substr(p, z - p));
      p = z + 1;
    }
    if (args.size() < 2 || args[0].find("zupo-cli") == std::string::npos) continue;
    std::string dir = args.back();
    while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
    v.LocalRunDirs.push_back(dir);
  }
  return v;
}

RunStatus InspectRun(const Study& study, const ManifestRow& run, const ProcessView& procs) {
  RunStatus st;
  const std::string dir = study.RunDir(run);
  const std::string ini = dir + "/Zupo.ini";
  long long v = 0;
  if (ParseInt(ReadIniStr("Traders", "Gen_No", ini), v)) st.Gen_No = static_cast<int>(v);
  const std::string data1 =
      FileInFolder(ResolvePath(dir, ReadIniStr("Common", "Tree_Path1", ini)), "Data1.txt");
  st.Generations = CountGenerations(data1);

  if (FileExists(study.ExitFile(run))) {
    std::string text = ReadWholeFile(study.ExitFile(run));
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    if (ParseInt(text, v)) st.ExitStatus = static_cast<int>(v);
  }
  const bool running = ReadIniStr("Common", "Running", ini) == "1";
  long long stop = 0;
  ParseInt(ReadIniStr("Common", "Stop_No", ini), stop);
  struct stat sb {};
  const bool fresh = ::stat(ini.c_str(), &sb) == 0 && procs.Now - sb.st_mtime < kStaleSeconds;
  const bool here = std::find(procs.LocalRunDirs.begin(), procs.LocalRunDirs.end(), dir) !=
                    procs.LocalRunDirs.end();
  const std::string host = LastAttemptHost(study.LogFile(run));

  if (st.ExitStatus >= 0)
    st.State = st.ExitStatus == 0   ? JobState::Finished
               : st.ExitStatus == 3 ? JobState::Stopped
                                    : JobState::Failed;
  else if (running)
    st.State = here || (fresh && host != procs.Host) ? JobState::Running : JobState::Stopped;
  // No exit status recorded (the run was started by hand, or its task was killed): a stop on
  // request writes Exit=1 with No_Memory=1, the error path Exit=1 alone.
  else if (ReadIniStr("Common", "Exit", ini) == "1" &&
           ReadIniStr("Common", "No_Memory", ini) != "1")
    st.State = JobState::Failed;
  else if (stop != 0)
    st.State = JobState::Stopped;
  else if (FileExists(data1))
    st.State = JobState::Finished;
  else
    st.State = JobState::NotStarted;
  return st;
}

StatusCounts CountStates(const std::vector<RunStatus>& runs) {
  StatusCounts c;
  for (const RunStatus& r : runs) {
    switch (r.State) {
    case JobState::Finished:
      ++c.Finished;
      break;
    case JobState::Running:
      ++c.Running;
      break;
    case JobState::Stopped:
      ++c.Stopped;
      break;
    case JobState::Failed:
      ++c.Failed;
      break;
    case JobState::NotStarted:
      ++c.NotStarted;
      break;
    }
  }
  return c;
}

std::string CountsLine(const StatusCounts& c) {
  int n = c.Finished + c.Running + c.Stopped + c.Failed + c.NotStarted;
  return std::to_string(n) + (n == 1 ? " run: " : " runs: ") + std::to_string(c.Finished) +
         " finished, " + std::to_string(c.Running) + " running, " + std::to_string(c.Stopped) +
         " stopped, " + std::to_string(c.Failed) + " failed, " + std::to_string(c.NotStarted) +
         " not started";
}

} // namespace zupo
