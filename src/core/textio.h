#pragma once
#include <cstdint>
#include <string>
#include <string_view>

namespace zupo {

// No input is larger than this: a bigger file is refused rather than read into memory.
constexpr long long MaxInputBytes = 1LL << 30;

// Reads the whole of a text file; RunError naming the file when it cannot be opened or read, is
// not a regular file (a FIFO or a device could block or never end) or is larger than 1 GB.
std::string ReadWholeFile(const std::string& path);

// A sequential reader over text held in memory, with the system's reading rules: free-format
// numbers separated by blanks, control characters or line ends; a skip to the next line; end of
// file. Accepts CR LF and LF line ends. Errors name the file.
class TextReader {
public:
  TextReader() = default;
  TextReader(std::string name, std::string text) : name_(std::move(name)), text_(std::move(text)) {}
  static TextReader Open(const std::string& path) { return TextReader(path, ReadWholeFile(path)); }

  bool Eof() const { return pos_ >= text_.size(); }
  // Free-format real: skips blanks, control characters and line ends, takes the characters up
  // to the next blank or control character; RunError at end of file, on a bad number and on a
  // number beyond the extended range (naming the file and the value).
  long double ReadReal();
  // ReadReal rounded to a 6-byte real; a value beyond its range is an error naming the value.
  double ReadReal6();
  long long ReadInt();
  // Like ReadReal, but returns false (and reads nothing) when only blanks remain.
  bool TryReadReal(long double& v);
  // Discards the rest of the current line and its line end.
  void SkipLine();
  // Reads one line without its line end (CR LF or LF).
  std::string ReadLine();
  // One character; at end of file returns '\x1a' (Ctrl-Z) as the platform's text files do.
  char ReadChar() { return pos_ < text_.size() ? text_[pos_++] : '\x1a'; }

  const std::string& Name() const { return name_; }
  size_t Pos() const { return pos_; }
  void Rewind() { pos_ = 0; }

private:
  std::string_view NextWord();
  long double WordValue(std::string_view w) const;
  std::string name_;
  std::string text_;
  size_t pos_ = 0;
};

enum class NumberRead { Ok, Invalid, Overflow };
// Converts a whole string as a decimal number (no locale dependence). A magnitude beyond the
// extended range is Overflow; one below it reads as 0.
NumberRead ParseRealStatus(std::string_view s, long double& v);
// ParseRealStatus == Ok.
bool ParseReal(std::string_view s, long double& v);
// A word for an error message, cut in the middle when it is long.
std::string ShortenForMessage(std::string_view w);
bool ParseInt(std::string_view s, long long& v);

// Lines written by the system end with CR LF.
inline void EndLine(std::string& out) {
  out += "\r\n";
}

// Writes content to path. An existing file is overwritten in place and cut to its new length
// (no O_TRUNC: truncation on open makes the kernel flush the file at close); a missing file is
// created. RunError names the file on any failure.
void WriteFileInPlace(const std::string& path, std::string_view content);
// The same for a file whose present length this program knows (it wrote the file itself): a
// file no longer than content needs no cut.
void WriteFileInPlace(const std::string& path, std::string_view content, size_t presentLength);
// Writes content under a temporary name in the same folder, then renames it over path, so that
// path is always either the old or the new complete file.
void WriteFileAtomic(const std::string& path, std::string_view content);

// Like WriteFileAtomic, for a file rewritten often: the new text is written in place into
// swapPath, whose name is then exchanged with path in one step. Afterwards swapPath holds the
// previous text. No new file is created once both exist, which keeps a per-generation rewrite
// cheap.
void WriteFileBySwap(const std::string& path, const std::string& swapPath,
                     std::string_view content);

// A file the run rewrites whole every generation (the data and window files). It stays open: each
// text is written in place from the start, and the file is cut only when the new text is shorter
// than the one before. The first write opens it (creating it if missing); so does a write to
// another path.
class RewrittenFile {
public:
  RewrittenFile() = default;
  ~RewrittenFile();
  RewrittenFile(const RewrittenFile&) = delete;
  RewrittenFile& operator=(const RewrittenFile&) = delete;
  void Write(const std::string& path, std::string_view content);
  void Close();

private:
  int fd_ = -1;
  std::string path_;
  size_t length_ = 0; // the file's present length
};

// A file kept open for appending for the whole run (Data1.txt, Data2.txt). Every write is
// checked; Flush pushes buffered text to the kernel.
class AppendFile {
public:
  AppendFile() = default;
  ~AppendFile();
  AppendFile(const AppendFile&) = delete;
  AppendFile& operator=(const AppendFile&) = delete;
  void Create(const std::string& path); // created empty (or truncated)
  void OpenAppend(const std::string& path);
  bool IsOpen() const { return fd_ >= 0; }
  void Write(std::string_view s);
  void Flush();
  void Close();
  const std::string& Name() const { return name_; }

private:
  int fd_ = -1;
  std::string name_;
  std::string buf_;
};

} // namespace zupo
