#pragma once
#include <cstdint>

namespace zupo {

// The clock readings the run seeds its random generator from.
class Clock {
public:
  virtual ~Clock() = default;
  // A reading for a full reseed (start-up and every market clearing).
  virtual uint32_t SeedReading() = 0;
  // The time of day as the integer of the digits hhnnss (14:05:09 -> 140509).
  virtual int32_t TimeOfDay() = 0;
};

// The system clock.
class SystemClock : public Clock {
public:
  uint32_t SeedReading() override;
  int32_t TimeOfDay() override;
};

// A deterministic clock for reproducible runs and tests: readings derived from a seed and a
// counter, never from the time.
class FixedClock : public Clock {
public:
  explicit FixedClock(uint32_t seed) : seed_(seed) {}
  uint32_t SeedReading() override;
  int32_t TimeOfDay() override;

private:
  uint32_t seed_;
  uint32_t calls_ = 0;
};

} // namespace zupo
