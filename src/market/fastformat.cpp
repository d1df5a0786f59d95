#include "market/fastformat.h"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

#include "core/format.h"

namespace zupo {

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

void AppendFixedFast(std::string& out, long double v, int w, int d) {
  uint64_t m = 0;
  int e = 0;
  bool neg = std::signbit(v);
  u128 q = 0;
  if (d < 0 || d > 9) return AppendFixed(out, v, w, d);
  if (v != 0) {
    if (!Split(v, m, e, neg) || e >= 0 || -e > 127) return AppendFixed(out, v, w, d);
    q = ShiftRound(u128(m) * Pow10[d], -e);
    if (q >> 64) return AppendFixed(out, v, w, d);
  }
  uint64_t n = static_cast<uint64_t>(q);
  char buf[48];
  char* p = buf + sizeof buf;
  for (int k = 0; k < d; ++k) {
    *--p = static_cast<char>('0' + n % 10);
    n /= 10;
  }
  if (d > 0) *--p = '.';
  do {
    *--p = static_cast<char>('0' + n % 10);
    n /= 10;
  } while (n != 0);
  if (neg) *--p = '-';
  size_t len = static_cast<size_t>(buf + sizeof buf - p);
  if (len < static_cast<size_t>(w)) out.append(static_cast<size_t>(w) - len, ' ');
  out.append(p, len);
}

void AppendSci23Fast(std::string& out, long double v) {
  if (v == 0) {
    out += std::signbit(v) ? '-' : ' ';
    out += "0.00000000000000E+0000";
    return;
  }
  uint64_t m = 0;
  int e = 0;
  bool neg = false;
  if (!Split(v, m, e, neg)) return AppendSci23(out, v);
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
    uint64_t n = static_cast<uint64_t>(D);
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
    char tail[6] = {'E', E < 0 ? '-' : '+', static_cast<char>('0' + a / 1000 % 10),
                    static_cast<char>('0' + a / 100 % 10), static_cast<char>('0' + a / 10 % 10),
                    static_cast<char>('0' + a % 10)};
    out.append(tail, 6);
    return;
  }
  AppendSci23(out, v);
}

} // namespace zupo
