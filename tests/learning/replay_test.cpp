// The replay score against values worked out separately (a few lines of python following the
// demand, money and profit rules step by step).
#include "learning/replay.h"

#include <gtest/gtest.h>

#include <cmath>
#include <map>

#include "core/errors.h"
#include "core/real6.h"
#include "market/snapshot.h"
#include "model/modelfile.h"
#include "testutil.h"

namespace zupo {
namespace {

using test::TempDir;

// Windows: P(t) = 80 + (7t mod 11) - 5, P+D = P + 10 + 0.5 (t mod 3), DimA[t] = DimC[t + 1].
void FillWindows(Simulation& sim) {
  auto& R = sim.R;
  for (int t = 1; t <= DimLen; ++t) {
    R.DimB[t] = 80 + (t * 7) % 11 - 5;
    R.DimC[t] = R.DimB[t] + 10 + (t % 3) * 0.5;
  }
  for (int t = 1; t < DimLen; ++t) R.DimA[t] = R.DimC[t + 1];
  R.DimA[DimLen] = 91;
}

class ReplayTest : public ::testing::Test {
protected:
  void SetUp() override {
    test::SetUpRunFolders(sim, dir.Path());
    test::DefaultSymbols(sim);
    FillWindows(sim);
    sim.P.Irate = Round6(0.05L);
    sim.P.Lambda = 0.5;
    sim.P.Theta1 = 0.5;
    sim.P.Theta2 = Round6(0.1L);
    sim.P.Theta3 = Round6(0.01L);
    sim.P.MaxExp = 0.5;
    sim.Warn = [this](const std::string&) { ++warnings; };
    // The "k" set: trader 7 wealth 1000 forecast 90, trader 8 wealth 200 forecast 90.
    // The "1" set: trader 7 wealth 300 forecast 95, trader 8 wealth 1000 forecast 88.
    WriteSet('k', {{7, {1000, 90}}, {8, {200, 90}}});
    WriteSet('1', {{7, {300, 95}}, {8, {1000, 88}}});
  }

  // Five snapshot files of 500 lines; holding, money and variance hold junk values that the
  // replay must not use.
  void WriteSet(char set, const std::map<int, std::pair<double, double>>& wf) {
    for (char suffix : {'h', 'm', 'w', 's', 'v'}) {
      std::string text;
      for (int k = 1; k <= MaxTraders; ++k) {
        double v = 12345;
        auto it = wf.find(k);
        if (suffix == 'w') v = it != wf.end() ? it->second.first : 500;
        if (suffix == 'v') v = it != wf.end() ? it->second.second : 90;
        text += " " + std::to_string(v) + "\r\n";
      }
      test::WriteText(SnapshotPath(sim, set, suffix), text);
    }
  }

  // Loads T as trader 7's candidate (model CurBase + 7).
  void LoadCandidate(PTreeNode T) {
    SaveModel(sim, T, sim.T.CurBase + 7);
    LoadModel(sim, sim.T.CurBase + 7);
  }
  static PTreeNode Node(uint8_t sym, double value = 0) {
    auto n = std::make_unique<TTreeNode>();
    n->Sym = sym;
    n->Value = value;
    return n;
  }
  // X01 - 80: at step t the value P(t - 2) - 80, whose sign (|v| > MaxExp) or 0 picks the
  // forecast 1.5, 0.5 or 1 times DimC[t - 1].
  static PTreeNode SignModel() {
    auto T = Node(2);
    T->Left = Node(11);
    T->Right = Node(16, 80);
    return T;
  }

  void ExpectScore(long double got, double want) {
    EXPECT_NEAR(static_cast<double>(got), want, 1e-9 * std::fabs(want));
  }

