#include "core/textio.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "core/errors.h"
#include "core/real6.h"

namespace zupo {

namespace {

std::string SysMsg() {
  return std::strerror(errno);
}

bool IsSpace(char c) {
  return static_cast<unsigned char>(c) <= ' ';
}

void WriteAll(int fd, std::string_view s, const std::string& path) {
  size_t done = 0;
  while (done < s.size()) {
    ssize_t n = ::write(fd, s.data() + done, s.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      throw RunError(path + ": write failed: " + SysMsg());
    }
    done += static_cast<size_t>(n);
  }
}

} // namespace

std::string ReadWholeFile(const std::string& path) {
  // Non-blocking, so that opening a FIFO with no writer cannot hang the start-up.
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) throw RunError(path + ": cannot open for reading: " + SysMsg());
  struct stat st = {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    throw RunError(path + ": not a regular file");
  }
  if (st.st_size > MaxInputBytes) {
    ::close(fd);
    throw RunError(path + ": the file is larger than 1 GB (" + std::to_string(st.st_size) +
                   " bytes)");
  }
  std::string text;
  text.reserve(static_cast<size_t>(st.st_size));
  char buf[65536];
  for (;;) {
    if (static_cast<long long>(text.size()) > MaxInputBytes) { // grew while being read
      ::close(fd);
      throw RunError(path + ": the file is larger than 1 GB");
    }
    ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0) {
      if (errno == EINTR) continue;
      std::string msg = path + ": read failed: " + SysMsg();
      ::close(fd);
      throw RunError(msg);
    }
    if (n == 0) break;
    text.append(buf, static_cast<size_t>(n));
  }
  ::close(fd);
  return text;
}

namespace {

// For a decimal text that from_chars found out of range: true when its magnitude is large
// (overflow), false when it is tiny (underflow). The decimal exponent of the leading digit
// decides.
bool MagnitudeIsLarge(std::string_view s) {
  size_t ePos = s.find_first_of("eE");
  std::string_view mant = s.substr(0, ePos);
  long long exp10 = 0;
  if (ePos != std::string_view::npos) {
    std::string_view ex = s.substr(ePos + 1);
    bool neg = !ex.empty() && ex[0] == '-';
    if (!ex.empty() && (ex[0] == '-' || ex[0] == '+')) ex.remove_prefix(1);
    for (char c : ex) exp10 = std::min(exp10 * 10 + (c - '0'), 1000000000LL);
    if (neg) exp10 = -exp10;
  }
  // The order of the leading non-zero digit: the count of integer digits from it on, or minus
  // the zeros after the point that precede it.
  long long order = 0;
  bool point = false, found = false;
  for (char c : mant) {
    if (c == '-') continue;
    if (c == '.') {
      point = true;
    } else if (!point) {
      if (found || c != '0') {
        found = true;
        ++order;
      }
    } else if (found || c != '0') {
      found = true;
      break;
    } else {
      --order;
    }
  }
  if (!found) return false;
  return order + exp10 > 0;
}

} // namespace

NumberRead ParseRealStatus(std::string_view s, long double& v) {
  if (s.empty()) return NumberRead::Invalid;
  const char* b = s.data();
  const char* e = b + s.size();
  if (*b == '+') ++b; // from_chars does not take a plus sign
  if (b == e || *b == '+' || (*b == '-' && (b != s.data() || b + 1 == e)))
    return NumberRead::Invalid;
  // Only decimal forms: digits, point, exponent. No "inf", "nan" or hex.
  for (const char* p = b; p < e; ++p)
    if (!std::strchr("0123456789.eE+-", *p)) return NumberRead::Invalid;
  long double x = 0;
  auto r = std::from_chars(b, e, x, std::chars_format::general);
  if (r.ptr != e) return NumberRead::Invalid;
  if (r.ec == std::errc::result_out_of_range) {
    if (MagnitudeIsLarge(std::string_view(b, static_cast<size_t>(e - b))))
      return NumberRead::Overflow;
    v = 0; // below the smallest extended real: stores as 0, as an underflow does
    return NumberRead::Ok;
  }
  if (r.ec != std::errc()) return NumberRead::Invalid;
  v = x;
  return NumberRead::Ok;
}

bool ParseReal(std::string_view s, long double& v) {
  return ParseRealStatus(s, v) == NumberRead::Ok;
}

