#include "core/format.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <vector>

namespace zupo {

void detail::AppendFixedPrintf(std::string& out, long double v, int w, int d) {
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

void detail::AppendSci23Printf(std::string& out, long double v) {
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

namespace {

using u128 = unsigned __int128;

constexpr uint64_t Pow10[20] = {1ull,
                                10ull,
                                100ull,
                                1000ull,
                                10000ull,
                                100000ull,
                                1000000ull,
                                10000000ull,
                                100000000ull,
                                1000000000ull,
                                10000000000ull,
                                100000000000ull,
                                1000000000000ull,
                                10000000000000ull,
                                100000000000000ull,
                                1000000000000000ull,
                                10000000000000000ull,
                                100000000000000000ull,
                                1000000000000000000ull,
                                10000000000000000000ull};

// v = m * 2^e with the top bit of m set: a normal 80-bit extended real. False for zero,
// denormals, infinities, NaNs, and where long double is not the 80-bit format.
bool Split(long double v, uint64_t& m, int& e, bool& neg) {
  if constexpr (std::numeric_limits<long double>::digits != 64) {
    return false;
  } else {
    unsigned char b[sizeof(long double)];
    std::memcpy(b, &v, sizeof v);
    uint16_t top = 0;
    std::memcpy(&m, b, 8);
    std::memcpy(&top, b + 8, 2);
    int exp = top & 0x7fff;
    neg = (top & 0x8000) != 0;
    if (exp == 0 || exp == 0x7fff || !(m >> 63)) return false;
    e = exp - 16383 - 63;
    return true;
  }
}

// N / 2^s rounded half to even, 1 <= s <= 127.
u128 ShiftRound(u128 N, int s) {
  u128 q = N >> s;
  u128 r = N - (q << s);
  u128 half = u128(1) << (s - 1);
  if (r > half || (r == half && (q & 1))) ++q;
  return q;
}

// The first `keep` significant digits of the integer m * 2^e (e >= 0), rounded half to even on
// all the others, and the number of digits of the integer. The integer is built exactly in
// base-1e9 limbs; only the leading digits are turned into text.
struct LeadingDigits {
  char digits[24];
  int count = 0; // digits of the integer, after rounding
};

LeadingDigits RoundIntegerDigits(uint64_t m, int e, int keep) {
  constexpr uint64_t Base = 1000000000ull;
  uint32_t limbs[600];
  int n = 0;
  while (m != 0) {
    limbs[n++] = static_cast<uint32_t>(m % Base);
    m /= Base;
  }
  while (e > 0) {
    int s = e > 32 ? 32 : e; // a limb below 2^30 shifted by 32 stays below 2^62
    e -= s;
    uint64_t carry = 0;
    for (int k = 0; k < n; ++k) {
      uint64_t cur = (static_cast<uint64_t>(limbs[k]) << s) + carry;
      limbs[k] = static_cast<uint32_t>(cur % Base);
      carry = cur / Base;
    }
    while (carry != 0) {
      limbs[n++] = static_cast<uint32_t>(carry % Base);
      carry /= Base;
    }
  }
  // Digits from the top: keep + 1 of them, and whether anything non-zero follows.
  char lead[40];
  int got = 0;
  bool sticky = false;
  int total = 0;
  for (int k = n - 1; k >= 0; --k) {
    char nine[9];
    uint32_t l = limbs[k];
    for (int j = 8; j >= 0; --j, l /= 10) nine[j] = static_cast<char>('0' + l % 10);
    int from = 0;
    if (k == n - 1)
      while (from < 8 && nine[from] == '0') ++from;
    total += 9 - from;
    for (int j = from; j < 9; ++j) {
      if (got < keep + 1)
        lead[got++] = nine[j];
      else if (nine[j] != '0')
        sticky = true;
    }
    if (got >= keep + 1 && !sticky)
      for (int r = k - 1; r >= 0 && !sticky; --r) sticky = limbs[r] != 0;
    if (got >= keep + 1) {
      total += 9 * k;
      break;
    }
  }
  LeadingDigits out;
  out.count = total;
  if (got <= keep) { // short enough to be exact
    std::memcpy(out.digits, lead, static_cast<size_t>(got));
    return out;
  }
  char next = lead[keep];
  bool up = next > '5' || (next == '5' && (sticky || (lead[keep - 1] - '0') % 2 == 1));
  if (up) {
    int k = keep - 1;
    while (k >= 0 && lead[k] == '9') lead[k--] = '0';
    if (k >= 0) {
      ++lead[k];
    } else { // 99..9 became 100..0: one digit more
      lead[0] = '1';
      ++out.count;
    }
  }
  std::memcpy(out.digits, lead, static_cast<size_t>(keep));
  return out;
}

// Integers beyond 2^64 are written with 21 significant digits, enough to read the 80-bit value
// back exactly, followed by zeros, as the platform's fixed notation does for digits beyond its
// precision. (Wealth that compounds over thousands of generations reaches hundreds of digits;
// their exact binary expansion would make every generation slower than the one before.)
constexpr int FixedSignificant = 21;

void AppendPadded(std::string& out, const char* p, size_t len, int w) {
  if (len < static_cast<size_t>(w)) out.append(static_cast<size_t>(w) - len, ' ');
  out.append(p, len);
}

} // namespace

void AppendFixed(std::string& out, long double v, int w, int d) {
  uint64_t m = 0;
  int e = 0;
  bool neg = std::signbit(v);
  u128 q = 0;
  if (d < 0 || d > 9) return detail::AppendFixedPrintf(out, v, w, d);
  if (v != 0) {
    if (!Split(v, m, e, neg) || -e > 127) return detail::AppendFixedPrintf(out, v, w, d);
    if (e >= 0) { // an integer: its leading digits, zeros, then d zero decimals
      LeadingDigits ld = RoundIntegerDigits(m, e, FixedSignificant);
      std::string text = neg ? "-" : "";
      int shown = ld.count < FixedSignificant ? ld.count : FixedSignificant;
      text.append(ld.digits, static_cast<size_t>(shown));
      text.append(static_cast<size_t>(ld.count - shown), '0');
      if (d > 0) {
        text += '.';
        text.append(static_cast<size_t>(d), '0');
      }
      return AppendPadded(out, text.data(), text.size(), w);
    }
    q = ShiftRound(u128(m) * Pow10[d], -e);
  }
  char buf[64];
  char* p = buf + sizeof buf;
  // Digits from the right; 128-bit division is slow, so the high part is split off first.
  uint64_t high = 0, low = static_cast<uint64_t>(q);
  if ((q >> 64) != 0 || low >= Pow10[19]) {
    high = static_cast<uint64_t>(q / Pow10[19]);
    low = static_cast<uint64_t>(q % Pow10[19]);
  }
  if (high == 0) {
    for (int k = 0; k < d; ++k, low /= 10) *--p = static_cast<char>('0' + low % 10);
    if (d > 0) *--p = '.';
    do *--p = static_cast<char>('0' + low % 10);
    while ((low /= 10) != 0);
  } else { // 20 or more digits (d <= 9): the low 19 digits, then the high part
    for (int k = 0; k < 19; ++k, low /= 10) {
      if (k == d && d > 0) *--p = '.';
      *--p = static_cast<char>('0' + low % 10);
    }
    do *--p = static_cast<char>('0' + high % 10);
    while ((high /= 10) != 0);
  }
  if (neg) *--p = '-';
  AppendPadded(out, p, static_cast<size_t>(buf + sizeof buf - p), w);
}

namespace {

void AppendSciDigits(std::string& out, bool neg, uint64_t n, int E) {
  char buf[24];
  for (int k = 15; k >= 2; --k) {
    buf[k] = static_cast<char>('0' + n % 10);
    n /= 10;
  }
  buf[0] = neg ? '-' : ' ';
  buf[1] = static_cast<char>('0' + n);
  out.append(buf, 2);
  out += '.';
  out.append(buf + 2, 14);
  int a = E < 0 ? -E : E;
  char tail[6] = {'E',
                  E < 0 ? '-' : '+',
                  static_cast<char>('0' + a / 1000 % 10),
                  static_cast<char>('0' + a / 100 % 10),
                  static_cast<char>('0' + a / 10 % 10),
                  static_cast<char>('0' + a % 10)};
  out.append(tail, 6);
}

// Scientific form of the integer m * 2^e: the first 15 digits, rounded half to even on the rest.
void AppendSciInteger(std::string& out, bool neg, uint64_t m, int e) {
  LeadingDigits ld = RoundIntegerDigits(m, e, 15);
  uint64_t head = 0;
  for (int k = 0; k < 15; ++k) head = head * 10 + static_cast<uint64_t>(ld.digits[k] - '0');
  AppendSciDigits(out, neg, head, ld.count - 1);
}

} // namespace

void AppendSci23(std::string& out, long double v) {
  if (v == 0) {
    out += std::signbit(v) ? '-' : ' ';
    out += "0.00000000000000E+0000";
    return;
  }
  uint64_t m = 0;
  int e = 0;
  bool neg = false;
  if (!Split(v, m, e, neg)) return detail::AppendSci23Printf(out, v);
  if (e >= 0) return AppendSciInteger(out, neg, m, e);
  // Decimal exponent: v lies in [2^(e+63), 2^(e+64)); the estimate is corrected below.
  int E = static_cast<int>(std::floor((e + 63) * 0.301029995663981195));
  for (int tries = 0; tries < 3; ++tries) {
    int q = 14 - E; // D = v * 10^q rounded has 15 digits
    if (q < 0 || q > 19 || e >= 0 || -e > 127) break;
    u128 D = ShiftRound(u128(m) * Pow10[q], -e);
    if (D >= Pow10[15]) {
      ++E;
      continue;
    }
    if (D < Pow10[14]) {
      --E;
      continue;
    }
    AppendSciDigits(out, neg, static_cast<uint64_t>(D), E);
    return;
  }
  detail::AppendSci23Printf(out, v);
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
