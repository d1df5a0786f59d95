#pragma once
// Planning a study: one copy of the base run folder per run, with its keys set, and the files
// that run the study here (jobs.txt, task.sh for GNU parallel) and on a cluster (sweep.sbatch).
#include <cstdint>
#include <string>
#include <vector>

#include "sweep/grid.h"

namespace zupo {

struct SlurmOptions {
  std::string Time = "12:00:00"; // --time of each task
  std::string Mem = "1G";        // --mem of each task
  int Limit = 50;                // tasks running at once (the array's % limit); 0: no limit
  std::string Partition;         // empty: the cluster's default
};

struct PlanOptions {
  std::string BaseDir, StudyDir;
  std::vector<std::string> Sets; // "KEY=v1,v2,..."
  int Replicates = 1;
  uint64_t Seed = 1;
  bool Report = true;               // runs write their report when they finish
  int ReportFrom = 0;               // > 0: the report starts at this generation
  std::string Cli;                  // the zupo-cli program the jobs run
  std::string Sweep = "zupo-sweep"; // this program, as README.txt names it
  SlurmOptions Slurm;
};

// Checks everything first (base folder, study folder, keys and values as the run would read
// them) and writes nothing when any check fails; then builds the study under a temporary name
// beside STUDY_DIR and renames it into place. Returns the number of runs. RunError otherwise.
int PlanStudy(const PlanOptions& opt);

// Pieces of the study, exposed for the tests.
std::string ShellQuote(const std::string& s);
std::string JobLine(const PlanOptions& opt, uint32_t seed, const std::string& runDir);
std::string SbatchText(const SlurmOptions& slurm, const std::string& studyDir, int runCount);
std::string TaskScript(const std::string& studyDir, int runCount);
std::string ReadmeText(const std::string& sweep, const std::string& studyDir,
                       const std::vector<SweepAxis>& axes, int runCount);

} // namespace zupo
