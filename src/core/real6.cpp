#include "core/real6.h"

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

#include "core/errors.h"

namespace zupo {

static_assert(sizeof(long double) >= 10 && std::numeric_limits<long double>::digits == 64,
              "the 6-byte rounding works on the 80-bit extended format");

double Round6(long double x) {
  // Works on the bits of the 80-bit value: a 64-bit mantissa with an explicit leading one and a
  // 15-bit biased exponent. It is called for every stored 6-byte field, so it avoids frexp/ldexp.
  uint64_t mant = 0;
  uint16_t signExp = 0;
  std::memcpy(&mant, &x, 8);
  std::memcpy(&signExp, reinterpret_cast<const char*>(&x) + 8, 2);
  const bool negative = (signExp & 0x8000) != 0;
  int exp = signExp & 0x7fff;
  if (exp == 0x7fff) {
    if ((mant << 1) != 0) throw FloatError("Invalid floating point operation");
    throw FloatError("Floating point overflow");
  }
  if (mant == 0 || exp == 0) return 0.0; // zeros and denormals: far below the range
  int e = exp - 16383;                   // x = 1.f * 2^e
  if (e < -128) return 0.0;              // below 2^-128 stores as 0
  // Keep 40 significant bits, rounding the other 24 to nearest, ties to even.
  uint64_t hi = mant >> 24;
  const uint64_t low = mant & 0xffffff;
  if (low > 0x800000 || (low == 0x800000 && (hi & 1))) ++hi;
  if (hi == (uint64_t{1} << 40)) {
    hi >>= 1;
    ++e;
  }
  if (e > 126) throw FloatError("Floating point overflow");
  // The same value as a double: 52 stored mantissa bits, of which the top 39 are used.
  const uint64_t bits = (negative ? uint64_t{1} << 63 : 0) | (uint64_t(e + 1023) << 52) |
                        ((hi & ((uint64_t{1} << 39) - 1)) << 13);
  return std::bit_cast<double>(bits);
}

} // namespace zupo
