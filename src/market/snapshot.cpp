#include "market/snapshot.h"

#include "core/errors.h"
#include "core/format.h"
#include "core/paths.h"
#include "core/textio.h"

namespace zupo {

namespace {

constexpr char Suffixes[] = "hwmsvf";

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
    // The cache is dropped first, so a failed write leaves the file to be read from disk.
    sim.Snapshots.Values.erase(path);
    WriteFileInPlace(path, text);
    // Cached as the file reads back (15 significant digits), so the replay sees the file's values.
    sim.Snapshots.Values[path] = ParseSnapshot(TextReader(path, std::move(text)));
  }
}

long double SnapshotValue(Simulation& sim, char set, char suffix, int i) {
  std::string path = SnapshotPath(sim, set, suffix);
  auto it = sim.Snapshots.Values.find(path);
  if (it == sim.Snapshots.Values.end())
    it = sim.Snapshots.Values.emplace(path, ParseSnapshot(TextReader::Open(path))).first;
  const std::vector<long double>& values = it->second;
  if (i < 1 || static_cast<size_t>(i) > values.size())
    throw RunError(path + ": line " + FormatInt(i) + " is missing (the file has " +
                   FormatInt(static_cast<long long>(values.size())) + " values)");
  return values[static_cast<size_t>(i) - 1];
}

} // namespace zupo
