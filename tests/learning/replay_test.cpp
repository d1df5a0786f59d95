// Replay scores worked out separately in python, following the demand, money and profit rules.
#include "learning/replay.h"

#include <gtest/gtest.h>

#include <cmath>
#include <tuple>

#include "market/snapshot.h"
#include "model/modelfile.h"
#include "testutil.h"

namespace zupo {
namespace {

// X01 - 80 at step t: P(t - 2) - 80, whose sign or 0 picks the forecast 1.5, 0.5 or 1 DimC[t - 1].
constexpr const char* SignModel = "X01R(80.00 )-";

// Snapshots of traders 7 and 8 (others: wealth 500, forecast 90; the other files junk the replay
// must not use). "k" (G_Gap 1): trader 7 F = 1.5 * 89.5, sigma 9.12775, h = 12.1607...; trader 8's
// 200 cuts the demand to 200 / 75. "1" (G_Gap 5), trader 7: no demand (profit 0.05 * 300), cut to
// wealth, none twice, then one. G_Gap 150: positions 10..110. R(-5): 0.5 P+D < 1.05 P, h = 0.
struct ReplayTest : ::testing::Test, test::RunFolder {};

TEST_F(ReplayTest, ScoresPosition110OrPositions106To110) {
  test::SetUpWindows(sim);
  for (auto [set, w7, f7, w8, f8] :
       {std::tuple{'k', 1000, 90, 200, 90}, {'1', 300, 95, 1000, 88}}) {
    for (char suffix : {'h', 'm', 'w', 's', 'v'}) {
      std::string text;
      for (int k = 1; k <= MaxTraders; ++k) {
        int w = k == 7 ? w7 : k == 8 ? w8 : 500, f = k == 7 ? f7 : k == 8 ? f8 : 90;
        text += std::to_string(suffix == 'w' ? w : suffix == 'v' ? f : 12345) + "\r\n";
      }
      test::WriteText(SnapshotPath(sim, set, suffix), text);
    }
  }
  for (auto [gap, first] : {std::pair{0, 111}, {1, 110}, {5, 106}, {101, 10}, {150, 10}}) {
    sim.P.G_Gap = gap;
    EXPECT_EQ(FirstReplayStep(sim), first) << gap;
  }
  for (auto [model, gap, trader, want] :
       {std::tuple{"R(-5.00 )", 5, 7, 300 * (std::pow(1.05, 5) - 1)},
        {SignModel, 1, 7, 211.12952260962447},
        {SignModel, 1, 8, 45.33333333333333},
        {SignModel, 5, 7, 206.07771757021288},
        {SignModel, 150, 7, 85113.41694183728}}) {
    test::WriteText(ModelFileName(sim, "T", sim.T.CurBase + 7), model); // trader 7's candidate
    sim.Models.Clear();
    LoadModel(sim, sim.T.CurBase + 7);
    sim.P.G_Gap = gap;
    EXPECT_NEAR(static_cast<double>(ReplayScore(sim, trader)), want, 1e-9 * want) << gap << trader;
  }
  for (int t = 100; t <= 104; ++t) sim.R.DimA[t] = 1e38; // their sum leaves the 6-byte range
  long double score = ReplayScore(sim, 7);
  EXPECT_TRUE(std::isinf(score) && score < 0);
}

} // namespace
} // namespace zupo
