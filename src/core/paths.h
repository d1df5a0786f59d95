#pragma once
#include <string>

namespace zupo {

// Configured names use '\' as separator; on this platform it becomes '/'.
std::string MapSeparators(const std::string& name);
// A configured path: separators mapped, and a relative path resolved against base (the folder
// of Zupo.ini, with or without trailing '/'). An empty name stays empty.
std::string ResolvePath(const std::string& base, const std::string& name);
// A file in a folder: folder + '/' + name (no second '/' when the folder already ends in one).
std::string FileInFolder(const std::string& folder, const std::string& name);
// The folder part of a path, with a trailing '/' ("" for a bare name -> "./").
std::string FolderOf(const std::string& path);

// The folder of the running program file, with a trailing '/' ("./" when it cannot be found):
// Zupo.ini and the companion program are looked for there.
std::string ProgramFolder();

bool FileExists(const std::string& path);
bool DirExists(const std::string& path);
// Creates the folder (and missing parents); RunError naming the folder when that fails.
void EnsureDir(const std::string& path);

} // namespace zupo
