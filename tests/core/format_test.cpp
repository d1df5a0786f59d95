#include <gtest/gtest.h>

#include "core/format.h"

using namespace zupo;

TEST(Format, FixedAndIntAreRightAlignedAndWidenedWhenNeeded) {
  EXPECT_EQ(FormatFixed(80.5, 7, 3), " 80.500");
  EXPECT_EQ(FormatFixed(1234.5, 7, 3), "1234.500");
  EXPECT_EQ(FormatFixed(-1234.5, 7, 3), "-1234.500");
  EXPECT_EQ(FormatFixed(10000, 9, 5), "10000.00000");
  EXPECT_EQ(FormatFixed(-0.07, 4, 2), "-0.07");
  EXPECT_EQ(FormatFixed(0.0015, 7, 3), "  0.002"); // the double is just above 0.0015
  EXPECT_EQ(FormatFixed(2.675, 6, 2), "  2.67");   // the double is just below 2.675
  EXPECT_EQ(FormatFixed(42.4, 5, 0), "   42");
  EXPECT_EQ(FormatInt(-7, 4), "  -7");
  EXPECT_EQ(FormatInt(123456, 3), "123456");
  EXPECT_EQ(FormatInt(-9223372036854775807LL - 1), "-9223372036854775808");
  std::string s = "T";
  AppendInt(s, 12, 4);
  AppendFixed(s, -2.5L, 8, 3);
  AppendSci23(s, -2.5L);
  EXPECT_EQ(s, "T  12  -2.500-2.50000000000000E+0000");
}

TEST(Format, Sci23IsAlwaysTwentyThreeCharacters) {
  EXPECT_EQ(FormatSci23(1.5), " 1.50000000000000E+0000");
  EXPECT_EQ(FormatSci23(-2.5e-3), "-2.50000000000000E-0003");
  EXPECT_EQ(FormatSci23(1e-300), " 1.00000000000000E-0300");
  EXPECT_EQ(FormatSci23(1e1000L), " 1.00000000000000E+1000");
  EXPECT_EQ(FormatSci23(1.234567890123456), " 1.23456789012346E+0000");
  EXPECT_EQ(FormatSci23(9.999999999999999), " 1.00000000000000E+0001"); // carry into exponent
}

TEST(Format, GeneralUsesFifteenDigitsFixedOrScientific) {
  EXPECT_EQ(FormatGeneral(0), "0");
  EXPECT_EQ(FormatGeneral(1.0L / 3), "0.333333333333333");
  EXPECT_EQ(FormatGeneral(-2.0L / 3), "-0.666666666666667");
  EXPECT_EQ(FormatGeneral(123456789012345), "123456789012345");
  EXPECT_EQ(FormatGeneral(0.0000123456789), "0.0000123456789"); // 1E-5 and up stay fixed
  EXPECT_EQ(FormatGeneral(9.9e-6), "9.9E-6");
  EXPECT_EQ(FormatGeneral(-1.5e-7), "-1.5E-7");
  EXPECT_EQ(FormatGeneral(1e15), "1E15"); // sixteen integer digits
  EXPECT_EQ(FormatGeneral(1234567890123456), "1.23456789012346E15");
  EXPECT_EQ(FormatGeneral(999999999999999.9), "1E15"); // rounds up to 16 integer digits
  EXPECT_EQ(FormatGeneral(-2.5e300), "-2.5E300");
}
