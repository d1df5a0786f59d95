#include <cmath>
#include <gtest/gtest.h>

#include "core/errors.h"
#include "core/real6.h"

using namespace zupo;

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