  TempDir dir;
  Simulation sim;
  int warnings = 0;
};

TEST_F(ReplayTest, OneGenerationPeriodReplaysPosition110FromTheKSet) {
  sim.P.G_Gap = 1;
  LoadCandidate(SignModel());
  // F = 1.5 * 89.5, sigma = 9.12775, h = 12.1607... shares, money 87.946...
  ExpectScore(ReplayScore(sim, 7), 211.12952260962447);
  // Trader 8 has 200: the demand is cut to 200 / 75 shares and no money is left.
  ExpectScore(ReplayScore(sim, 8), 45.33333333333333);
}

TEST_F(ReplayTest, FiveGenerationPeriodReplaysPositions106To110FromThe1Set) {
  sim.P.G_Gap = 5;
  LoadCandidate(SignModel());
  // Trader 7: no demand (profit 0.05 * 300), cut to wealth, no demand twice, then a demand.
  ExpectScore(ReplayScore(sim, 7), 206.07771757021288);
  ExpectScore(ReplayScore(sim, 8), 400.8612390953808);
}

TEST_F(ReplayTest, ForecastBelowTheRiskFreeReturnEarnsInterestOnly) {
  sim.P.G_Gap = 5;
  LoadCandidate(Node(16, -5)); // F = 0.5 * P+D, always below 1.05 * P
  ExpectScore(ReplayScore(sim, 7), 300 * (std::pow(1.05, 5) - 1));
  sim.P.G_Gap = 1;
  ExpectScore(ReplayScore(sim, 7), 1000 * 0.05);
}

TEST_F(ReplayTest, ZeroRiskAversionBuysWithTheWholeWealth) {
  sim.P.G_Gap = 5;
  sim.P.Lambda = 0;
  LoadCandidate(SignModel());
  ExpectScore(ReplayScore(sim, 7), 221.2968157894737);
}

TEST_F(ReplayTest, AbandonedEvaluationRepeatsThePreviousForecast) {
  sim.P.G_Gap = 5;
  // X01 X02 leaves two values: every evaluation is abandoned.
  test::WriteText(ModelFileName(sim, "T", 7), "X01X02");
  sim.ModelTexts.Clear();
  LoadModel(sim, 7);
  ExpectScore(ReplayScore(sim, 7), 191.19580372378218); // F = 95 at every step
  EXPECT_EQ(warnings, 5);
}

TEST_F(ReplayTest, LeavesTheTraderArraysAlone) {
  sim.P.G_Gap = 5;
  for (int k = 1; k <= 2 * MaxTraders; ++k) {
    sim.T.Shares[k] = k;
    sim.T.Money[k] = 2 * k;
    sim.T.Wealth[k] = 3 * k;
    sim.T.Forecast[k] = 4 * k;
    sim.T.Sigma[k] = 5 * k;
  }
  sim.T.GapProfit[7] = 17;
  TraderBook before = sim.T;
  LoadCandidate(SignModel());
  ReplayScore(sim, 7);
  EXPECT_EQ(sim.T.Shares, before.Shares);
  EXPECT_EQ(sim.T.Money, before.Money);
  EXPECT_EQ(sim.T.Wealth, before.Wealth);
  EXPECT_EQ(sim.T.Forecast, before.Forecast);
  EXPECT_EQ(sim.T.Sigma, before.Sigma);
  EXPECT_EQ(sim.T.GapProfit, before.GapProfit);
  EXPECT_EQ(sim.T.CurBase, before.CurBase);
  EXPECT_EQ(sim.T.PrevBase, before.PrevBase);
}

TEST_F(ReplayTest, PeriodsLongerThanTheWindowsReplayWhatTheyHold) {
  sim.P.G_Gap = 1;
  EXPECT_EQ(FirstReplayStep(sim), 110);
  sim.P.G_Gap = 5;
  EXPECT_EQ(FirstReplayStep(sim), 106);
  sim.P.G_Gap = 101;
  EXPECT_EQ(FirstReplayStep(sim), 10);
  sim.P.G_Gap = 150;
  EXPECT_EQ(FirstReplayStep(sim), 10);
  sim.P.G_Gap = 0;
  EXPECT_EQ(FirstReplayStep(sim), 111); // no step at all

  LoadCandidate(SignModel());
  sim.P.G_Gap = 150;
  ExpectScore(ReplayScore(sim, 7), 85113.41694183728); // the 101 positions 10..110
  sim.P.G_Gap = 0;
  EXPECT_EQ(ReplayScore(sim, 7), 0);
}

TEST_F(ReplayTest, DeepLagsMoveTheFirstStep) {
  std::string x;
  for (int j = 1; j <= 15; ++j)
    x += "X" + std::string(j < 10 ? "0" : "") + std::to_string(j) + "\\";
  BuildSymbolSet(sim.S, ParseSymbolList("+\\"), {}, ParseSymbolList(x), {}, {}, "R");
  sim.P.G_Gap = 101;
  EXPECT_EQ(FirstReplayStep(sim), 17); // X15 at step 17 reads P at position 1
  sim.P.G_Gap = 20;
  EXPECT_EQ(FirstReplayStep(sim), 91);
}

TEST_F(ReplayTest, OverflowScoresMinusInfinityInsteadOfStoppingTheRun) {
  sim.P.G_Gap = 5;
  LoadCandidate(SignModel());
  for (int t = 100; t <= 104; ++t) sim.R.DimA[t] = 1e38; // their sum leaves the 6-byte range
  long double score = ReplayScore(sim, 7);
  EXPECT_TRUE(std::isinf(score) && score < 0);
}

TEST_F(ReplayTest, VanishingVarianceBuysWithTheWholeWealth) {
  // All ten values equal and the previous forecast (90) exact: the variance is 0 at position 110.
  sim.P.G_Gap = 1;
  for (int t = 101; t <= 110; ++t) sim.R.DimA[t] = 91;
  sim.R.DimC[110] = 90;
  LoadCandidate(SignModel());
  // F = 1.5 * 89.5 = 134.25 > 1.05 * 75: the demand is the wealth's worth, 1000 / 75 shares,
  // which then earn 92 - 75 each.
  double want = 1000.0 / 75 * (92 - 75);
  ExpectScore(ReplayScore(sim, 7), want);
  // A variance just above 0 with a tiny risk aversion: a demand beyond the 6-byte range, cut
  // to the same holding.
  sim.R.DimA[110] = Round6(91.000000001L);
  sim.P.Lambda = Round6(1e-30L);
  ExpectScore(ReplayScore(sim, 7), want);
}

TEST_F(ReplayTest, MissingSnapshotStopsTheRun) {
  sim.P.G_Gap = 5;
  std::filesystem::remove(SnapshotPath(sim, '1', 'm'));
  sim.Snapshots.Values.clear();
  LoadCandidate(SignModel());
  EXPECT_THROW(ReplayScore(sim, 7), RunError);
}

} // namespace
} // namespace zupo
