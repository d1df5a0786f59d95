#include "core/format.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace zupo {

void AppendFixed(std::string& out, long double v, int w, int d) {
  char buf[128];
  int n = std::snprintf(buf, sizeof buf, "%*.*Lf", w, d, v);
  if (n < 0 || n >= static_cast<int>(sizeof buf)) {
    // Values beyond about 1e100 in fixed notation: format into a large enough buffer.
    std::string big(static_cast<size_t>(std::snprintf(nullptr, 0, "%*.*Lf", w, d, v)) + 1, '\0');
    std::snprintf(big.data(), big.size(), "%*.*Lf", w, d, v);
    big.pop_back();
    out += big;
    return;
  }
  out.append(buf, static_cast<size_t>(n));
}

void AppendSci23(std::string& out, long double v) {
  char buf[64];
  // 15 significant digits: d.dddddddddddddde[+-]x..x
  std::snprintf(buf, sizeof buf, "%.14Le", v);
  char* e = std::strchr(buf, 'e');
  if (e == nullptr) { // inf or nan: not produced by a run (faults are raised first)
    std::string s(buf);
    if (s.size() < 23) s.insert(0, 23 - s.size(), ' ');
    out += s;
    return;
  }
  int exp = std::atoi(e + 1);
  *e = '\0';
  if (buf[0] != '-') out += ' ';
  out += buf;
  char tail[16];
  std::snprintf(tail, sizeof tail, "E%c%04d", exp < 0 ? '-' : '+', exp < 0 ? -exp : exp);
  out += tail;
}

void AppendInt(std::string& out, long long v, int w) {
  char buf[32];
  int n = std::snprintf(buf, sizeof buf, "%*lld", w, v);
  out.append(buf, static_cast<size_t>(n));
}

std::string FormatFixed(long double v, int w, int d) {
  std::string s;
  AppendFixed(s, v, w, d);
  return s;
}

std::string FormatSci23(long double v) {
  std::string s;
  AppendSci23(s, v);
  return s;
}

std::string FormatInt(long long v, int w) {
  std::string s;
  AppendInt(s, v, w);
  return s;
}

std::string FormatGeneral(long double v) {
  if (v == 0) return "0";
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.14Le", v); // 15 significant digits, rounded
  char* e = std::strchr(buf, 'e');
  if (e == nullptr) return buf;
  int exp = std::atoi(e + 1);
  *e = '\0';
  // Mantissa digits without the point and without trailing zeros.
  std::string digits;
  bool neg = buf[0] == '-';
  for (const char* p = buf + (neg ? 1 : 0); *p; ++p)
    if (*p != '.') digits += *p;
  while (digits.size() > 1 && digits.back() == '0') digits.pop_back();
  std::string s = neg ? "-" : "";
  if (exp >= 15 || exp < -5) {
    // Scientific: one digit, optional fraction, 'E', exponent (sign only when negative).
    s += digits[0];
    if (digits.size() > 1) {
      s += '.';
      s += digits.substr(1);
    }
    s += 'E';
    s += std::to_string(exp);
    return s;
  }
  if (exp < 0) {
    s += "0.";
    s.append(static_cast<size_t>(-exp - 1), '0');
    s += digits;
    return s;
  }
  size_t intDigits = static_cast<size_t>(exp) + 1;
  if (digits.size() <= intDigits) {
    s += digits;
    s.append(intDigits - digits.size(), '0');
  } else {
    s += digits.substr(0, intDigits);
    s += '.';
    s += digits.substr(intDigits);
  }
  return s;
}

} // namespace zupo
