#include <cmath>
#include <cstdio>
#include <gtest/gtest.h>
#include <random>
#include <string>

#include "core/format.h"
#include "core/textio.h"

using namespace zupo;

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
