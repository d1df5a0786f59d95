#include "core/ini.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <string_view>
#include <sys/file.h>
#include <unistd.h>
#include <vector>

#include "core/errors.h"
#include "core/textio.h"

namespace zupo {

namespace {

std::string_view Trim(std::string_view s) {
  while (!s.empty() && static_cast<unsigned char>(s.front()) <= ' ') s.remove_prefix(1);
  while (!s.empty() && static_cast<unsigned char>(s.back()) <= ' ') s.remove_suffix(1);
  return s;
}

bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 32);
    if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 32);
    if (x != y) return false;
  }
  return true;
}

// One physical line of the file: its text without the line end, and the line end itself.
struct Line {
  std::string_view text;
  std::string_view end;
};

std::vector<Line> SplitLines(std::string_view all) {
  std::vector<Line> lines;
  size_t pos = 0;
  while (pos < all.size()) {
    size_t e = pos;
    while (e < all.size() && all[e] != '\n' && all[e] != '\r') ++e;
    size_t next = e;
    if (next < all.size() && all[next] == '\r') ++next;
    if (next < all.size() && all[next] == '\n' && (next == e || all[next - 1] == '\r')) ++next;
    lines.push_back({all.substr(pos, e - pos), all.substr(e, next - e)});
    pos = next;
  }
  return lines;
}

// "[Name]" -> Name; otherwise false.
bool SectionName(std::string_view line, std::string_view& name) {
  std::string_view t = Trim(line);
  if (t.size() < 2 || t.front() != '[') return false;
  size_t close = t.find(']');
  if (close == std::string_view::npos) return false;
  name = Trim(t.substr(1, close - 1));
  return true;
}

// "Key=Value" -> key and value (both trimmed); comments and other lines -> false.
bool KeyValue(std::string_view line, std::string_view& key, std::string_view& value) {
  std::string_view t = Trim(line);
  if (t.empty() || t.front() == ';') return false;
  size_t eq = t.find('=');
  if (eq == std::string_view::npos) return false;
  key = Trim(t.substr(0, eq));
  value = Trim(t.substr(eq + 1));
  return true;
}

// A UTF-8 byte-order mark (written by some Windows editors) is not part of the first line.
constexpr std::string_view Bom = "\xEF\xBB\xBF";
std::string_view WithoutBom(std::string_view text) {
  if (text.substr(0, Bom.size()) == Bom) text.remove_prefix(Bom.size());
  return text;
}

bool ReadIfExists(const std::string& file, std::string& text) {
  if (::access(file.c_str(), F_OK) != 0) return false;
  text = ReadWholeFile(file);
  return true;
}

} // namespace

std::string IniRead(const std::string& file, const std::string& section, const std::string& key,
                    const std::string& def) {
  std::string text;
  try {
    if (!ReadIfExists(file, text)) return def;
  } catch (const RunError&) {
    return def; // an unreadable file reads like a missing one, as the platform's reader does
  }
  bool inSection = false;
  for (const Line& l : SplitLines(WithoutBom(text))) {
    std::string_view name, k, v;
    if (SectionName(l.text, name)) {
      inSection = SameName(name, section);
      continue;
    }
    if (inSection && KeyValue(l.text, k, v) && SameName(k, key)) return std::string(v);
  }
  return def;
}

namespace {

// Holds an exclusive lock on the folder of the configuration while a write reads, changes and
// replaces it, so that two of our processes (the run and its companion) writing keys at the same
// time do not lose one another's update.
class FolderLock {
public:
  explicit FolderLock(const std::string& file) {
    size_t slash = file.find_last_of('/');
    std::string folder = slash == std::string::npos ? "." : file.substr(0, slash + 1);
    fd_ = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd_ >= 0) ::flock(fd_, LOCK_EX);
  }
  ~FolderLock() {
    if (fd_ >= 0) ::close(fd_); // closing releases the lock
  }
  FolderLock(const FolderLock&) = delete;
  FolderLock& operator=(const FolderLock&) = delete;

private:
  int fd_ = -1;
};

} // namespace

void IniWrite(const std::string& file, const std::string& section, const std::string& key,
              const std::string& value) {
  FolderLock lock(file);
  std::string text;
  ReadIfExists(file, text);
  std::string_view body = WithoutBom(text);
  std::string_view bom(text.data(), text.size() - body.size()); // kept as it was
  std::vector<Line> lines = SplitLines(body);
  std::string newLine = key + "=" + value;

  // Locate the section, the key inside it, and the last non-blank line of the section.
  long sectionAt = -1, keyAt = -1, lastInSection = -1;
  bool inSection = false;
  for (size_t i = 0; i < lines.size(); ++i) {
    std::string_view name, k, v;
    if (SectionName(lines[i].text, name)) {
      if (inSection) break; // the section ended
      if (SameName(name, section)) {
        inSection = true;
        sectionAt = lastInSection = static_cast<long>(i);
      }
      continue;
    }
    if (!inSection) continue;
    if (!Trim(lines[i].text).empty()) lastInSection = static_cast<long>(i);
    if (KeyValue(lines[i].text, k, v) && SameName(k, key)) {
      keyAt = static_cast<long>(i);
      break;
    }
  }

  std::string out;
  out.reserve(text.size() + newLine.size() + section.size() + 8);
  out += bom;
  auto emit = [&](size_t from, size_t to) {
    for (size_t i = from; i < to; ++i) {
      out += lines[i].text;
      out += lines[i].end;
    }
  };
  if (keyAt >= 0) {
    emit(0, static_cast<size_t>(keyAt));
    out += newLine;
    out += lines[static_cast<size_t>(keyAt)].end.empty() ? std::string_view("")
                                                         : lines[static_cast<size_t>(keyAt)].end;
    emit(static_cast<size_t>(keyAt) + 1, lines.size());
  } else if (sectionAt >= 0) {
    size_t at = static_cast<size_t>(lastInSection);
    emit(0, at + 1);
    if (lines[at].end.empty()) out += "\r\n";
    out += newLine;
    out += "\r\n";
    emit(at + 1, lines.size());
  } else {
    out = text;
    if (!out.empty() && out.back() != '\n' && out.back() != '\r') out += "\r\n";
    if (!out.empty()) out += "\r\n";
    out += "[" + section + "]\r\n" + newLine + "\r\n";
  }
  // The run writes a key every generation: the swap file beside it takes the previous text.
  WriteFileBySwap(file, file + ".swap", out);
}

std::string ReadIniStr(const std::string& section, const std::string& key,
                       const std::string& file) {
  std::string v = IniRead(file, section, key, "Not_Found");
  return v == "Not_Found" ? std::string() : v;
}

} // namespace zupo
