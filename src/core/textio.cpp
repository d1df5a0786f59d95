#include "core/textio.h"

#include <cerrno>
#include <charconv>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "core/errors.h"

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
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) throw RunError(path + ": cannot open for reading: " + SysMsg());
  std::string text;
  char buf[65536];
  for (;;) {
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

bool ParseReal(std::string_view s, long double& v) {
  if (s.empty()) return false;
  const char* b = s.data();
  const char* e = b + s.size();
  if (*b == '+') ++b; // from_chars does not take a plus sign
  if (b == e || *b == '+' || (*b == '-' && (b != s.data() || b + 1 == e))) return false;
  // Only decimal forms: digits, point, exponent. No "inf", "nan" or hex.
  for (const char* p = b; p < e; ++p)
    if (!std::strchr("0123456789.eE+-", *p)) return false;
  auto r = std::from_chars(b, e, v, std::chars_format::general);
  if (r.ec == std::errc::result_out_of_range) return false;
  return r.ec == std::errc() && r.ptr == e;
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

std::string_view TextReader::NextWord() {
  while (pos_ < text_.size() && IsSpace(text_[pos_])) ++pos_;
  if (pos_ >= text_.size()) return {};
  size_t start = pos_;
  while (pos_ < text_.size() && !IsSpace(text_[pos_]) && pos_ - start < 64) ++pos_;
  return std::string_view(text_).substr(start, pos_ - start);
}

long double TextReader::ReadReal() {
  std::string_view w = NextWord();
  if (w.empty()) throw RunError(name_ + ": unexpected end of file while reading a number");
  long double v = 0;
  if (!ParseReal(w, v))
    throw RunError(name_ + ": \"" + std::string(w) + "\" is not a valid number");
  return v;
}

bool TextReader::TryReadReal(long double& v) {
  size_t save = pos_;
  std::string_view w = NextWord();
  if (w.empty()) {
    pos_ = save;
    return false;
  }
  if (!ParseReal(w, v))
    throw RunError(name_ + ": \"" + std::string(w) + "\" is not a valid number");
  return true;
}

long long TextReader::ReadInt() {
  std::string_view w = NextWord();
  if (w.empty()) throw RunError(name_ + ": unexpected end of file while reading a number");
  long long v = 0;
  if (!ParseInt(w, v))
    throw RunError(name_ + ": \"" + std::string(w) + "\" is not a valid integer");
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
