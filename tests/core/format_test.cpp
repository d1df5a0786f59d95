#include <cmath>
#include <gtest/gtest.h>

#include "core/errors.h"
#include "core/format.h"
#include "core/real6.h"

using namespace zupo;

// Fixed and Int widen when needed (0.0015 is stored above the tie, 2.675 below); Sci23 is 23 wide
// (a carry reaches the exponent); General: 15 digits, fixed from 1E-5 to 15 integer digits.
TEST(Format, EveryNotationGivesTheExactText) {
  using Fx = std::tuple<long double, int, int, const char*>;
  for (auto [v, w, d, e] :
       {Fx(80.5, 7, 3, " 80.500"), Fx(1234.5, 7, 3, "1234.500"), Fx(-1234.5, 7, 3, "-1234.500"),
        Fx(10000, 9, 5, "10000.00000"), Fx(-0.07, 4, 2, "-0.07"), Fx(0.0015, 7, 3, "  0.002"),
        Fx(2.675, 6, 2, "  2.67"), Fx(42.4, 5, 0, "   42")})
    EXPECT_EQ(FormatFixed(v, w, d), e);
  EXPECT_EQ(FormatInt(-7, 4), "  -7");
  EXPECT_EQ(FormatInt(123456, 3), "123456");
  EXPECT_EQ(FormatInt(-9223372036854775807LL - 1), "-9223372036854775808");
  using VT = std::pair<long double, const char*>;
  for (auto [v, e] :
       {VT(1.5, " 1.50000000000000E+0000"), VT(-2.5e-3, "-2.50000000000000E-0003"),
        VT(1e1000L, " 1.00000000000000E+1000"), VT(1.234567890123456, " 1.23456789012346E+0000"),
        VT(9.999999999999999, " 1.00000000000000E+0001")})
    EXPECT_EQ(FormatSci23(v), e);
  for (auto [v, e] :
       {VT(0, "0"), VT(1.0L / 3, "0.333333333333333"), VT(-2.0L / 3, "-0.666666666666667"),
        VT(123456789012345, "123456789012345"), VT(0.0000123456789, "0.0000123456789"),
        VT(9.9e-6, "9.9E-6"), VT(1e15, "1E15"), VT(1234567890123456, "1.23456789012346E15"),
        VT(999999999999999.9, "1E15"), VT(-2.5e300, "-2.5E300")})
    EXPECT_EQ(FormatGeneral(v), e);
}

static const auto P2 = [](int e) { return std::ldexp(1.0L, e); };
using InOut = std::pair<long double, long double>;

TEST(Real6, FortyBitsTiesToEvenAndTheEndsOfTheRange) {
  const long double max = P2(127) * (1 - P2(-40)); // 40 one bits
  // Ties down and up to even, just above ties, a decimal fraction (0.1 becomes
  // 879609302221 * 2^-43), the smallest magnitude, just below it (0), the max, a bit past it.
  for (auto [in, out] :
       {InOut(1 + P2(-40), 1), InOut(1 + 3 * P2(-40), 1 + P2(-38)),
        InOut(-(1 + 3 * P2(-40)), -(1 + P2(-38))), InOut(1 + 3 * P2(-41), 1 + P2(-39)),
        InOut(P2(100) * (1 + P2(-40) + P2(-60)), P2(100) * (1 + P2(-39))),
        InOut(0.1L, 0x1.999999999ap-4), InOut(-P2(-128), -P2(-128)),
        InOut(P2(-128) * (1 - P2(-60)), 0), InOut(max, max), InOut(-max - P2(80), -max)})
    EXPECT_EQ(Round6(in), out) << static_cast<double>(in);
  EXPECT_FALSE(std::signbit(Round6(-P2(-129)))); // below the range: a plain 0
  // Above the range (the tie at the top rounds up to 2^127) or not finite: FloatError.
  for (long double x : {P2(127) * (1 - P2(-41)), P2(127), -P2(127), 1e300L, (long double)NAN})
    EXPECT_THROW(Round6(x), FloatError) << static_cast<double>(x);
  EXPECT_EQ(Checked(1e4000L), 1e4000L); // beyond a double but finite
  EXPECT_THROW(Checked(-INFINITY), FloatError);
}
