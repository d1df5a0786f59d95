#include "core/paths.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

#include "core/errors.h"

namespace zupo {

std::string MapSeparators(const std::string& name) {
  std::string s = name;
  for (char& c : s)
    if (c == '\\') c = '/';
  return s;
}

std::string ResolvePath(const std::string& base, const std::string& name) {
  if (name.empty()) return name;
  std::string s = MapSeparators(name);
  if (s[0] == '/' || base.empty()) return s;
  std::string b = base;
  if (b.back() != '/') b += '/';
  return b + s;
}

std::string FileInFolder(const std::string& folder, const std::string& name) {
  if (!folder.empty() && folder.back() == '/') return folder + name;
  return folder + "/" + name;
}

std::string FolderOf(const std::string& path) {
  size_t p = path.find_last_of('/');
  if (p == std::string::npos) return "./";
  return path.substr(0, p + 1);
}

bool FileExists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool DirExists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

void EnsureDir(const std::string& path) {
  if (path.empty() || DirExists(path)) return;
  // Parents first, so that a prefix such as "lib/" + digit works in a fresh folder.
  size_t slash = path.find_last_of('/', path.size() > 1 ? path.size() - 2 : 0);
  if (slash != std::string::npos && slash > 0) EnsureDir(path.substr(0, slash));
  if (::mkdir(path.c_str(), 0755) != 0 && !(errno == EEXIST && DirExists(path)))
    throw RunError(path + ": cannot create the folder: " + std::strerror(errno));
}

std::string ProgramFolder() {
  char buf[PATH_MAX];
  ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return "./";
  buf[n] = '\0';
  return FolderOf(buf);
}

} // namespace zupo
