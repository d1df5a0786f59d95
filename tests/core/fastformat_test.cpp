#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <gtest/gtest.h>
#include <random>
#include <vector>

#include "core/format.h"
#include "core/textio.h"

namespace zupo {
namespace {

// The fast forms must give the very text of the reference formatters, whatever the value.
std::vector<long double> Values() {
  std::vector<long double> vs = {0.0L,
                                 -0.0L,
                                 1e-9L,
                                 -1e-9L,
                                 0.000005L,
                                 -0.000005L,
                                 1.5L,
                                 80.5L,
                                 123456.12345L,
                                 1234567.5L,
                                 9.2e13L,
                                 1e14L,
                                 1e15L,
                                 -1e15L,
                                 1e-5L,
                                 9.99999999999999e-6L,
                                 1e19L,
                                 1e300L,
                                 1e-300L,
                                 std::numeric_limits<long double>::denorm_min(),
                                 std::numeric_limits<long double>::max()};
  // Exact ties at 5 and at 15 digits: k / 2^n.
  for (int n = 1; n <= 24; ++n)
    for (int k = 1; k <= 200; ++k) vs.push_back(std::ldexp(static_cast<long double>(k), -n));
  // Near powers of ten, where the decimal exponent and the rounding carry change.
  for (int p = -8; p <= 16; ++p) {
    long double t = std::pow(10.0L, p);
    long double lo = t, hi = t;
    for (int k = 0; k < 3; ++k) {
      lo = std::nextafter(lo, 0.0L);
      hi = std::nextafter(hi, 1e30L);
      vs.insert(vs.end(), {lo, hi, -lo, -hi});
    }
    vs.push_back(t * (1 - 4e-16L));
    vs.push_back(t * (1 - 6e-16L));
  }
  std::mt19937_64 rng(20240611);
  std::uniform_real_distribution<double> unit(-1, 1);
  for (int k = 0; k < 40000; ++k) {
    // Every binary magnitude from 2^-140 to 2^80, with a full random mantissa.
    long double mant = 1 + std::ldexp(static_cast<long double>(rng()), -64);
    int exp = static_cast<int>(rng() % 221) - 140;
    long double v = std::ldexp(mant, exp);
    vs.push_back(rng() % 2 ? v : -v);
    vs.push_back(static_cast<double>(unit(rng) * 1000)); // double values (6-byte fields)
    vs.push_back(static_cast<long double>(k) / 7 - 3000);
  }
  // Integers beyond 2^63 (wealth compounding over a long run), up to the top of the range.
  for (int k = 0; k < 3000; ++k) {
    long double mant = 1 + std::ldexp(static_cast<long double>(rng()), -64);
    int exp = k < 2900 ? 62 + static_cast<int>(rng() % 400) : static_cast<int>(rng() % 16383);
    vs.push_back(std::ldexp(k % 2 ? mant : -mant, exp));
  }
  for (int exp = 60; exp <= 70; ++exp) vs.push_back(std::ldexp(1.0L, exp)); // exact powers
  vs.push_back(999999999999999.5e20L); // rounds up into the next decade at 15 digits
  return vs;
}

// Integers of more than 21 digits are written with their first 21 significant digits (rounded
// half to even) and zeros; printf's "%.20Le" gives those digits.
std::string LargeFixedReference(long double v, int w, int d) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.20Le", v);
  std::string mant(buf, std::strchr(buf, 'e'));
  int exp = std::atoi(std::strchr(buf, 'e') + 1);
  std::string text = mant[0] == '-' ? "-" : "";
  for (char c : mant)
    if (c >= '0' && c <= '9') text += c;
  text.append(static_cast<size_t>(exp - 20), '0');
  if (d > 0) text += "." + std::string(static_cast<size_t>(d), '0');
  if (text.size() < static_cast<size_t>(w))
    text.insert(0, static_cast<size_t>(w) - text.size(), ' ');
  return text;
}

TEST(FormatEquivalence, FixedGivesTheReferenceText) {
  const int forms[][2] = {{12, 5}, {7, 3}, {15, 5}, {5, 2}, {9, 5}, {0, 0}, {3, 9}};
  int checked = 0;
  for (long double v : Values())
    for (const auto& f : forms) {
      std::string fast;
      AppendFixed(fast, v, f[0], f[1]);
      std::string ref;
      if (std::fabs(v) >= 1e21L)
        ref = LargeFixedReference(v, f[0], f[1]);
      else
        detail::AppendFixedPrintf(ref, v, f[0], f[1]);
      ASSERT_EQ(fast, ref) << "width " << f[0] << " decimals " << f[1];
      ++checked;
    }
  EXPECT_GT(checked, 800000);
}

TEST(FormatEquivalence, ScientificGivesTheReferenceText) {
  for (long double v : Values()) {
    std::string fast;
    AppendSci23(fast, v);
    std::string ref;
    detail::AppendSci23Printf(ref, v);
    ASSERT_EQ(fast, ref) << static_cast<double>(v);
  }
}

TEST(FormatEquivalence, LargeIntegersKeepTwentyOneDigitsAndReadBackExactly) {
  long double big = std::ldexp(0xC90FDAA22168C234ull * 1.0L, 220); // about 1.35e85
  std::string s = FormatFixed(big, 12, 5);
  EXPECT_EQ(s.size(), 86u + 6u);
  EXPECT_EQ(s.substr(0, 21), "244122972806950889746"); // 21 significant digits
  EXPECT_EQ(s.substr(21), std::string(65, '0') + ".00000");
  long double back = 0;
  ASSERT_TRUE(ParseReal(s, back));
  EXPECT_EQ(back, big);
  EXPECT_EQ(FormatFixed(1e21L, 0, 1), "1000000000000000000000.0");
}

TEST(FormatEquivalence, AppendsToWhatIsThere) {
  std::string s = "x";
  AppendFixed(s, -2.5L, 8, 3);
  AppendSci23(s, -2.5L);
  EXPECT_EQ(s, "x  -2.500-2.50000000000000E+0000");
}

} // namespace
} // namespace zupo
