#include <algorithm>
#include <gtest/gtest.h>
#include <random>

#include "run/driver.h"

namespace zupo {
namespace {

// Checks that the CurBase half of OrderIdx is a permutation of 1..500 ordered by decreasing
// GapProfit.
void ExpectOrdered(const Simulation& sim) {
  std::vector<int> seen;
  for (int p = 1; p <= MaxTraders; ++p) {
    int t = sim.T.OrderIdx[sim.T.CurBase + p];
    seen.push_back(t);
    if (p > 1) {
      int prev = sim.T.OrderIdx[sim.T.CurBase + p - 1];
      ASSERT_GE(sim.T.GapProfit[prev], sim.T.GapProfit[t]) << "at position " << p;
    }
  }
  std::sort(seen.begin(), seen.end());
  for (int k = 0; k < MaxTraders; ++k) ASSERT_EQ(seen[k], k + 1);
}

TEST(OrderTraders, SortsByDecreasingGapProfitInEitherHalf) {
  std::mt19937 gen(7);
  for (int base : {0, 500}) {
    for (int round = 0; round < 20; ++round) {
      Simulation sim;
      sim.T.CurBase = base;
      sim.T.PrevBase = 500 - base;
      // Few distinct values in some rounds, so that ties are plentiful.
      std::uniform_int_distribution<int> d(round % 2 ? 0 : -1000, round % 2 ? 3 : 1000);
      for (int i = 1; i <= MaxTraders; ++i) sim.T.GapProfit[i] = d(gen) * 0.5L;
      for (int p = 1; p <= MaxTraders; ++p) sim.T.OrderIdx[base + p] = p;
      sim.T.OrderIdx[500 - base + 1] = 4242; // the other half is left alone
      OrderTraders(sim, 1, MaxTraders);
      ExpectOrdered(sim);
      EXPECT_EQ(sim.T.OrderIdx[500 - base + 1], 4242);
    }
  }
}

TEST(OrderTraders, HandlesSortedReversedAndEqualKeys) {
  for (int kind = 0; kind < 3; ++kind) {
    Simulation sim;
    for (int i = 1; i <= MaxTraders; ++i)
      sim.T.GapProfit[i] = kind == 0 ? i : (kind == 1 ? -i : 1.0L);
    for (int p = 1; p <= MaxTraders; ++p) sim.T.OrderIdx[p] = p;
    OrderTraders(sim, 1, MaxTraders);
    ExpectOrdered(sim);
    if (kind == 0) {
      EXPECT_EQ(sim.T.OrderIdx[1], 500);
    } else if (kind == 1) {
      EXPECT_EQ(sim.T.OrderIdx[1], 1);
    }
  }
}

} // namespace
} // namespace zupo
