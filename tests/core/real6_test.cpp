#include <cmath>
#include <gtest/gtest.h>

#include "core/errors.h"
#include "core/real6.h"

namespace zupo {
namespace {

long double P2(int e) {
  return std::ldexp(1.0L, e);
}

TEST(Real6, KeepsFortySignificantBitsTiesToEven) {
  EXPECT_EQ(Round6(1.0L), 1.0);
  EXPECT_EQ(Round6(1 + P2(-39)), 1 + std::ldexp(1.0, -39));           // the last kept bit
  EXPECT_EQ(Round6(1 + P2(-40)), 1.0);                                // tie, down to even
  EXPECT_EQ(Round6(1 + 3 * P2(-41)), 1 + std::ldexp(1.0, -39));       // above the tie
  EXPECT_EQ(Round6(1 + 3 * P2(-40)), 1 + std::ldexp(1.0, -38));       // tie, up to even
  EXPECT_EQ(Round6(1 + P2(-40) + P2(-60)), 1 + std::ldexp(1.0, -39)); // just above a tie
  EXPECT_EQ(Round6(-(1 + 3 * P2(-40))), -(1 + std::ldexp(1.0, -38)));
  EXPECT_EQ(Round6(P2(100) * (1 + P2(-40))), std::ldexp(1.0, 100)); // scale does not matter
}

TEST(Real6, DecimalFractionsAreNotExact) {
  double r = Round6(0.1L);
  EXPECT_NE(r, 0.1);
  EXPECT_LE(std::fabs(r - 0.1) / 0.1, std::ldexp(1.0, -40));
  EXPECT_EQ(r, 0x1.999999999ap-4); // 879609302221 * 2^-43
  EXPECT_EQ(Round6(80.5L), 80.5);  // short binary fractions stay exact
}

TEST(Real6, SmallestMagnitudeAndZero) {
  EXPECT_EQ(Round6(P2(-128)), std::ldexp(1.0, -128));
  EXPECT_EQ(Round6(-P2(-128)), -std::ldexp(1.0, -128));
  EXPECT_EQ(Round6(P2(-128) * (1 + P2(-30))), std::ldexp(1.0, -128) * (1 + std::ldexp(1.0, -30)));
  EXPECT_EQ(Round6(P2(-128) * (1 - P2(-60))), 0.0); // just below the range
  EXPECT_EQ(Round6(1e-45L), 0.0);
  double z = Round6(-P2(-129));
  EXPECT_EQ(z, 0.0);
  EXPECT_FALSE(std::signbit(z));
  EXPECT_FALSE(std::signbit(Round6(-0.0L)));
}

TEST(Real6, LargestMagnitudeAndOverflow) {
  const long double max = P2(127) * (1 - P2(-40)); // 40 one bits
  EXPECT_EQ(Round6(max), static_cast<double>(max));
  EXPECT_EQ(Round6(-max), -static_cast<double>(max));
  EXPECT_EQ(Round6(max + P2(80)), static_cast<double>(max)); // rounds back down to the max
  EXPECT_EQ(Real6Max, max);
  EXPECT_EQ(Real6Min, P2(-128));
  EXPECT_THROW(Round6(P2(127) * (1 - P2(-41))), FloatError); // tie rounds up to 2^127
  EXPECT_THROW(Round6(P2(127)), FloatError);
  EXPECT_THROW(Round6(-P2(127)), FloatError);
  EXPECT_THROW(Round6(1e300L), FloatError);
  EXPECT_THROW(Round6(INFINITY), FloatError);
  EXPECT_THROW(Round6(NAN), FloatError);
  try {
    Round6(1e39L);
    FAIL();
  } catch (const RunError& e) { // a float fault is a run error with a readable message
    EXPECT_STREQ(e.what(), "Floating point overflow");
  }
}

TEST(Real6, CheckedPassesFiniteValuesOnly) {
  EXPECT_EQ(Checked(1e4000L), 1e4000L);
  EXPECT_EQ(Checked(-0.0L), 0.0L);
  EXPECT_THROW(Checked(INFINITY), FloatError);
  EXPECT_THROW(Checked(-INFINITY), FloatError);
  EXPECT_THROW(Checked(NAN), FloatError);
}

} // namespace
} // namespace zupo
