#include "core/clock.h"

#include <ctime>
#include <gtest/gtest.h>

using namespace zupo;

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
