#include <gtest/gtest.h>

#include "core/clock.h"
#include "core/random.h"

namespace zupo {
namespace {

// Expected draws worked out with s := (s * 134775813 + 1) mod 2^32, draw = (N * s) >> 32.
TEST(Random, FirstDrawsForAFixedSeed) {
  Rng r;
  r.Seed = 12345;
  const int expected[] = {38, 28, 7, 55, 63, 34};
  for (int e : expected) EXPECT_EQ(r.Random(100), e);
  EXPECT_EQ(r.Seed, 1467157059u);
}

TEST(Random, ZeroAndOneDrawZeroButAdvanceTheSeed) {
  Rng r;
  r.Seed = 1467157059u; // continues the sequence above
  EXPECT_EQ(r.Random(0), 0);
  EXPECT_EQ(r.Seed, 1889648464u);
  EXPECT_EQ(r.Random(1000), 79);
  EXPECT_EQ(r.Random(500), 16);
  EXPECT_EQ(r.Random(2147483647), 1982393110);
  EXPECT_EQ(r.Random(1), 0);
  EXPECT_EQ(r.Seed, 4186008300u);
}

TEST(Random, SeedWrapsModulo2To32) {
  Rng r;
  r.Seed = 0xFFFFFFFFu;
  EXPECT_EQ(r.Random(10), 9);
  EXPECT_EQ(r.Seed, 4160191484u);
  r.Seed = 0;
  EXPECT_EQ(r.Random(2147483647), 0); // the seed becomes 1: 2^31-1 >> 32 = 0
  EXPECT_EQ(r.Seed, 1u);
}

bool ValidTimeOfDay(int32_t t) {
  return t >= 0 && t / 10000 < 24 && t / 100 % 100 < 60 && t % 100 < 60;
}

TEST(Clock, FixedClockRepeatsAndBothGiveValidReadings) {
  FixedClock a(42), b(42), c(43);
  for (int i = 0; i < 100; ++i) {
    uint32_t s = a.SeedReading();
    EXPECT_EQ(s, b.SeedReading());
    EXPECT_NE(s, c.SeedReading());
    int32_t t = a.TimeOfDay();
    EXPECT_EQ(t, b.TimeOfDay());
    EXPECT_TRUE(ValidTimeOfDay(t)) << t;
    c.TimeOfDay();
  }
  FixedClock d(42);
  EXPECT_NE(d.SeedReading(), d.SeedReading()); // readings move on
  SystemClock sys;
  EXPECT_LT(sys.SeedReading(), 86400000u); // milliseconds of one day
  EXPECT_TRUE(ValidTimeOfDay(sys.TimeOfDay()));
}

} // namespace
} // namespace zupo
