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
    auto [a, b] = Slot(set, *p);
    SnapshotFile& f = sim.Snapshots.Files[a][b];
    // The cache is dropped first, so a failed write leaves the file to be read from disk.
    f.Known = false;
    f.Text = SnapshotText(sim.T, *p);
    sim.Files.InPlace(SnapshotPath(sim, set, *p), f.Text);
    // Kept as the file reads back (15 significant digits), so the replay sees the file's values:
    // one number per line, parsed when first asked for.
    f.LineStart.clear();
    for (size_t at = 0; at < f.Text.size();) {
      f.LineStart.push_back(static_cast<uint32_t>(at));
      size_t end = f.Text.find('\n', at);
      at = end == std::string::npos ? f.Text.size() : end + 1;
    }
    f.Values.assign(f.LineStart.size(), 0.0L);
    f.Parsed.assign(f.LineStart.size(), 0);
    f.Known = true;
  }
}

long double SnapshotValue(Simulation& sim, char set, char suffix, int i) {
  auto [a, b] = Slot(set, suffix);
  SnapshotFile& f = sim.Snapshots.Files[a][b];
  if (!f.Known) {
    f.Values = ParseSnapshot(TextReader::Open(SnapshotPath(sim, set, suffix)));
    f.Parsed.clear();
    f.Known = true;
  }
  std::vector<long double>& values = f.Values;
  if (i >= 1 && static_cast<size_t>(i) <= f.Parsed.size() &&
      !f.Parsed[static_cast<size_t>(i) - 1]) {
    const size_t k = static_cast<size_t>(i) - 1;
    const size_t end = k + 1 < f.LineStart.size() ? f.LineStart[k + 1] : f.Text.size();
    std::string_view line(f.Text.data() + f.LineStart[k], end - f.LineStart[k]);
    // The line's first word, as the reader takes it.
    size_t from = 0;
    while (from < line.size() && static_cast<unsigned char>(line[from]) <= ' ') ++from;
    size_t to = from;
    while (to < line.size() && static_cast<unsigned char>(line[to]) > ' ') ++to;
    if (ParseRealStatus(line.substr(from, to - from), values[k]) != NumberRead::Ok)
      values[k] = TextReader(SnapshotPath(sim, set, suffix), std::string(line)).ReadReal();
    f.Parsed[k] = 1;
  }
  if (i < 1 || static_cast<size_t>(i) > values.size())
    throw RunError(SnapshotPath(sim, set, suffix) + ": line " + FormatInt(i) +
                   " is missing (the file has " + FormatInt(static_cast<long long>(values.size())) +
                   " values)");
  return values[static_cast<size_t>(i) - 1];
}

} // namespace zupo