bool ParseInt(std::string_view s, long long& v) {
  if (s.empty()) return false;
  const char* b = s.data();
  const char* e = b + s.size();
  if (*b == '+') ++b;
  if (b == e || *b == '+' || (*b == '-' && b != s.data())) return false; // "+-5" is no number
  auto r = std::from_chars(b, e, v, 10);
  return r.ec == std::errc() && r.ptr == e;
}

// A number is a whole word, however long: fixed notation writes every integer digit, and an
// 80-bit real reaches about 1e4932.
std::string_view TextReader::NextWord() {
  while (pos_ < text_.size() && IsSpace(text_[pos_])) ++pos_;
  if (pos_ >= text_.size()) return {};
  size_t start = pos_;
  while (pos_ < text_.size() && !IsSpace(text_[pos_])) ++pos_;
  return std::string_view(text_).substr(start, pos_ - start);
}

std::string ShortenForMessage(std::string_view w) {
  if (w.size() <= 40) return std::string(w);
  return std::string(w.substr(0, 20)) + "..." + std::string(w.substr(w.size() - 12)) + " (" +
         std::to_string(w.size()) + " characters)";
}

long double TextReader::WordValue(std::string_view w) const {
  long double v = 0;
  switch (ParseRealStatus(w, v)) {
  case NumberRead::Ok:
    return v;
  case NumberRead::Overflow:
    throw RunError(name_ + ": floating-point overflow: \"" + ShortenForMessage(w) +
                   "\" is beyond the largest number the program holds");
  default:
    throw RunError(name_ + ": \"" + ShortenForMessage(w) + "\" is not a valid number");
  }
}

long double TextReader::ReadReal() {
  std::string_view w = NextWord();
  if (w.empty()) throw RunError(name_ + ": unexpected end of file while reading a number");
  return WordValue(w);
}

double TextReader::ReadReal6() {
  size_t start = pos_;
  long double v = ReadReal();
  try {
    return Round6(v);
  } catch (const FloatError&) {
    while (start < text_.size() && IsSpace(text_[start])) ++start;
    throw RunError(name_ + ": floating-point overflow: \"" +
                   ShortenForMessage(std::string_view(text_).substr(start, pos_ - start)) +
                   "\" is too large for a 6-byte real (about 1.7E+38 at most)");
  }
}

bool TextReader::TryReadReal(long double& v) {
  size_t save = pos_;
  std::string_view w = NextWord();
  if (w.empty()) {
    pos_ = save;
    return false;
  }
  v = WordValue(w);
  return true;
}

long long TextReader::ReadInt() {
  std::string_view w = NextWord();
  if (w.empty()) throw RunError(name_ + ": unexpected end of file while reading a number");
  long long v = 0;
  if (!ParseInt(w, v))
    throw RunError(name_ + ": \"" + ShortenForMessage(w) + "\" is not a valid integer");
  return v;
}

void TextReader::SkipLine() {
  while (pos_ < text_.size()) {
    char c = text_[pos_++];
    if (c == '\n') return;
    if (c == '\r') {
      if (pos_ < text_.size() && text_[pos_] == '\n') ++pos_;
      return;
    }
  }
}

std::string TextReader::ReadLine() {
  size_t start = pos_;
  while (pos_ < text_.size() && text_[pos_] != '\n' && text_[pos_] != '\r') ++pos_;
  std::string line = text_.substr(start, pos_ - start);
  SkipLine();
  return line;
}

void WriteFileInPlace(const std::string& path, std::string_view content) {
  WriteFileInPlace(path, content, std::string::npos);
}

void WriteFileInPlace(const std::string& path, std::string_view content, size_t presentLength) {
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) throw RunError(path + ": cannot open for writing: " + SysMsg());
  try {
    WriteAll(fd, content, path);
    if (presentLength > content.size() && ::ftruncate(fd, static_cast<off_t>(content.size())) != 0)
      throw RunError(path + ": cannot set the file length: " + SysMsg());
  } catch (...) {
    ::close(fd);
    throw;
  }
  if (::close(fd) != 0) throw RunError(path + ": close failed: " + SysMsg());
}

