#include <gtest/gtest.h>

#include "core/format.h"

namespace zupo {
namespace {

TEST(FormatFixed, RightAlignedAndWidenedWhenNeeded) {
  EXPECT_EQ(FormatFixed(80.5, 7, 3), " 80.500");
  EXPECT_EQ(FormatFixed(1234.5, 7, 3), "1234.500");
  EXPECT_EQ(FormatFixed(-1234.5, 7, 3), "-1234.500");
  EXPECT_EQ(FormatFixed(-0.07, 4, 2), "-0.07");
  EXPECT_EQ(FormatFixed(10000, 9, 5), "10000.00000");
  EXPECT_EQ(FormatFixed(0, 7, 3), "  0.000");
  EXPECT_EQ(FormatFixed(3.14159, 7, 3), "  3.142");
  EXPECT_EQ(FormatFixed(0.0015, 7, 3), "  0.002"); // the double is just above 0.0015
  EXPECT_EQ(FormatFixed(2.675, 6, 2), "  2.67");   // the double is just below 2.675
  EXPECT_EQ(FormatFixed(42.4, 5, 0), "   42");
}

TEST(FormatFixed, HugeValuesAndAppending) {
  std::string s = FormatFixed(1e120L, 7, 3); // longer than any fixed buffer
  EXPECT_EQ(s.size(), 125u);
  EXPECT_EQ(s.substr(0, 15), "100000000000000");
  EXPECT_EQ(s.substr(121), ".000");
  std::string line = "P=";
  AppendFixed(line, 80.5, 7, 3);
  line += "  ";
  AppendFixed(line, 1.25, 7, 3);
  EXPECT_EQ(line, "P= 80.500    1.250");
}

TEST(FormatSci23, SpaceOrSignDigitPointFourteenDigitsFourDigitExponent) {
  EXPECT_EQ(FormatSci23(1.5), " 1.50000000000000E+0000");
  EXPECT_EQ(FormatSci23(-2.5e-3), "-2.50000000000000E-0003");
  EXPECT_EQ(FormatSci23(0), " 0.00000000000000E+0000");
  EXPECT_EQ(FormatSci23(1e-300), " 1.00000000000000E-0300");
  EXPECT_EQ(FormatSci23(12345.678), " 1.23456780000000E+0004");
  EXPECT_EQ(FormatSci23(-1.7e38), "-1.70000000000000E+0038");
  EXPECT_EQ(FormatSci23(0.1), " 1.00000000000000E-0001");
  EXPECT_EQ(FormatSci23(1e1000L), " 1.00000000000000E+1000");
}

TEST(FormatSci23, RoundsAtTheFifteenthDigitAndKeepsTheWidth) {
  EXPECT_EQ(FormatSci23(1.234567890123456), " 1.23456789012346E+0000");
  EXPECT_EQ(FormatSci23(1.234567890123449), " 1.23456789012345E+0000");
  EXPECT_EQ(FormatSci23(9.999999999999999), " 1.00000000000000E+0001"); // carry into exponent
  EXPECT_EQ(FormatSci23(123456789.987654321), " 1.23456789987654E+0008");
  const long double values[] = {7, -7, 1e-9L, -1e37L, 99.5, 1.0L / 3, -2e-38L};
  for (long double v : values) EXPECT_EQ(FormatSci23(v).size(), 23u) << static_cast<double>(v);
  std::string line;
  AppendSci23(line, 2);
  AppendSci23(line, -2);
  EXPECT_EQ(line, " 2.00000000000000E+0000-2.00000000000000E+0000");
}

TEST(FormatGeneral, FixedUpToFifteenDigitsShortest) {
  EXPECT_EQ(FormatGeneral(80), "80");
  EXPECT_EQ(FormatGeneral(80.123), "80.123");
  EXPECT_EQ(FormatGeneral(-80.5), "-80.5");
  EXPECT_EQ(FormatGeneral(0), "0");
  EXPECT_EQ(FormatGeneral(100), "100");
  EXPECT_EQ(FormatGeneral(0.1), "0.1");
  EXPECT_EQ(FormatGeneral(1.0L / 3), "0.333333333333333");
  EXPECT_EQ(FormatGeneral(-2.0L / 3), "-0.666666666666667");
  EXPECT_EQ(FormatGeneral(123456789012345), "123456789012345");
  EXPECT_EQ(FormatGeneral(0.00001), "0.00001"); // the smallest fixed-form value
  EXPECT_EQ(FormatGeneral(0.0000123456789), "0.0000123456789");
}

TEST(FormatGeneral, ScientificBelowTenToMinusFiveOrAboveFifteenIntegerDigits) {
  EXPECT_EQ(FormatGeneral(0.000001), "1E-6");
  EXPECT_EQ(FormatGeneral(9.9e-6), "9.9E-6");
  EXPECT_EQ(FormatGeneral(1.5e-7), "1.5E-7");
  EXPECT_EQ(FormatGeneral(-1.5e-7), "-1.5E-7");
  EXPECT_EQ(FormatGeneral(1e20), "1E20");
  EXPECT_EQ(FormatGeneral(1e15), "1E15");
  EXPECT_EQ(FormatGeneral(1234567890123456), "1.23456789012346E15");
  EXPECT_EQ(FormatGeneral(-2.5e300), "-2.5E300");
  EXPECT_EQ(FormatGeneral(999999999999999.9), "1E15"); // rounds to 16 integer digits
}

TEST(FormatInt, PlainOrRightAligned) {
  EXPECT_EQ(FormatInt(0), "0");
  EXPECT_EQ(FormatInt(-42), "-42");
  EXPECT_EQ(FormatInt(500), "500");
  EXPECT_EQ(FormatInt(42, 5), "   42");
  EXPECT_EQ(FormatInt(-7, 4), "  -7");
  EXPECT_EQ(FormatInt(123456, 3), "123456");
  EXPECT_EQ(FormatInt(-9223372036854775807LL - 1), "-9223372036854775808");
  std::string s = "T";
  AppendInt(s, 12, 4);
  EXPECT_EQ(s, "T  12");
}

} // namespace
} // namespace zupo
