#include "sweep/grid.h"

#include <algorithm>
#include <array>
#include <cctype>

#include "core/errors.h"

namespace zupo {

namespace {

struct KnownKey {
  const char* Name;
  const char* Section;
  bool WrittenByRun; // control keys: the run writes them, a study cannot set them
};

// Every key the run reads or writes, with the section the run reads it from.
constexpr KnownKey kKeys[] = {
    {"H0", "Stock_Market", false},     {"M0", "Stock_Market", false},
    {"Irate", "Stock_Market", false},  {"Beta", "Stock_Market", false},
    {"Full", "Traders", false},        {"Grow", "Traders", false},
    {"Reproduct", "Traders", false},   {"Mutation", "Traders", false},
    {"MutProb", "Traders", false},     {"DepthLimit", "Traders", false},
    {"LeaveProb", "Traders", false},   {"MaxExp", "Traders", false},
    {"MutMode", "Traders", false},     {"G_Gap", "Traders", false},
    {"LibraryProb", "Traders", false}, {"Lambda", "Traders", false},
    {"Theta1", "Traders", false},      {"Theta2", "Traders", false},
    {"Theta3", "Traders", false},      {"TryNo", "Traders", false},
    {"Gen_No", "Traders", false},      {"BinarySet", "Common", false},
    {"UnarySet", "Common", false},     {"X_Var", "Common", false},
    {"Y_Var", "Common", false},        {"Extra_Var", "Common", false},
    {"Const_Item", "Common", false},   {"Data_File", "Common", false},
    {"ExData_File", "Common", false},  {"Tree_Path1", "Common", false},
    {"Tree_Path2", "Common", false},   {"Do_Dim", "Common", false},
    {"DimA_File", "Common", false},    {"DimB_File", "Common", false},
    {"DimC_File", "Common", false},    {"Running", "Common", true},
    {"Exit", "Common", true},          {"No_Memory", "Common", true},
    {"Stop_No", "Common", true},
};

bool SameName(const std::string& a, const std::string& b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::toupper(static_cast<unsigned char>(x)) ==
                  std::toupper(static_cast<unsigned char>(y));
         });
}

std::string Trimmed(const std::string& s) {
  size_t b = s.find_first_not_of(" \t");
  if (b == std::string::npos) return "";
  size_t e = s.find_last_not_of(" \t");
  return s.substr(b, e - b + 1);
}

const KnownKey* FindKey(const std::string& name) {
  for (const KnownKey& k : kKeys)
    if (SameName(k.Name, name)) return &k;
  return nullptr;
}

std::vector<std::string> SplitValues(const std::string& list) {
  std::vector<std::string> out;
  size_t pos = 0;
  while (true) {
    size_t comma = list.find(',', pos);
    out.push_back(
        Trimmed(list.substr(pos, comma == std::string::npos ? std::string::npos : comma - pos)));
    if (comma == std::string::npos) break;
    pos = comma + 1;
  }
  return out;
}

} // namespace

std::vector<SweepAxis> ParseSets(const std::vector<std::string>& sets) {
  std::vector<SweepAxis> axes;
  for (const std::string& set : sets) {
    const std::string where = "--set " + set;
    size_t eq = set.find('=');
    if (eq == std::string::npos) throw RunError(where + ": expected KEY=VALUE[,VALUE...]");
    std::string name = Trimmed(set.substr(0, eq));
    const KnownKey* key = FindKey(name);
    if (!key) throw RunError(where + ": \"" + name + "\" is not a key of the configuration");
    if (key->WrittenByRun)
      throw RunError(where + ": " + key->Name +
                     " is written by the run itself and cannot be set for a study");
    for (const SweepAxis& a : axes)
      if (a.Key == key->Name) throw RunError(where + ": " + a.Key + " is set twice");

    SweepAxis axis;
    axis.Key = key->Name;
    axis.Section = key->Section;
    axis.Values = SplitValues(set.substr(eq + 1));
    for (size_t i = 0; i < axis.Values.size(); ++i) {
      const std::string& v = axis.Values[i];
      if (std::any_of(v.begin(), v.end(), [](char c) { return c == '\r' || c == '\n'; }))
        throw RunError(where + ": a value holds a line break");
      if (std::find(axis.Values.begin(), axis.Values.begin() + static_cast<long>(i), v) !=
          axis.Values.begin() + static_cast<long>(i))
        throw RunError(where + ": the value \"" + v + "\" is listed twice");
    }
    axes.push_back(std::move(axis));
  }
  return axes;
}

std::vector<GridRun> ExpandGrid(const std::vector<SweepAxis>& axes, int replicates, uint64_t seed) {
  if (replicates < 1) throw RunError("--replicates must be at least 1");
  uint64_t points = 1;
  for (const SweepAxis& a : axes) {
    points *= a.Values.size();
    if (points > 1000000) throw RunError("the grid holds more than 1000000 points");
  }
  uint64_t count = points * static_cast<uint64_t>(replicates);
  if (count > 1000000) throw RunError("the study would hold more than 1000000 runs");
  if (seed + count - 1 > 4294967295ull)
    throw RunError("--seed " + std::to_string(seed) + ": the seeds of " + std::to_string(count) +
                   " runs would pass 4294967295");

  std::vector<GridRun> runs;
  runs.reserve(count);
  std::vector<size_t> at(axes.size(), 0); // odometer over the axes, last axis fastest
  for (uint64_t p = 0; p < points; ++p) {
    for (int r = 1; r <= replicates; ++r) {
      GridRun run;
      run.Index = static_cast<int>(runs.size());
      for (size_t k = 0; k < axes.size(); ++k) run.Values.push_back(axes[k].Values[at[k]]);
      run.Replicate = r;
      run.Seed = static_cast<uint32_t>(seed + static_cast<uint64_t>(run.Index));
      runs.push_back(std::move(run));
    }
    for (size_t k = axes.size(); k-- > 0;) {
      if (++at[k] < axes[k].Values.size()) break;
      at[k] = 0;
    }
  }
  return runs;
}

std::string RunId(int index, int runCount) {
  size_t width = std::max<size_t>(4, std::to_string(std::max(runCount - 1, 0)).size());
  std::string s = std::to_string(index);
  return std::string(width > s.size() ? width - s.size() : 0, '0') + s;
}

} // namespace zupo
