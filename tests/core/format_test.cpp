#include <cmath>
#include <cstdio>
#include <ctime>
#include <gtest/gtest.h>
#include <random>
#include <string>

#include "core/clock.h"
#include "core/errors.h"
#include "core/format.h"
#include "core/real6.h"
#include "core/textio.h"

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

// The reseed of every generation reads the time of day as the digits hhmmss.
TEST(Clock, TimeOfDayIsTheLocalTimeAsHhmmss) {
  auto hhmmss = [] {
    std::time_t now = std::time(nullptr);
    std::tm tm{};
    localtime_r(&now, &tm);
    return tm.tm_hour * 10000 + tm.tm_min * 100 + tm.tm_sec;
  };
  const int before = hhmmss(), read = SystemClock().TimeOfDay(), after = hhmmss();
  EXPECT_TRUE(read == before || read == after) << before << " " << read << " " << after;
}

// Where a fast form can go wrong: ties, neighbours of powers of ten and of halfway points, every
// magnitude, and integers beyond 2^64 up to the top of the range (wealth compounds in long runs).
static std::vector<long double> Values() {
  using L = std::numeric_limits<long double>;
  std::vector<long double> vs = {0.0L,    -0.0L,           -0.000005L, 123456.12345L,        1e300L,
                                 1e-300L, L::denorm_min(), L::max(),   999999999999999.5e20L};
  for (int n = 1; n <= 24; ++n) // exact ties at 5 and at 15 digits: k / 2^n
    for (int k = 1; k <= 200; ++k) vs.push_back(std::ldexp(k * 1.0L, -n));
  for (int p = -8; p <= 16; ++p) { // the decimal exponent and the rounding carry change here
    long double t = std::pow(10.0L, p), lo = t, hi = t;
    for (int k = 0; k < 4; ++k, lo = std::nextafterl(lo, 0), hi = std::nextafterl(hi, 1e30L))
      vs.insert(vs.end(), {lo, hi, -lo, -hi, t * (1 - 4e-16L), t * (1 - 6e-16L)});
  }
  std::mt19937_64 rng(20240611);
  auto mant = [&](int k) { return (k % 2 ? 1 : -1) * (1 + std::ldexp(rng() * 1.0L, -64)); };
  for (int k = 0; k < 40000; ++k) { // every binary magnitude from 2^-140 to 2^80
    long double v = std::ldexp(mant(k), static_cast<int>(rng() % 221) - 140);
    vs.insert(vs.end(), {v, static_cast<double>(v), k / 7.0L - 3000});
  }
  for (int k = 0; k < 20000; ++k) // mostly below 2^1300, one in 20 anywhere
    vs.push_back(std::ldexp(mant(k), 62 + int(rng() % (k % 20 ? 1240 : 16321))));
  for (int exp = 60; exp <= 70; ++exp) vs.push_back(std::ldexp(1.0L, exp)); // exact powers
  for (int k = 0; k < 4000; ++k) { // within a few units of a tie at 15 or 21 digits
    const int keep = k % 2 ? 21 : 15;
    long double q = std::pow(10.0L, keep - 1) * (1 + (rng() % 8999) / 1000.0L);
    long double v = (std::floor(q) + 0.5L) * std::pow(10.0L, static_cast<int>(rng() % 300) + 1);
    for (int step = 0; step < 4; ++step, v = std::nextafterl(v, 0))
      vs.insert(vs.end(), {v, std::nextafterl(v, 1e4000L)});
  }
  for (int s = 1; s <= 5; ++s) // exact integer ties at 15 digits: (q + 1/2) 10^s
    for (int k = 0; k < 400; ++k)
      vs.push_back(
          std::ldexp((2 * (1e14L + rng() % 900000000000000ull) + 1) * std::pow(5.0L, s), s - 1));
  return vs;
}

// Beyond 21 digits: the first 21 significant ones (printf's "%.20Le", half to even), then zeros.
static std::string LargeFixedReference(long double v, int d) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "|%.20Le", v);
  std::string s = buf, text = s.substr(0, s.find('e'));
  text.erase(text.find('.'), 1);
  text.append(std::stoi(s.substr(s.find('e') + 1)) - 20, '0');
  return d > 0 ? text + "." + std::string(d, '0') : text;
}

TEST(FormatEquivalence, FastFormsGiveTheReferenceText) {
  auto text = [](auto append, auto... args) {
    std::string s = "|"; // appended to what is there
    append(s, args...);
    return s;
  };
  for (long double v : Values()) {
    ASSERT_EQ(text(AppendSci23, v), text(detail::AppendSci23Printf, v));
    for (auto [w, d] : {std::pair{12, 5}, {7, 3}, {15, 5}, {5, 2}, {9, 5}, {0, 0}, {3, 9}})
      ASSERT_EQ(text(AppendFixed, v, w, d), std::fabs(v) >= 1e21L
                                                ? LargeFixedReference(v, d)
                                                : text(detail::AppendFixedPrintf, v, w, d));
  }
  long double big = std::ldexp(0xC90FDAA22168C234ull * 1.0L, 220), back = 0; // about 2.44e85
  std::string s = FormatFixed(big, 12, 5);
  EXPECT_EQ(s, "244122972806950889746" + std::string(65, '0') + ".00000");
  ASSERT_TRUE(ParseReal(s, back)); // 21 digits suffice to read it back exactly
  EXPECT_EQ(back, big);
  EXPECT_EQ(FormatFixed(1e21L, 0, 1), "1000000000000000000000.0");
}
