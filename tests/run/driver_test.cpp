#include <algorithm>
#include <gtest/gtest.h>
#include <random>

#include "run/driver.h"

namespace zupo {
namespace {

TEST(OrderTraders, SortsEitherHalfByDecreasingGapProfit) {
  std::mt19937 gen(7);
  for (int round = 0; round < 40; ++round) {
    int base = round % 2 ? 500 : 0;
    Simulation sim;
    sim.T.CurBase = base;
    // Only a few distinct values in every other pair of rounds, so that ties are plentiful.
    std::uniform_int_distribution<int> d(round % 4 < 2 ? 0 : -1000, round % 4 < 2 ? 3 : 1000);
    for (int i = 1; i <= MaxTraders; ++i) sim.T.GapProfit[i] = d(gen) * 0.5L;
    for (int p = 1; p <= MaxTraders; ++p) sim.T.OrderIdx[base + p] = p;
    sim.T.OrderIdx[500 - base + 1] = 4242; // the other half is left alone
    OrderTraders(sim, 1, MaxTraders);
    std::vector<int> seen(sim.T.OrderIdx.begin() + base + 1, sim.T.OrderIdx.begin() + base + 501);
    for (int p = 1; p < MaxTraders; ++p)
      ASSERT_GE(sim.T.GapProfit[seen[p - 1]], sim.T.GapProfit[seen[p]]) << p;
    std::sort(seen.begin(), seen.end());
    for (int k = 0; k < MaxTraders; ++k) ASSERT_EQ(seen[k], k + 1);
    EXPECT_EQ(sim.T.OrderIdx[500 - base + 1], 4242);
  }
}

} // namespace
} // namespace zupo
