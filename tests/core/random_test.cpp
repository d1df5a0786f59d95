#include <ctime>
#include <gtest/gtest.h>

#include "core/clock.h"
#include "core/random.h"

using namespace zupo;

// Expected draws worked out with s := (s * 134775813 + 1) mod 2^32, draw = (N * s) >> 32.
TEST(Random, FirstDrawsForAFixedSeed) {
  Rng r{12345};
  for (int e : {38, 28, 7, 55, 63, 34}) EXPECT_EQ(r.Random(100), e);
  EXPECT_EQ(r.Random(0), 0); // draws 0 but the seed still advances
  EXPECT_EQ(r.Seed, 1889648464u);
  for (auto [n, e] : {std::pair{1000, 79}, {500, 16}, {2147483647, 1982393110}, {1, 0}})
    EXPECT_EQ(r.Random(n), e) << n;
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
