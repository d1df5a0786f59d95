#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <gtest/gtest.h>
#include <random>
#include <string>

#include "core/format.h"
#include "core/textio.h"

using namespace zupo;

// Where a fast form can go wrong: ties, neighbours of powers of ten, every magnitude.
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
  // Integers beyond 2^63 up to the top of the range (wealth compounds over a long run).
  for (int k = 0; k < 3000; ++k)
    vs.push_back(std::ldexp(mant(k), 62 + int(rng() % (k < 2900 ? 400 : 16321))));
  for (int exp = 60; exp <= 70; ++exp) vs.push_back(std::ldexp(1.0L, exp)); // exact powers
  return vs;
}

// Integers of more than 21 digits are written with their first 21 significant digits (rounded
// half to even) and zeros; printf's "%.20Le" gives those digits. No width here is that wide.
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

// The flat-cost digits of large integers against the exact big-integer method, over random
// 80-bit values of every binary magnitude, values within a few units of a halfway point, and
// exact ties. ZUPO_FORMAT_SAMPLES sets the number of random values (default 2,000,000).
TEST(FormatEquivalence, FlatCostDigitsEqualTheExactDigits) {
  long samples = 2000000;
#if defined(__SANITIZE_ADDRESS__)
  samples = 200000;
#endif
  if (const char* env = std::getenv("ZUPO_FORMAT_SAMPLES")) samples = std::atol(env);
  std::mt19937_64 rng(7);
  long checked = 0, failed = 0;
  auto check = [&](uint64_t m, int e, int keep) {
    ++checked;
    detail::LeadingDigits a = detail::LeadingIntegerDigits(m, e, keep);
    detail::LeadingDigits b = detail::LeadingIntegerDigitsExact(m, e, keep);
    // An integer of fewer digits than keep has only its own digits.
    std::string got(a.digits, std::min(a.count, keep)), want(b.digits, std::min(b.count, keep));
    if ((got != want || a.count != b.count) && ++failed <= 10)
      ADD_FAILURE() << std::hex << m << std::dec << " * 2^" << e << ", " << keep
                    << " digits: " << got << " (" << a.count << ") instead of " << want << " ("
                    << b.count << ")";
  };
  for (long k = 0; k < samples; ++k) {
    uint64_t m = rng() | (uint64_t(1) << 63);
    // Most values where the exact method is quick; one in 500 anywhere up to the top of the range.
    int e = k % 500 == 0 ? static_cast<int>(rng() % 16321) : static_cast<int>(rng() % 1200);
    check(m, e, k % 2 ? 21 : 15);
  }
  // Near ties: (q + 1/2) * 10^s rounded to 80 bits, and its neighbours.
  for (int k = 0; k < 20000; ++k) {
    int keep = k % 2 ? 21 : 15;
    long double q = std::pow(10.0L, keep - 1) * (1 + (rng() % 8999) / 1000.0L);
    long double v = (std::floor(q) + 0.5L) * std::pow(10.0L, static_cast<int>(rng() % 300) + 1);
    for (int step = -3; step <= 3; ++step) {
      long double u = v;
      for (int j = 0; j < std::abs(step); ++j) u = std::nextafterl(u, step < 0 ? 0 : 1e4000L);
      int x = 0; // u = f * 2^x, f in [0.5, 1)
      const long double f = std::frexp(u, &x);
      if (x >= 64) check(static_cast<uint64_t>(std::ldexp(f, 64)), x - 64, keep);
    }
  }
  // Exact ties at 15 digits, (q + 1/2) * 10^s = (2q + 1) * 5^s * 2^(s-1), where that is an
  // integer m * 2^e with a 64-bit m. (Beyond 2^64 no tie of 15 or 21 digits fits 64 bits.)
  long ties = 0;
  for (int s = 1; s <= 5; ++s)
    for (int k = 0; k < 4000; ++k) {
      uint64_t q = 100000000000000ull + rng() % 900000000000000ull, p5 = 1;
      for (int j = 0; j < s; ++j) p5 *= 5;
      if ((2 * q + 1) > ~uint64_t(0) / p5) continue;
      uint64_t odd = (2 * q + 1) * p5;
      int shift = __builtin_clzll(odd);
      if (s - 1 - shift < 0) continue;
      check(odd << shift, s - 1 - shift, 15);
      ++ties;
    }
  EXPECT_GT(ties, 1000);
  EXPECT_GT(checked, samples);
  EXPECT_EQ(failed, 0);
}
