// zupo-sweep: plans a parameter study over copies of a run folder, runs it with GNU parallel
// (or a Slurm job array), and collects the runs' reports into one table and one page.
#include <CLI/CLI.hpp>
#include <climits>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <string>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "core/errors.h"
#include "core/paths.h"
#include "core/textio.h"
#include "sweep/collect.h"
#include "sweep/plan.h"
#include "sweep/status.h"
#include "sweep/study.h"

#ifdef ZUPO_SWEEP_CHARTS
#include "ui/chart_png.h"
#endif

namespace {

std::string FindOnPath(const std::string& name) {
  const char* path = std::getenv("PATH");
  std::string p = path ? path : "/usr/bin:/bin";
  size_t pos = 0;
  while (pos <= p.size()) {
    size_t colon = p.find(':', pos);
    std::string dir = p.substr(pos, colon == std::string::npos ? std::string::npos : colon - pos);
    std::string file = (dir.empty() ? "." : dir) + "/" + name;
    if (::access(file.c_str(), X_OK) == 0) return file;
    if (colon == std::string::npos) break;
    pos = colon + 1;
  }
  return "";
}

std::vector<zupo::RunStatus> Inspect(const zupo::Study& study) {
  std::vector<zupo::RunStatus> st;
  zupo::ProcessView procs = zupo::CurrentProcesses();
  for (const zupo::ManifestRow& r : study.Runs) st.push_back(zupo::InspectRun(study, r, procs));
  return st;
}

int Run(const std::string& dir, int jobs) {
  zupo::Study study = zupo::ReadStudy(dir);
  std::string parallel = FindOnPath("parallel");
  if (parallel.empty())
    throw zupo::RunError("GNU parallel is not installed (Debian package parallel; "
                         "scripts/install-deps installs it)");
  std::vector<std::string> args{parallel, "--will-cite", "--joblog", study.Dir + "/joblog.txt",
                                "--resume-failed"};
  if (jobs > 0) args.insert(args.end(), {"-j", std::to_string(jobs)});
  if (::isatty(2)) args.push_back("--bar");
  args.push_back("sh " + zupo::ShellQuote(study.Dir + "/task.sh") + " {#}");
  args.insert(args.end(), {"::::", study.Dir + "/jobs.txt"});

  // Two runners on one study would start two zupo-cli on the same run folder.
  const std::string lockFile = study.Dir + "/run.lock";
  int lock = ::open(lockFile.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (lock < 0) throw zupo::RunError(lockFile + ": cannot be opened");
  if (::flock(lock, LOCK_EX | LOCK_NB) != 0)
    throw zupo::RunError(study.Dir + ": another zupo-sweep run is working on this study");

  std::printf("Running %zu runs of %s with GNU parallel (finished runs are skipped)\n",
              study.Runs.size(), study.Dir.c_str());
  std::fflush(stdout);
  pid_t pid = ::fork();
  if (pid < 0) throw zupo::RunError("cannot start GNU parallel");
  if (pid == 0) {
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    ::execv(parallel.c_str(), argv.data());
    std::perror(parallel.c_str());
    ::_exit(127);
  }
  // Ctrl-C reaches parallel and the runs, which stop with a checkpoint; this process waits
  // for them and reports the state of the study.
  std::signal(SIGINT, SIG_IGN);
  std::signal(SIGTERM, SIG_IGN);
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  zupo::StatusCounts c = zupo::CountStates(Inspect(study));
  std::printf("%s\n", zupo::CountsLine(c).c_str());
  if (c.Finished == static_cast<int>(study.Runs.size())) return 0;
  std::printf("Run the same command again to resume the study.\n");
  return 1;
}

int Status(const std::string& dir, bool all) {
  zupo::Study study = zupo::ReadStudy(dir);
  std::vector<zupo::RunStatus> st = Inspect(study);
  std::printf("%s\n", zupo::CountsLine(zupo::CountStates(st)).c_str());
  for (size_t i = 0; i < st.size(); ++i) {
    const zupo::RunStatus& s = st[i];
    if (!all && (s.State == zupo::JobState::Finished || s.State == zupo::JobState::NotStarted))
      continue;
    std::string exit = s.ExitStatus >= 0 ? ", exit status " + std::to_string(s.ExitStatus) : "";
    std::printf("  %s  %-11s generation %d of %d%s  (%s)\n", study.Runs[i].Id.c_str(),
                zupo::JobStateName(s.State), s.Generations, s.Gen_No, exit.c_str(),
                study.LogFile(study.Runs[i]).c_str());
  }
  return 0;
}

#ifdef ZUPO_SWEEP_CHARTS
bool DrawChart(const zupo::KeyStat& ks, const std::string& path) {
  static const uint32_t colours[] = {0xC00000, 0x0050C0, 0x008000, 0xE07000,
                                     0x7030A0, 0x008080, 0x606060, 0xA05000};
  zupo::ChartLayout chart;
  chart.Title = ks.Stat.Title + " against " + ks.Key;
  chart.XTitle = ks.NumericX ? ks.Key : ks.Key + " (position in the list)";
  chart.YTitle = ks.Stat.Column + " (mean \u00b1 sd)";
  bool any = false;
  for (size_t s = 0; s < ks.Series.size(); ++s) {
    const zupo::StatSeries& ser = ks.Series[s];
    zupo::ChartLine line;
    line.Name = ser.Name.empty() ? ks.Stat.Column : ser.Name;
    line.Rgb = colours[s % 8];
    line.Points = ks.XValues.size() == 1;
    for (size_t x = 0; x < ks.XValues.size(); ++x) {
      if (std::isnan(ser.Mean[x])) continue;
      long double xv = static_cast<long double>(x + 1);
      if (ks.NumericX) zupo::ParseReal(ks.XValues[x], xv);
      double sd = std::isnan(ser.Sd[x]) ? 0.0 : ser.Sd[x];
      line.X.push_back(static_cast<double>(xv));
      line.Y.push_back(ser.Mean[x]);
      line.Low.push_back(ser.Mean[x] - sd);
      line.High.push_back(ser.Mean[x] + sd);
    }
    any = any || !line.X.empty();
    chart.Lines.push_back(std::move(line));
  }
  if (!any) return false;
  zupo::SaveChartPng(chart, path);
  return true;
}
#endif

int Collect(const std::string& dir) {
  zupo::Study study = zupo::ReadStudy(dir);
  std::vector<zupo::RunStatus> st = Inspect(study);
  std::vector<zupo::CollectedRun> runs;
  int reports = 0;
  for (size_t i = 0; i < st.size(); ++i) {
    zupo::CollectedRun r{study.Runs[i], st[i], {}};
    std::string file = study.RunDir(study.Runs[i]) + "/report/summary.csv";
    try {
      r.Report = zupo::ReadReportRow(file);
    } catch (const zupo::RunError& e) {
      std::fprintf(stderr, "zupo-sweep: %s (the run's report is left out)\n", e.what());
    }
    if (r.Report.empty() && st[i].State == zupo::JobState::Finished)
      std::fprintf(stderr, "zupo-sweep: run %s finished without a report (%s)\n",
                   study.Runs[i].Id.c_str(), file.c_str());
    reports += !r.Report.empty();
    runs.push_back(std::move(r));
  }
  zupo::WriteFileAtomic(study.Dir + "/summary.csv", zupo::StudySummaryCsv(study, runs));

  std::vector<zupo::KeyStat> stats = zupo::AggregateStats(study, runs);
  std::vector<bool> drawn(stats.size(), false);
  int charts = 0;
#ifdef ZUPO_SWEEP_CHARTS
  zupo::EnsureDir(study.Dir + "/charts");
  std::error_code ec;
  for (const auto& e : std::filesystem::directory_iterator(study.Dir + "/charts", ec))
    if (e.path().extension() == ".png") std::filesystem::remove(e.path(), ec); // earlier charts
  for (size_t i = 0; i < stats.size(); ++i) {
    drawn[i] = DrawChart(stats[i], study.Dir + "/" + zupo::ChartFile(stats[i]));
    charts += drawn[i];
  }
#endif
  zupo::WriteFileAtomic(study.Dir + "/study.html", zupo::StudyHtml(study, runs, stats, drawn));
  std::printf("%s\n%s/summary.csv: %zu runs, %d with a report\n%s/study.html: %d charts\n",
              zupo::CountsLine(zupo::CountStates(st)).c_str(), study.Dir.c_str(), runs.size(),
              reports, study.Dir.c_str(), charts);
  return 0;
}

} // namespace

int main(int argc, char** argv) {
  CLI::App app{"zupo-sweep: parameter studies of Zupo runs, on this machine with GNU parallel "
               "or on a cluster with Slurm."};
  app.require_subcommand(1);

  zupo::PlanOptions plan;
  plan.Cli = zupo::ProgramFolder() + "zupo-cli";
  plan.Sweep = zupo::ProgramFolder() + "zupo-sweep";
  auto* planCmd = app.add_subcommand(
      "plan", "copy BASE_DIR once per run of the grid into STUDY_DIR/runs/ with the keys set");
  planCmd->add_option("BASE_DIR", plan.BaseDir, "a fresh run folder (holds Zupo.ini)")->required();
  planCmd->add_option("STUDY_DIR", plan.StudyDir, "the new study folder (missing or empty)")
      ->required();
  planCmd->add_option("--set", plan.Sets, "KEY=v1,v2,...: a configuration key and its values")
      ->allow_extra_args(false);
  planCmd->add_option("--replicates", plan.Replicates, "runs per grid point (default 1)")
      ->check(CLI::Range(1, 1000000));
  planCmd->add_option("--seed", plan.Seed, "seed of run 0; run i gets seed + i (default 1)")
      ->check(CLI::Range(0ULL, 4294967295ULL));
  planCmd->add_option("--report-from", plan.ReportFrom, "the runs' reports start at GEN")
      ->check(CLI::PositiveNumber);
  bool noReport = false;
  planCmd->add_flag("--no-report", noReport,
                    "runs write no report (collect then has no statistics)");
  planCmd->add_option("--cli", plan.Cli, "the zupo-cli program (default: beside zupo-sweep)");
  planCmd->add_option("--time", plan.Slurm.Time, "Slurm time limit per run (default 12:00:00)");
  planCmd->add_option("--mem", plan.Slurm.Mem, "Slurm memory per run (default 1G)");
  planCmd
      ->add_option("--array-limit", plan.Slurm.Limit,
                   "Slurm tasks running at once (default 50; 0: no limit)")
      ->check(CLI::NonNegativeNumber);
  planCmd->add_option("--partition", plan.Slurm.Partition,
                      "Slurm partition (default: the "
                      "cluster's)");

  std::string studyDir;
  int jobs = 0;
  auto* runCmd =
      app.add_subcommand("run", "run the study's jobs with GNU parallel; again to resume");
  runCmd->add_option("STUDY_DIR", studyDir)->required();
  runCmd->add_option("-j,--jobs", jobs, "runs at once (default: one per CPU)")
      ->check(CLI::PositiveNumber);

  bool all = false;
  auto* statusCmd = app.add_subcommand("status", "count finished, running, stopped, failed and "
                                                 "not started runs");
  statusCmd->add_option("STUDY_DIR", studyDir)->required();
  statusCmd->add_flag("--all", all, "list every run");

  auto* collectCmd = app.add_subcommand("collect", "write summary.csv and study.html of the study");
  collectCmd->add_option("STUDY_DIR", studyDir)->required();

  CLI11_PARSE(app, argc, argv);
  try {
    if (planCmd->parsed()) {
      plan.Report = !noReport;
      int n = zupo::PlanStudy(plan);
      std::printf("Planned %d runs in %s (see README.txt there)\n", n,
                  std::filesystem::absolute(plan.StudyDir).lexically_normal().c_str());
      return 0;
    }
    if (runCmd->parsed()) return Run(studyDir, jobs);
    if (statusCmd->parsed()) return Status(studyDir, all);
    return Collect(studyDir);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "zupo-sweep: %s\n", e.what());
    return 1;
  }
}
