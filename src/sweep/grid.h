#pragma once
// The grid of a parameter study: the swept keys with their values, times replicates.
#include <cstdint>
#include <string>
#include <vector>

namespace zupo {

// One swept configuration key: the section that holds it and the values it takes.
struct SweepAxis {
  std::string Key; // the key's own spelling (e.g. "Irate" for "--set irate=...")
  std::string Section;
  std::vector<std::string> Values;
};

// One run of the study. Index counts from 0 in the order of the grid: the first key varies
// slowest, replicates fastest.
struct GridRun {
  int Index = 0;
  std::vector<std::string> Values; // one per axis
  int Replicate = 1;               // 1..N
  uint32_t Seed = 0;               // study seed + Index
};

// Parses the --set options ("KEY=v1,v2,..."): the key must be a parameter key of the
// configuration (not one the run writes itself), each key swept once, each value listed once and
// free of line breaks. The section is the one the run reads the key from. RunError says which
// option is at fault.
std::vector<SweepAxis> ParseSets(const std::vector<std::string>& sets);

// The product of the axes' values, each point repeated `replicates` times. RunError when the
// seeds would leave the range of a run's seed (0..4294967295).
std::vector<GridRun> ExpandGrid(const std::vector<SweepAxis>& axes, int replicates, uint64_t seed);

// Folder name of a run: its index with at least 4 digits, more when the study needs them.
std::string RunId(int index, int runCount);

} // namespace zupo
