#include "sweep/plan.h"

#include <filesystem>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

#include "core/errors.h"
#include "core/ini.h"
#include "core/paths.h"
#include "core/state.h"
#include "core/textio.h"
#include "run/config.h"
#include "sweep/study.h"

namespace fs = std::filesystem;

namespace zupo {

namespace {

std::string Absolute(const std::string& p) {
  std::string s = fs::absolute(p).lexically_normal().string();
  while (s.size() > 1 && s.back() == '/') s.pop_back();
  return s;
}

bool Inside(const std::string& path, const std::string& folder) {
  std::string p = Absolute(path);
  return p.size() > folder.size() && p.compare(0, folder.size(), folder) == 0 &&
         p[folder.size()] == '/';
}

void Replace(std::string& s, const std::string& from, const std::string& to) {
  for (size_t at = s.find(from); at != std::string::npos; at = s.find(from, at + to.size()))
    s.replace(at, from.size(), to);
}

// A folder removed with everything in it when the object goes, unless kept.
class ScratchDir {
public:
  explicit ScratchDir(const std::string& tmpl) {
    std::string t = tmpl;
    if (!::mkdtemp(t.data())) throw RunError(tmpl + ": cannot create a temporary folder");
    path_ = t;
  }
  ~ScratchDir() {
    std::error_code ec;
    if (!kept_) fs::remove_all(path_, ec);
  }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  const std::string& Path() const { return path_; }
  void Keep() { kept_ = true; }

private:
  std::string path_;
  bool kept_ = false;
};

std::string CheckBase(const std::string& baseDir) {
  std::string base = Absolute(baseDir);
  if (!DirExists(base)) throw RunError(base + ": the base run folder does not exist");
  std::string ini = base + "/Zupo.ini";
  if (!FileExists(ini)) throw RunError(ini + ": the base run folder has no Zupo.ini");
  // A copy of a started run would resume it, or start again over data files it rewrote.
  std::string stop = ReadIniStr("Common", "Stop_No", ini);
  if (ReadIniStr("Common", "Running", ini) == "1" || (!stop.empty() && stop != "0"))
    throw RunError(ini + ": the base folder holds a started run (Running=" +
                   ReadIniStr("Common", "Running", ini) + ", Stop_No=" + stop +
                   "); plan from a fresh copy of the run folder");
  std::string results =
      FileInFolder(ResolvePath(base, ReadIniStr("Common", "Tree_Path1", ini)), "Data1.txt");
  if (FileExists(results))
    throw RunError(results + ": the base folder holds the results of a run; plan from a fresh "
                             "copy of the run folder");
  return base;
}

std::string CheckStudyFolder(const std::string& studyDir, const std::string& base) {
  std::string study = Absolute(studyDir);
  if (study == base || Inside(study, base))
    throw RunError(study + ": the study folder must not lie inside the base folder " + base);
  if (fs::exists(study)) {
    if (!DirExists(study)) throw RunError(study + ": exists and is not a folder");
    if (FileExists(study + "/manifest.csv"))
      throw RunError(study + ": already holds a study (manifest.csv); plan into a new folder");
    if (!fs::is_empty(study)) throw RunError(study + ": the study folder is not empty");
  }
  return study;
}

// Reads the configuration as a run copied from base with these settings would read it at
// start-up, and checks the files it names. Paths resolve against base, since a run's copy has
// the same files.
void CheckRunConfig(const std::string& base, const std::vector<SweepAxis>& axes,
                    const std::vector<std::string>& values, const std::string& context) {
  ScratchDir scratch((fs::temp_directory_path() / "zupo-sweep-XXXXXX").string());
  const std::string ini = scratch.Path() + "/Zupo.ini";
  const std::string shown = base + "/Zupo.ini";
  WriteFileInPlace(ini, ReadWholeFile(shown));
  for (size_t k = 0; k < axes.size(); ++k) IniWrite(ini, axes[k].Section, axes[k].Key, values[k]);
  auto fail = [&](std::string msg) {
    Replace(msg, ini, shown);
    throw RunError(context + ": " + msg);
  };
  auto sim = std::make_unique<Simulation>();
  try {
    GetEnv(*sim, ini);
    ReadRunKeys(*sim, ini);
  } catch (const RunError& e) {
    fail(e.what());
  }
  auto path = [&](const char* key) { return ResolvePath(base, ReadIniStr("Common", key, ini)); };
  // The run folder and the files rewritten every generation must belong to each run's copy.
  auto own = [&](const char* key, bool folder) {
    std::string p = path(key);
    std::string where = shown + " [Common] " + key + "=" + ReadIniStr("Common", key, ini);
    if (p.empty()) fail(where + ": the path is empty");
    if (folder ? !DirExists(p) : !FileExists(p))
      fail(where + ": " + p + (folder ? " is not a folder" : " does not exist"));
    if (!Inside(p, base))
      fail(where + ": " + p + " lies outside the run folder, so every run would write to it");
  };
  own("Tree_Path1", true);
  // The library's folders are made by the run; they must be its own too when it keeps one.
  if (sim->P.LibraryProb != 0 && !Inside(path("Tree_Path2"), base))
    fail(shown + " [Common] Tree_Path2=" + ReadIniStr("Common", "Tree_Path2", ini) + ": " +
         path("Tree_Path2") +
         " lies outside the run folder, so the companions of all runs would keep one library "
         "there (LibraryProb is not 0)");
  own("Data_File", false);
  if (sim->P.Do_Dim == 0)
    for (const char* k : {"DimA_File", "DimB_File", "DimC_File"}) own(k, false);
  if (sim->S.NExtra > 0 && !FileExists(path("ExData_File")))
    fail(shown + " [Common] ExData_File: " + path("ExData_File") + " does not exist");
}

void CheckValues(const std::string& base, const std::vector<SweepAxis>& axes,
                 const std::vector<GridRun>& runs) {
  // Each value on its own first, so that the message names the value at fault.
  for (size_t k = 0; k < axes.size(); ++k)
    for (const std::string& v : axes[k].Values)
      CheckRunConfig(base, {axes[k]}, {v}, "--set " + axes[k].Key + "=" + v);
  if (axes.size() < 2) return;
  for (const GridRun& r : runs) {
    if (r.Replicate != 1) continue;
    std::string context = "the grid point";
    for (size_t k = 0; k < axes.size(); ++k) context += " " + axes[k].Key + "=" + r.Values[k];
    CheckRunConfig(base, axes, r.Values, context);
  }
}

void WriteExecutable(const std::string& path, const std::string& text) {
  WriteFileInPlace(path, text);
  if (::chmod(path.c_str(), 0755) != 0) throw RunError(path + ": cannot make it executable");
}

} // namespace

std::string ShellQuote(const std::string& s) {
  bool plain =
      !s.empty() && s.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrs"
                                        "tuvwxyz0123456789_./-+:=@%,") == std::string::npos;
  if (plain) return s;
  std::string out = "'";
  for (char c : s) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

std::string JobLine(const PlanOptions& opt, uint32_t seed, const std::string& runDir) {
  std::string line = ShellQuote(opt.Cli) + " --seed " + std::to_string(seed) + " --quiet";
  if (opt.Report) {
    line += " --report";
    if (opt.ReportFrom > 0) line += " --report-from " + std::to_string(opt.ReportFrom);
  }
  return line + " " + ShellQuote(runDir) + "\n";
}

std::string SbatchText(const SlurmOptions& slurm, const std::string& studyDir, int runCount) {
  int width = static_cast<int>(RunId(0, runCount).size());
  std::string array = "0-" + std::to_string(runCount - 1);
  if (slurm.Limit > 0) array += "%" + std::to_string(slurm.Limit);
  std::string s = "#!/bin/bash\n"
                  "#SBATCH --job-name=zupo-sweep\n"
                  "#SBATCH --array=" +
                  array +
                  "\n"
                  "#SBATCH --ntasks=1\n"
                  "#SBATCH --cpus-per-task=1\n"
                  "#SBATCH --time=" +
                  slurm.Time + "\n#SBATCH --mem=" + slurm.Mem + "\n";
  if (!slurm.Partition.empty()) s += "#SBATCH --partition=" + slurm.Partition + "\n";
  s += "#SBATCH --output=" + studyDir + "/logs/slurm-%A_%" + std::to_string(width) + "a.out\n";
  s += "# Task N runs line N+1 of jobs.txt through task.sh, which skips a run that finished, so\n"
       "# submitting this script again resumes an interrupted study.\n"
       "exec /bin/sh " +
       ShellQuote(studyDir + "/task.sh") + " \"$((SLURM_ARRAY_TASK_ID + 1))\"\n";
  return s;
}

std::string TaskScript(const std::string& studyDir, int runCount) {
  std::string width = std::to_string(RunId(0, runCount).size());
  return "#!/bin/sh\n"
         "# Runs line N of jobs.txt (the run numbered N-1): its output is appended to\n"
         "# logs/ID.log and its exit status written to logs/ID.exit. A run whose last attempt\n"
         "# finished (exit status 0) is not run again; any other run resumes from its checkpoint.\n"
         "study=" +
         ShellQuote(studyDir) +
         "\n"
         "n=$1\n"
         "id=$(printf '%0" +
         width +
         "d' $((n - 1)))\n"
         "line=$(sed -n \"${n}p\" \"$study/jobs.txt\")\n"
         "if [ -z \"$line\" ]; then echo \"run $id: jobs.txt has no line $n\" >&2; exit 1; fi\n"
         "if [ \"$(cat \"$study/logs/$id.exit\" 2>/dev/null)\" = 0 ]; then\n"
         "  echo \"run $id: finished before\"\n"
         "  exit 0\n"
         "fi\n"
         "rm -f \"$study/logs/$id.exit\"\n"
         "echo \"== $(date '+%Y-%m-%d %H:%M:%S') on $(hostname): $line\" "
         ">>\"$study/logs/$id.log\"\n"
         "sh -c \"$line\" >>\"$study/logs/$id.log\" 2>&1\n"
         "rc=$?\n"
         "echo $rc >\"$study/logs/$id.exit\"\n"
         "case $rc in\n"
         "0) echo \"run $id: finished\" ;;\n"
         "3) echo \"run $id: stopped; it resumes when the study runs again\" ;;\n"
         "*) echo \"run $id: failed with exit status $rc, see logs/$id.log\" ;;\n"
         "esac\n"
         "exit $rc\n";
}

std::string ReadmeText(const std::string& sweep, const std::string& studyDir,
                       const std::vector<SweepAxis>& axes, int runCount) {
  std::string what;
  for (const SweepAxis& a : axes) {
    what += what.empty() ? "" : ", ";
    what += a.Key + " (" + std::to_string(a.Values.size()) +
            (a.Values.size() == 1 ? " value)" : " values)");
  }
  if (what.empty()) what = "replicates only";
  const std::string q = ShellQuote(studyDir);
  const std::string z = ShellQuote(sweep);
  auto line = [](const std::string& cmd, const std::string& why) {
    std::string l = "  " + cmd;
    l += std::string(l.size() < 48 ? 48 - l.size() : 1, ' ');
    return l + "# " + why + "\n";
  };
  return "Zupo study: " + std::to_string(runCount) + " runs over " + what +
         ". Each run is a folder under runs/; manifest.csv lists them.\n\n"
         "On this machine (GNU parallel):\n" +
         line(z + " run " + q + " -j 2", "runs jobs.txt; run it again to resume") +
         line(z + " status " + q, "finished, running, stopped, failed, not started") +
         line(z + " collect " + q, "summary.csv and study.html") +
         "\nOn a Slurm cluster (the study folder on a file system the nodes share):\n" +
         line("sbatch " + ShellQuote(studyDir + "/sweep.sbatch"),
              "one array task per run; submit again to resume") +
         line(z + " status " + q, "while it runs (logs/ holds each run's output)") +
         line(z + " collect " + q, "when the array has finished");
}

int PlanStudy(const PlanOptions& opt) {
  const std::string base = CheckBase(opt.BaseDir);
  const std::string study = CheckStudyFolder(opt.StudyDir, base);
  if (::access(opt.Cli.c_str(), X_OK) != 0)
    throw RunError(opt.Cli + ": the zupo-cli program the runs need is not there (see --cli)");
  if (opt.ReportFrom > 0 && !opt.Report)
    throw RunError("--report-from needs the report (leave out --no-report)");
  std::vector<SweepAxis> axes = ParseSets(opt.Sets);
  std::vector<GridRun> runs = ExpandGrid(axes, opt.Replicates, opt.Seed);
  CheckValues(base, axes, runs);

  const int n = static_cast<int>(runs.size());
  std::string parent = fs::path(study).parent_path().string();
  fs::create_directories(parent);
  ScratchDir stage(parent + "/." + fs::path(study).filename().string() + ".planning-XXXXXX");
  const std::string s = stage.Path();
  EnsureDir(s + "/runs");
  EnsureDir(s + "/logs");
  std::vector<std::string> keys;
  for (const SweepAxis& a : axes) keys.push_back(a.Key);
  std::vector<ManifestRow> rows;
  std::string jobs;
  for (const GridRun& r : runs) {
    ManifestRow row{RunId(r.Index, n), "runs/" + RunId(r.Index, n), r.Values, r.Replicate, r.Seed};
    std::error_code ec;
    fs::copy(base, s + "/" + row.Folder, fs::copy_options::recursive, ec);
    if (ec) throw RunError(s + "/" + row.Folder + ": cannot copy the base folder: " + ec.message());
    for (size_t k = 0; k < axes.size(); ++k)
      IniWrite(s + "/" + row.Folder + "/Zupo.ini", axes[k].Section, axes[k].Key, r.Values[k]);
    jobs += JobLine(opt, r.Seed, study + "/" + row.Folder);
    rows.push_back(std::move(row));
  }
  WriteFileInPlace(s + "/manifest.csv", ManifestText(keys, rows));
  WriteFileInPlace(s + "/jobs.txt", jobs);
  WriteExecutable(s + "/task.sh", TaskScript(study, n));
  WriteExecutable(s + "/sweep.sbatch", SbatchText(opt.Slurm, study, n));
  WriteFileInPlace(s + "/README.txt", ReadmeText(opt.Sweep, study, axes, n));
  ::chmod(s.c_str(), 0755);
  if (fs::exists(study)) fs::remove(study); // checked empty above
  if (::rename(s.c_str(), study.c_str()) != 0)
    throw RunError(study + ": cannot move the planned study into place");
  stage.Keep();
  return n;
}

} // namespace zupo
