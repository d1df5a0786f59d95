#include "market/snapshot.h"

#include <cstring>
#include <utility>

#include "core/errors.h"
#include "core/format.h"
#include "core/paths.h"
#include "core/textio.h"

namespace zupo {

namespace {

constexpr char Suffixes[] = "hwmsvf";

// The cache slot of a file; RunError for a name outside the two sets and six suffixes.
std::pair<size_t, size_t> Slot(char set, char suffix) {
  const char* p = std::strchr(Suffixes, suffix);
  if ((set != 'k' && set != '1') || suffix == '\0' || p == nullptr)
    throw RunError(std::string("no learning snapshot History") + set + '.' + suffix);
  return {set == 'k' ? 0u : 1u, static_cast<size_t>(p - Suffixes)};
}

// The values of a snapshot file's lines, read the way the replay reads them: one number per line.
std::vector<long double> ParseSnapshot(TextReader in) {
  std::vector<long double> values;
  values.reserve(MaxTraders);
  long double v = 0;
  while (in.TryReadReal(v)) {
    values.push_back(v);
    in.SkipLine();
  }
  return values;
}

long double Entry(const TraderBook& T, char suffix, int k) {
  switch (suffix) {
  case 'h':
    return T.Shares[k];
  case 'w':
    return T.Wealth[k];
  case 'm':
    return T.Money[k];
  case 's':
    return T.Sigma[k];
  case 'v':
    return T.Forecast[k];
  default:
    return 0;
  }
}

std::string SnapshotText(const TraderBook& T, char suffix) {
  std::string s;
  s.reserve(MaxTraders * 25);
  for (int i = 1; i <= MaxTraders; ++i) {
    if (suffix == 'f')
      AppendInt(s, T.OrderIdx[T.PrevBase + i]);
    else
      AppendSci23(s, Entry(T, suffix, T.PrevBase + i));
    EndLine(s);
  }
  return s;
}

} // namespace

std::string SnapshotPath(const Simulation& sim, char set, char suffix) {
  return FileInFolder(sim.P.Tree_Path1, std::string("History") + set + '.' + suffix);
}

void WriteSnapshotSet(Simulation& sim, char set) {
  for (const char* p = Suffixes; *p; ++p) {
    std::string path = SnapshotPath(sim, set, *p);
    std::string text = SnapshotText(sim.T, *p);
    auto [a, b] = Slot(set, *p);
    // The cache is dropped first, so a failed write leaves the file to be read from disk.
    sim.Snapshots.Known[a][b] = false;
    sim.Files.InPlace(path, text);
    // Cached as the file reads back (15 significant digits), so the replay sees the file's values.
    sim.Snapshots.Values[a][b] = ParseSnapshot(TextReader(path, std::move(text)));
    sim.Snapshots.Known[a][b] = true;
  }
}

long double SnapshotValue(Simulation& sim, char set, char suffix, int i) {
  auto [a, b] = Slot(set, suffix);
  std::vector<long double>& values = sim.Snapshots.Values[a][b];
  if (!sim.Snapshots.Known[a][b]) {
    values = ParseSnapshot(TextReader::Open(SnapshotPath(sim, set, suffix)));
    sim.Snapshots.Known[a][b] = true;
  }
  if (i < 1 || static_cast<size_t>(i) > values.size())
    throw RunError(SnapshotPath(sim, set, suffix) + ": line " + FormatInt(i) +
                   " is missing (the file has " + FormatInt(static_cast<long long>(values.size())) +
                   " values)");
  return values[static_cast<size_t>(i) - 1];
}

} // namespace zupo