void WriteFileAtomic(const std::string& path, std::string_view content) {
  // One temporary per process: the companion program writes the same Zupo.ini, and two
  // writers sharing one temporary could rename the other's half-written file into place.
  std::string tmp = path + "." + std::to_string(::getpid()) + ".tmp";
  int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) throw RunError(tmp + ": cannot create: " + SysMsg());
  try {
    WriteAll(fd, content, tmp);
  } catch (...) {
    ::close(fd);
    ::unlink(tmp.c_str());
    throw;
  }
  if (::close(fd) != 0) {
    std::string msg = tmp + ": close failed: " + SysMsg();
    ::unlink(tmp.c_str());
    throw RunError(msg);
  }
  if (::rename(tmp.c_str(), path.c_str()) != 0) {
    std::string msg = path + ": cannot replace with " + tmp + ": " + SysMsg();
    ::unlink(tmp.c_str());
    throw RunError(msg);
  }
}

void WriteFileBySwap(const std::string& path, const std::string& swapPath,
                     std::string_view content) {
  WriteFileInPlace(swapPath, content);
  // Exchanging the two names is atomic and allocates no inode: path then holds the new text and
  // swapPath the previous one, ready to be overwritten next time.
  if (::renameat2(AT_FDCWD, swapPath.c_str(), AT_FDCWD, path.c_str(), RENAME_EXCHANGE) == 0) return;
  if (errno != ENOENT && errno != EINVAL && errno != ENOSYS)
    throw RunError(path + ": cannot exchange with " + swapPath + ": " + SysMsg());
  // No file to exchange with yet, or a file system without exchange: an ordinary replace.
  if (::rename(swapPath.c_str(), path.c_str()) != 0)
    throw RunError(path + ": cannot replace with " + swapPath + ": " + SysMsg());
}

RewrittenFile::~RewrittenFile() {
  try {
    Close();
  } catch (...) {
    // A destructor must not throw; an explicit Close reports the error.
  }
}

void RewrittenFile::Write(const std::string& path, std::string_view content) {
  if (fd_ < 0 || path != path_) {
    Close();
    fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    if (fd_ < 0) throw RunError(path + ": cannot open for writing: " + SysMsg());
    path_ = path;
    struct stat st = {};
    if (::fstat(fd_, &st) != 0) throw RunError(path + ": cannot read the file length: " + SysMsg());
    length_ = static_cast<size_t>(st.st_size);
  }
  // Until the write has succeeded the length is not known: the next write cuts in any case.
  const size_t before = length_;
  length_ = std::string::npos;
  size_t done = 0;
  while (done < content.size()) {
    ssize_t n =
        ::pwrite(fd_, content.data() + done, content.size() - done, static_cast<off_t>(done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) throw RunError(path_ + ": write failed: " + SysMsg());
    done += static_cast<size_t>(n);
  }
  if (before > content.size() && ::ftruncate(fd_, static_cast<off_t>(content.size())) != 0)
    throw RunError(path_ + ": cannot set the file length: " + SysMsg());
  length_ = content.size();
}

void RewrittenFile::Close() {
  if (fd_ < 0) return;
  int fd = fd_;
  fd_ = -1;
  if (::close(fd) != 0) throw RunError(path_ + ": close failed: " + SysMsg());
}

AppendFile::~AppendFile() {
  try {
    Close();
  } catch (...) {
    // A destructor must not throw; an explicit Close reports the error.
  }
}

void AppendFile::Create(const std::string& path) {
  Close();
  fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd_ < 0) throw RunError(path + ": cannot create: " + SysMsg());
  name_ = path;
}

void AppendFile::OpenAppend(const std::string& path) {
  Close();
  fd_ = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
  if (fd_ < 0) throw RunError(path + ": cannot open for appending: " + SysMsg());
  name_ = path;
}

void AppendFile::Write(std::string_view s) {
  if (fd_ < 0) throw RunError(name_ + ": write to a closed file");
  buf_ += s;
  if (buf_.size() >= 1 << 16) Flush();
}

void AppendFile::Flush() {
  if (fd_ < 0 || buf_.empty()) return;
  std::string pending;
  pending.swap(buf_);
  WriteAll(fd_, pending, name_);
}

void AppendFile::Close() {
  if (fd_ < 0) return;
  int fd = fd_;
  try {
    Flush();
  } catch (...) {
    ::close(fd);
    fd_ = -1;
    throw;
  }
  fd_ = -1;
  if (::close(fd) != 0) throw RunError(name_ + ": close failed: " + SysMsg());
}

} // namespace zupo
