#pragma once
// A study folder: manifest.csv names its runs; runs/ID holds each run, logs/ID.log its output
// and logs/ID.exit the exit status of its last attempt.
#include <cstdint>
#include <string>
#include <vector>

namespace zupo {

struct ManifestRow {
  std::string Id;
  std::string Folder;              // relative to the study folder: runs/ID
  std::vector<std::string> Values; // one per swept key
  int Replicate = 1;
  uint32_t Seed = 0;
};

struct Study {
  std::string Dir; // absolute, without trailing '/'
  std::vector<std::string> Keys;
  std::vector<ManifestRow> Runs;

  std::string RunDir(const ManifestRow& r) const { return Dir + "/" + r.Folder; }
  std::string LogFile(const ManifestRow& r) const { return Dir + "/logs/" + r.Id + ".log"; }
  std::string ExitFile(const ManifestRow& r) const { return Dir + "/logs/" + r.Id + ".exit"; }
};

// One CSV field: quoted (with doubled quotes) only when it holds a comma, a quote or a blank at
// either end.
std::string CsvField(const std::string& s);
std::string CsvLine(const std::vector<std::string>& fields); // ends with '\n'
// Splits one CSV line (quoted fields allowed; a trailing CR is dropped).
std::vector<std::string> SplitCsvLine(const std::string& line);

// The manifest's text: header run_id,folder,<keys>,replicate,seed and one row per run.
std::string ManifestText(const std::vector<std::string>& keys,
                         const std::vector<ManifestRow>& rows);
// Reads STUDY/manifest.csv; RunError naming the file and line when it is missing or malformed.
Study ReadStudy(const std::string& dir);

} // namespace zupo
