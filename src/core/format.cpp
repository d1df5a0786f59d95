#include "core/format.h"

#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <vector>

namespace zupo {

using detail::LeadingDigits;

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

} // namespace

// The integer is built exactly in base-1e9 limbs; only the leading digits are turned into text.
// Its cost grows with e: the flat-cost LeadingIntegerDigits falls back to it only where its own
// bounds cannot decide the rounding.
LeadingDigits detail::LeadingIntegerDigitsExact(uint64_t m, int e, int keep) {
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

namespace {

// 10^-s ~ R * 2^-r, for s = 0 .. MaxScale: R holds 128 bits (the top one set), and
// R <= 2^r / 10^s < R + 2. Built once by dividing a 256-bit mantissa by ten s times; each
// division truncates by less than one unit in the last of 256 bits, so the error reaching the
// top 128 bits stays far below one unit.
struct Reciprocal {
  u128 R = 0;
  int r = 0;
};
constexpr int MaxScale = 4960; // 10^4932 is the largest power of ten below the 80-bit maximum

const Reciprocal* Reciprocals() {
  static const std::vector<Reciprocal> table = [] {
    std::vector<Reciprocal> t(MaxScale + 1);
    uint64_t x[4] = {0, 0, 0, uint64_t(1) << 63}; // x[3] holds the top bits; 1 = x * 2^-255
    int k = 255;
    for (int s = 0; s <= MaxScale; ++s) {
      t[static_cast<size_t>(s)].R = (u128(x[3]) << 64) | x[2];
      t[static_cast<size_t>(s)].r = k - 128;
      u128 rem = 0; // x := x / 10, from the top limb down
      for (int j = 3; j >= 0; --j) {
        u128 cur = (rem << 64) | x[j];
        x[j] = static_cast<uint64_t>(cur / 10);
        rem = cur % 10;
      }
      while (!(x[3] >> 63)) { // normalise: the top bit set again
        for (int j = 3; j > 0; --j) x[j] = (x[j] << 1) | (x[j - 1] >> 63);
        x[0] <<= 1;
        ++k;
      }
    }
    return t;
  }();
  return table.data();
}

// The 192-bit product m * R as (high 128 bits, low 64 bits).
void Mul64x128(uint64_t m, u128 R, u128& hi, uint64_t& lo) {
  u128 a = u128(m) * static_cast<uint64_t>(R);
  u128 b = u128(m) * static_cast<uint64_t>(R >> 64);
  lo = static_cast<uint64_t>(a);
  u128 mid = (a >> 64) + static_cast<uint64_t>(b);
  hi = (b >> 64) + (mid >> 64);
  hi = (hi << 64) | static_cast<uint64_t>(mid);
}

// q / 10^19 and q % 10^19 for q below 10^38. A 128-bit division is a library call; where the
// quotient fits in 64 bits, one hardware division gives both.
inline void Split19(u128 q, uint64_t& quot, uint64_t& rem) {
#if defined(__x86_64__)
  uint64_t hi = static_cast<uint64_t>(q >> 64), lo = static_cast<uint64_t>(q);
  if (hi < Pow10[19]) {
    __asm__("divq %4" : "=a"(quot), "=d"(rem) : "a"(lo), "d"(hi), "r"(Pow10[19]) : "cc");
    return;
  }
#endif
  quot = static_cast<uint64_t>(q / Pow10[19]);
  rem = static_cast<uint64_t>(q % Pow10[19]);
}

// The last `keep` digits of q (below 10^38), leading zeros included.
void DigitsOf(u128 q, int keep, char* out) {
  int k = keep - 1;
  if ((q >> 64) != 0) { // one 128-bit division, then 64-bit digits
    uint64_t low = 0, high = 0;
    Split19(q, high, low);
    q = high;
    for (int j = 0; j < 19 && k >= 0; ++j, low /= 10) out[k--] = static_cast<char>('0' + low % 10);
  }
  for (uint64_t v = static_cast<uint64_t>(q); k >= 0; v /= 10)
    out[k--] = static_cast<char>('0' + v % 10);
}

// 10^0 .. 10^38, the powers of ten below 2^128. (A 128-bit division is a library call, so digits
// are counted and powers taken from here, not by dividing or multiplying in a loop.)
constexpr std::array<u128, 39> Pow10Table = [] {
  std::array<u128, 39> t{};
  u128 p = 1;
  for (auto& v : t) {
    v = p;
    p *= 10;
  }
  return t;
}();

u128 Pow10Wide(int n) {
  return Pow10Table[static_cast<size_t>(n)];
}

// The number of decimal digits of N > 0.
int DigitCount(u128 N) {
  int count = 1;
  while (count < 39 && N >= Pow10Table[static_cast<size_t>(count)]) ++count;
  return count;
}

} // namespace

// The same digits at a cost that does not depend on e. With s = digits - keep, the wanted digits
// are N / 10^s rounded; N / 10^s lies in [P, P + 2m) * 2^-sh with P = m * R_s, sh = r_s - e. The
// floor and the side of one half are read off P whenever that whole interval gives the same
// answer; otherwise (a tie, or within 2^-57 of one) the exact method decides.
LeadingDigits detail::LeadingIntegerDigits(uint64_t m, int e, int keep) {
  LeadingDigits out;
  if (e < 64 || keep > 22) {
    // Below 2^127: N itself fits in 128 bits.
    u128 N = u128(m) << (e < 64 ? e : 0);
    if (e >= 64) return LeadingIntegerDigitsExact(m, e, keep);
    int count = DigitCount(N);
    if (count <= keep) {
      out.count = count;
      DigitsOf(N, count, out.digits);
      return out;
    }
    u128 p = Pow10Wide(count - keep);
    u128 q = N / p, rest = N % p, half = p / 2;
    if (rest > half || (rest == half && (q & 1))) ++q;
    out.count = count;
    if (q == Pow10Wide(keep)) {
      q /= 10;
      ++out.count;
    }
    DigitsOf(q, keep, out.digits);
    return out;
  }
  const Reciprocal* table = Reciprocals();
  const u128 low = Pow10Wide(keep - 1), high = Pow10Wide(keep);
  // N lies in [2^(e+63), 2^(e+64)): its digits are at least floor((e + 63) log10 2) + 1.
  int s = static_cast<int>((e + 63) * 0.30102999566398119521) + 1 - keep;
  for (int tries = 0; tries < 3 && s >= 1 && s <= MaxScale; ++tries) {
    const Reciprocal& rc = table[s];
    int sh = rc.r - e; // P's bits below the unit
    if (sh < 66 || sh > 190) break;
    u128 hi;
    uint64_t lo;
    Mul64x128(m, rc.R, hi, lo);
    int t = sh - 64; // 2 <= t <= 126
    u128 q = hi >> t;
    if (q >= high) {
      ++s;
      continue;
    }
    if (q < low) {
      --s;
      continue;
    }
    // The fraction f = P mod 2^sh as (fh, lo), compared with one half, 2^(sh-1) = (2^(t-1), 0),
    // and with one, 2^sh = (2^t, 0). f + 2m may carry into fh.
    u128 fh = hi & ((u128(1) << t) - 1);
    u128 w = u128(m) * 2;
    u128 sumLo = u128(lo) + w;
    u128 eh = fh + (sumLo >> 64); // high part of f + 2m; its low part is below 2^64
    uint64_t el = static_cast<uint64_t>(sumLo);
    const u128 halfH = u128(1) << (t - 1), oneH = u128(1) << t;
    bool endBelowHalf = eh < halfH || (eh == halfH && el == 0);
    bool startAboveHalf = fh > halfH || (fh == halfH && lo > 0);
    bool endBelowOne = eh < oneH || (eh == oneH && el == 0);
    if (!endBelowOne) break;
    if (endBelowHalf) {
    } else if (startAboveHalf) {
      ++q;
    } else {
      break;
    }
    out.count = s + keep;
    if (q == high) {
      q /= 10;
      ++out.count;
    }
    DigitsOf(q, keep, out.digits);
    return out;
  }
  return LeadingIntegerDigitsExact(m, e, keep);
}

namespace {

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
    if (!Split(v, m, e, neg)) return detail::AppendFixedPrintf(out, v, w, d);
    // Below 2^-64 (< 0.5e-9) every value rounds to zero at 9 decimals or fewer.
    const bool tiny = -e > 127;
    if (e >= 0) { // an integer: its leading digits, zeros, then d zero decimals
      LeadingDigits ld = detail::LeadingIntegerDigits(m, e, FixedSignificant);
      int shown = ld.count < FixedSignificant ? ld.count : FixedSignificant;
      int len = (neg ? 1 : 0) + ld.count + (d > 0 ? d + 1 : 0);
      if (len < w) out.append(static_cast<size_t>(w - len), ' ');
      if (neg) out += '-';
      out.append(ld.digits, static_cast<size_t>(shown));
      out.append(static_cast<size_t>(ld.count - shown), '0');
      if (d > 0) {
        out += '.';
        out.append(static_cast<size_t>(d), '0');
      }
      return;
    }
    if (!tiny) q = ShiftRound(u128(m) * Pow10[d], -e);
  }
  char buf[64];
  char* p = buf + sizeof buf;
  // Digits from the right; 128-bit division is slow, so the high part is split off first.
  uint64_t high = 0, low = static_cast<uint64_t>(q);
  if ((q >> 64) != 0 || low >= Pow10[19]) {
    Split19(q, high, low);
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

// " d.ddddddddddddddE+xxxx" (23 characters) from the 15 digits of n, in one append.
void AppendSciDigits(std::string& out, bool neg, uint64_t n, int E) {
  char buf[23];
  for (int k = 16; k >= 3; --k) {
    buf[k] = static_cast<char>('0' + n % 10);
    n /= 10;
  }
  buf[0] = neg ? '-' : ' ';
  buf[1] = static_cast<char>('0' + n);
  buf[2] = '.';
  int a = E < 0 ? -E : E;
  buf[17] = 'E';
  buf[18] = E < 0 ? '-' : '+';
  buf[19] = static_cast<char>('0' + a / 1000 % 10);
  buf[20] = static_cast<char>('0' + a / 100 % 10);
  buf[21] = static_cast<char>('0' + a / 10 % 10);
  buf[22] = static_cast<char>('0' + a % 10);
  out.append(buf, sizeof buf);
}

// Scientific form of the integer m * 2^e: the first 15 digits, rounded half to even on the rest.
void AppendSciInteger(std::string& out, bool neg, uint64_t m, int e) {
  LeadingDigits ld = detail::LeadingIntegerDigits(m, e, 15);
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
    if (q < -19 || q > 19 || -e > 127) break;
    u128 D;
    if (q >= 0) {
      D = ShiftRound(u128(m) * Pow10[q], -e);
    } else { // v from 10^15 up to 2^63: m / (10^-q * 2^-e), rounded half to even
      u128 den = u128(Pow10[-q]) << -e;
      D = u128(m) / den;
      u128 r = u128(m) % den, half = den / 2;
      if (r > half || (r == half && (D & 1))) ++D; // den is even: half is exact
    }
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
