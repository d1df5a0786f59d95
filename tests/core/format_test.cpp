#include <gtest/gtest.h>

#include "core/format.h"

using namespace zupo;

// Fixed and Int are right-aligned, widened when needed (0.0015 is stored just above the tie, 2.675
// just below); Sci23 is always 23 characters (a carry can reach the exponent); General has 15
// significant digits, fixed from 1E-5 up to 15 integer digits after rounding, scientific beyond.
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
  std::string s = "T";
  AppendInt(s, 12, 4);
  EXPECT_EQ(s, "T  12");
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
