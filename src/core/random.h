#pragma once
#include <cstdint>

namespace zupo {

// The run's single pseudo-random source: a 32-bit linear congruential generator.
struct Rng {
  uint32_t Seed = 0;

  // A uniform integer in 0..N-1 (0 when N <= 0). The seed advances on every call.
  int32_t Random(int32_t N) {
    Seed = Seed * 134775813u + 1u;
    if (N <= 0) return 0;
    return static_cast<int32_t>((static_cast<uint64_t>(static_cast<uint32_t>(N)) * Seed) >> 32);
  }
};

} // namespace zupo
