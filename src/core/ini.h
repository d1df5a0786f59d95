#pragma once
#include <string>

namespace zupo {

// Windows-style initialisation file: "[Section]" lines open sections, "Key=Value" lines give
// values; names match without regard to case, values are trimmed, ';' lines are comments.

// The value of section/key, or def when the file, the section or the key is missing.
std::string IniRead(const std::string& file, const std::string& section, const std::string& key,
                    const std::string& def);
// Replaces the key's value in place or appends it to its section (creating the section and the
// file when missing); every other line stays as it was. The file is replaced atomically.
// RunError names the file when it cannot be written.
void IniWrite(const std::string& file, const std::string& section, const std::string& key,
              const std::string& value);

// Every configuration read: a value equal to "Not_Found" (case-sensitive) reads as empty.
std::string ReadIniStr(const std::string& section, const std::string& key, const std::string& file);

} // namespace zupo
