#include "sweep/study.h"

#include <filesystem>

#include "core/errors.h"
#include "core/paths.h"
#include "core/textio.h"

namespace zupo {

std::string CsvField(const std::string& s) {
  bool quote = s.find_first_of(",\"\r\n") != std::string::npos ||
               (!s.empty() && (s.front() == ' ' || s.back() == ' '));
  if (!quote) return s;
  std::string out = "\"";
  for (char c : s) {
    if (c == '"') out += '"';
    out += c;
  }
  return out + "\"";
}

std::string CsvLine(const std::vector<std::string>& fields) {
  std::string out;
  for (size_t i = 0; i < fields.size(); ++i) {
    if (i) out += ',';
    out += CsvField(fields[i]);
  }
  return out + "\n";
}

std::vector<std::string> SplitCsvLine(const std::string& line) {
  std::string l = line;
  if (!l.empty() && l.back() == '\r') l.pop_back();
  std::vector<std::string> out(1);
  bool quoted = false;
  for (size_t i = 0; i < l.size(); ++i) {
    char c = l[i];
    if (quoted) {
      if (c == '"' && i + 1 < l.size() && l[i + 1] == '"') {
        out.back() += '"';
        ++i;
      } else if (c == '"') {
        quoted = false;
      } else {
        out.back() += c;
      }
    } else if (c == '"') {
      quoted = true;
    } else if (c == ',') {
      out.emplace_back();
    } else {
      out.back() += c;
    }
  }
  return out;
}

std::string ManifestText(const std::vector<std::string>& keys,
                         const std::vector<ManifestRow>& rows) {
  std::vector<std::string> header{"run_id", "folder"};
  header.insert(header.end(), keys.begin(), keys.end());
  header.push_back("replicate");
  header.push_back("seed");
  std::string out = CsvLine(header);
  for (const ManifestRow& r : rows) {
    std::vector<std::string> f{r.Id, r.Folder};
    f.insert(f.end(), r.Values.begin(), r.Values.end());
    f.push_back(std::to_string(r.Replicate));
    f.push_back(std::to_string(r.Seed));
    out += CsvLine(f);
  }
  return out;
}

Study ReadStudy(const std::string& dir) {
  Study s;
  s.Dir = std::filesystem::absolute(dir).lexically_normal().string();
  while (s.Dir.size() > 1 && s.Dir.back() == '/') s.Dir.pop_back();
  const std::string file = s.Dir + "/manifest.csv";
  if (!FileExists(file)) throw RunError(file + ": no study here (plan one with zupo-sweep plan)");
  TextReader in = TextReader::Open(file);
  std::vector<std::string> header = SplitCsvLine(in.ReadLine());
  if (header.size() < 4 || header[0] != "run_id" || header[1] != "folder" ||
      header[header.size() - 2] != "replicate" || header.back() != "seed")
    throw RunError(file + ": line 1 is not the header run_id,folder,...,replicate,seed");
  s.Keys.assign(header.begin() + 2, header.end() - 2);
  for (int lineNo = 2; !in.Eof(); ++lineNo) {
    std::string line = in.ReadLine();
    if (line.empty()) continue;
    std::vector<std::string> f = SplitCsvLine(line);
    long long rep = 0, seed = 0;
    if (f.size() != header.size() || !ParseInt(f[f.size() - 2], rep) || !ParseInt(f.back(), seed) ||
        f[0].empty() || f[1].empty() || f[1].front() == '/' || f[1].find("..") != std::string::npos)
      throw RunError(file + ": line " + std::to_string(lineNo) + " is not a run of the study");
    ManifestRow r;
    r.Id = f[0];
    r.Folder = f[1];
    r.Values.assign(f.begin() + 2, f.end() - 2);
    r.Replicate = static_cast<int>(rep);
    r.Seed = static_cast<uint32_t>(seed);
    s.Runs.push_back(std::move(r));
  }
  return s;
}

} // namespace zupo
