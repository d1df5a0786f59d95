// Statistics checked against values computed independently (a pure-Python script using its own
// formulas: Gram-Schmidt least squares for the ARCH regression, closed-form chi-squared tails).
#include <cmath>
#include <cstdint>
#include <gtest/gtest.h>
#include <numbers>
#include <vector>

#include "report/stats.h"

namespace zupo {
namespace {

// The series of the reference script: a 32-bit LCG, uniforms (s + 0.5) / 2^32, Box-Muller pairs.
std::vector<double> Normals(uint32_t s, size_t n) {
  auto uniform = [&s] {
    s = s * 1664525u + 1013904223u;
    return (s + 0.5) / 4294967296.0;
  };
  std::vector<double> out;
  while (out.size() < n) {
    double u1 = uniform(), u2 = uniform();
    double r = std::sqrt(-2 * std::log(u1));
    out.push_back(r * std::cos(2 * std::numbers::pi * u2));
    out.push_back(r * std::sin(2 * std::numbers::pi * u2));
  }
  out.resize(n);
  return out;
}

// ARCH(1): e(t) = sqrt(0.2 + 0.7 e(t-1)^2) z(t): volatility clusters, fat tails.
std::vector<double> ArchSeries(uint32_t seed, size_t n) {
  std::vector<double> z = Normals(seed, n), e;
  double prev = 0;
  for (double v : z) {
    prev = std::sqrt(0.2 + 0.7 * prev * prev) * v;
    e.push_back(prev);
  }
  return e;
}

// Relative agreement to 1e-9; p-values below 1e-200 count as zero (they underflow differently).
void Near(double got, double want, size_t what) {
  if (want == 0) {
    EXPECT_LT(std::fabs(got), 1e-200) << what;
    return;
  }
  EXPECT_NEAR(got, want, 1e-9 * std::fabs(want) + 1e-15) << what;
}

TEST(Stats, EveryStatisticOfTheReferenceSeriesMatchesTheIndependentValue) {
  struct Expected {
    const char* Name;
    std::vector<double> X;
    // Mean, sd, skewness, excess kurtosis, Jarque-Bera and p, acf 1..3, Ljung-Box of x and p,
    // of |x| and p, ARCH LM and p, Hill.
    std::vector<double> Want;
  };
  const Expected series[] = {
      {"iid_normal",
       Normals(12345, 500),
       {-0.019787601329564, 0.900715826423432, -0.254132972101611, 0.461883369706538,
        9.82646910933871, 0.00734868014001674, 0.0161611821413676, 0.0261545999930132,
        0.0498634323881971, 4.82047167969422, 0.902843374205582, 7.55394352543901,
        0.672316519070129, 3.11680899079931, 0.681982880889448, 5.29930630749165}},
      {"arch1",
       ArchSeries(777, 500),
       {0.0109662130776852, 0.853859870946877, 0.772645219804002, 14.6058035099967,
        4494.11288990367, 0, -0.0692320547661599, -0.0616235246755704, 0.125844838270993,
        16.8842601385655, 0.0769645614288471, 228.329474052446, 1.92375712949477e-43,
        189.730415244229, 4.4610469241124e-39, 2.80647746789299}},
  };
  for (const Expected& e : series) {
    SCOPED_TRACE(e.Name);
    Moments m = ComputeMoments(e.X);
    TestResult jb = JarqueBera(e.X), lb = LjungBox(e.X, 10), arch = ArchLm(e.X, 5);
    std::vector<double> acf = Autocorrelations(e.X, 3), absx;
    for (double v : e.X) absx.push_back(std::fabs(v));
    TestResult lba = LjungBox(absx, 10);
    const double got[] = {
        m.Mean, m.Sd,    m.Skew, m.ExKurt, jb.Stat, jb.P,      acf[0], acf[1],
        acf[2], lb.Stat, lb.P,   lba.Stat, lba.P,   arch.Stat, arch.P, HillTailIndex(e.X, 0.05)};
    for (size_t i = 0; i < std::size(got); ++i) Near(got[i], e.Want.at(i), i);
  }
}

// Flat or short series; lags beyond the series are undefined, the others are not.
TEST(Stats, UndefinedWhereTheSeriesCannotDefineThem) {
  const std::vector<double> flat(50, 3.0), few{0.1, -0.2, 0.3}, acf = Autocorrelations(few, 4);
  for (double v : {Autocorrelations(flat, 1)[0], ArchLm(flat, 5).Stat, HillTailIndex(flat, 0.05),
                   LjungBox(few, 10).P, ArchLm(few, 5).P, HillTailIndex(few, 0.05), acf[3],
                   ComputeMoments(std::vector<double>{1.0}).Sd})
    EXPECT_TRUE(std::isnan(v)) << v;
  EXPECT_FALSE(std::isnan(acf[1]));
}

} // namespace
} // namespace zupo
