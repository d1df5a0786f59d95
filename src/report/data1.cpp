#include "report/data1.h"

#include <string_view>

#include "core/errors.h"
#include "core/paths.h"
#include "core/textio.h"

namespace zupo {
namespace {

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\r';
}

std::vector<std::string_view> Fields(std::string_view line) {
  std::vector<std::string_view> f;
  size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && IsBlank(line[i])) ++i;
    size_t start = i;
    while (i < line.size() && !IsBlank(line[i])) ++i;
    if (i > start) f.push_back(line.substr(start, i - start));
  }
  return f;
}

std::string Where(const std::string& path, size_t line) {
  return path + " line " + std::to_string(line) + ": ";
}

} // namespace

std::vector<double> Data1Table::Column(Data1Col c) const {
  std::vector<double> v;
  v.reserve(Rows.size());
  for (const auto& r : Rows) v.push_back(r[c]);
  return v;
}

Data1Table ReadData1(const std::string& path) {
  if (!FileExists(path)) throw RunError(path + ": the statistics table does not exist");
  const std::string text = ReadWholeFile(path);
  Data1Table t;
  size_t pos = 0, lineNo = 0;
  while (pos < text.size()) {
    size_t nl = text.find('\n', pos);
    std::string_view line(text.data() + pos, (nl == std::string::npos ? text.size() : nl) - pos);
    pos = nl == std::string::npos ? text.size() : nl + 1;
    ++lineNo;
    if (lineNo == 1) {
      if (line.substr(0, 3) != "GEN")
        throw RunError(Where(path, 1) + "not the header of a statistics table");
      continue;
    }
    std::vector<std::string_view> f = Fields(line);
    if (f.empty()) continue;
    if (nl == std::string::npos) {
      t.PartialLastRow = true;
      break;
    }
    if (f.size() != kData1Cols)
      throw RunError(Where(path, lineNo) + std::to_string(f.size()) + " fields, a row has " +
                     std::to_string(kData1Cols));
    std::array<double, kData1Cols> row{};
    for (size_t k = 0; k < f.size(); ++k) {
      long double v = 0;
      if (!ParseReal(f[k], v))
        throw RunError(Where(path, lineNo) + "field " + std::to_string(k + 1) + " \"" +
                       std::string(f[k]) + "\" is not a number");
      row[k] = static_cast<double>(v);
    }
    if (row[kGen] != static_cast<int>(row[kGen]) || row[kGen] < 1)
      throw RunError(Where(path, lineNo) + "\"" + std::string(f[0]) +
                     "\" is not a generation number");
    if (!t.Rows.empty() && row[kGen] <= t.Rows.back()[kGen])
      throw RunError(Where(path, lineNo) + "generation " + std::string(f[0]) +
                     " does not follow generation " + std::to_string(t.LastGen()));
    t.Rows.push_back(row);
  }
  if (lineNo == 0) throw RunError(path + ": the statistics table is empty (no header)");
  return t;
}

Data1Table RowsFrom(const Data1Table& table, int from) {
  Data1Table t;
  t.PartialLastRow = table.PartialLastRow;
  for (const auto& r : table.Rows)
    if (r[kGen] >= from) t.Rows.push_back(r);
  return t;
}

} // namespace zupo
