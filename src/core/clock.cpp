#include "core/clock.h"

#include <chrono>
#include <ctime>

namespace zupo {

uint32_t SystemClock::SeedReading() {
  // Milliseconds since midnight, as the platform's Randomize takes them.
  auto now = std::chrono::system_clock::now();
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count();
  return static_cast<uint32_t>(ms % 86400000);
}

int32_t SystemClock::TimeOfDay() {
  std::time_t t = std::time(nullptr);
  std::tm tm{};
  localtime_r(&t, &tm);
  return tm.tm_hour * 10000 + tm.tm_min * 100 + tm.tm_sec;
}

uint32_t FixedClock::SeedReading() {
  return seed_ * 2654435761u + (++calls_) * 40503u;
}

int32_t FixedClock::TimeOfDay() {
  // A valid hhnnss value that moves on with every reading.
  uint32_t s = (seed_ + ++calls_) % 86400u;
  return static_cast<int32_t>((s / 3600) * 10000 + (s / 60 % 60) * 100 + s % 60);
}

} // namespace zupo
