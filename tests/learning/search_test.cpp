// The school decision, the model search and keeping a model. Draw sequences and scores were
// worked out separately from the generator's formula and the scoring rules.
#include "learning/search.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <limits>

#include "core/real6.h"
#include "market/snapshot.h"
#include "model/modelfile.h"
#include "testutil.h"

namespace zupo {
namespace {

using test::ReadText;
using test::TempDir;

constexpr int I = 7; // the trader at school; CurBase = 0, PrevBase = 500

PTreeNode Const(double v) {
  auto n = std::make_unique<TTreeNode>();
  n->Sym = 16; // R
  n->Value = v;
  return n;
}

// The population (trader w's model is the constant w / 100, so that a copy shows whose model it
// is) and the library (every entry the constant 0) are written once for all tests: creating a
// thousand files is the slow part of a test here.
class SearchTest : public ::testing::Test {
protected:
  static void SetUpTestSuite() {
    shared = new TempDir;
    Simulation sim;
    test::SetUpRunFolders(sim, shared->Path());
    for (int w = 1; w <= MaxTraders; ++w) {
      char text[16];
      std::snprintf(text, sizeof text, "R(%4.2f )", w / 100.0);
      test::WriteText(ModelFileName(sim, "T", sim.T.PrevBase + w), text);
      test::WriteText(ModelFileName(sim, "T", sim.T.PrevBase + w, true), "R(0.00 )");
    }
  }
  static void TearDownTestSuite() {
    delete shared;
    shared = nullptr;
  }

  void SetUp() override {
    test::SetUpRunFolders(sim, shared->Path());
    test::DefaultSymbols(sim);
    auto& R = sim.R;
    for (int t = 1; t <= DimLen; ++t) {
      R.DimB[t] = 80 + (t * 7) % 11 - 5;
      R.DimC[t] = R.DimB[t] + 10 + (t % 3) * 0.5;
    }
    for (int t = 1; t < DimLen; ++t) R.DimA[t] = R.DimC[t + 1];
    R.DimA[DimLen] = 91;
    R.RunGen = 10;
    Params& P = sim.P;
    P.Irate = Round6(0.05L);
    P.Lambda = 0.5;
    P.Theta1 = 0.5;
    P.Theta2 = Round6(0.1L);
    P.Theta3 = Round6(0.01L);
    P.MaxExp = 0.5;
    P.DepthLimit = 17;
    P.G_Gap = 5;
    P.Reproduct = 500; // every population try is a reproduction unless a test says otherwise
    P.TryNo = 5;
    for (int j = 1; j <= 3; ++j) sim.M.PriceLag[j] = 80;
    for (int j = 1; j <= 2; ++j) sim.M.PDLag[j] = 90;
    for (int k = 1; k <= MaxTraders; ++k) {
      int p = sim.T.PrevBase + k;
      sim.T.Wealth[p] = 1000;
      sim.T.Forecast[p] = 90;
      sim.T.Shares[p] = 3;
      sim.T.Sigma[p] = 4;
    }
    SaveOwn(Const(0.07)); // earlier tests may have changed it
  }
  std::string Text(int n) { return ReadText(ModelFileName(sim, "T", n)); }
  void SaveOwn(PTreeNode T) { SaveModel(sim, T, sim.T.PrevBase + I); }
  void ClearFlags() { sim.T.SucceedFlag = sim.T.VisitGenFlag = sim.T.VisitLibFlag = 0; }

  static TempDir* shared;
  Simulation sim;
};
TempDir* SearchTest::shared = nullptr;

TEST_F(SearchTest, SchoolProbabilityTakesLimitsWithoutFaulting) {
  EXPECT_EQ(SchoolProbability(0, 0), 0.5L);
  EXPECT_EQ(SchoolProbability(3, 0), 0.0L);
  EXPECT_EQ(SchoolProbability(-3, 0), 1.0L);
  EXPECT_EQ(SchoolProbability(2, 2), 0.5L);
  EXPECT_NEAR(static_cast<double>(SchoolProbability(1 + std::log(3.0L), 1)), 0.25, 1e-11);
  EXPECT_NEAR(static_cast<double>(SchoolProbability(-2 + 2 * std::log(3.0L), -2)), 0.25, 1e-11);
  EXPECT_EQ(SchoolProbability(5000, 1), 0.0L);  // e^4999 overflows a double
  EXPECT_EQ(SchoolProbability(-5000, 1), 1.0L); // 1 - e^-5001 rounds to 1
  EXPECT_EQ(SchoolProbability(1e50L, 1), 0.0L); // x beyond the 6-byte range
  EXPECT_EQ(SchoolProbability(-1e50L, 1e-30L), 1.0L);
}

TEST_F(SearchTest, TraderAtTheBottomOfTheOrderAlwaysVisits) {
  sim.T.OrderIdx[sim.T.PrevBase + I] = 500;
  sim.T.GapProfit[I] = 1e30L; // would never visit by the profit rule
  sim.T.LastGapProfit[I] = 1;
  for (uint32_t seed = 1; seed <= 30; ++seed) {
    ClearFlags();
    sim.Rand.Seed = seed * 7919;
    SchoolDecision(sim, I);
    EXPECT_EQ(sim.T.VisitGenFlag, 1) << seed;
  }
}

TEST_F(SearchTest, SchoolDecisionFollowsTheProfitChange) {
  sim.T.OrderIdx[sim.T.PrevBase + I] = 0;
  // Second draws (u2) of seeds 1..10: 861 690 520 350 179 9 839 668 498 328.
  const int u2[] = {861, 690, 520, 350, 179, 9, 839, 668, 498, 328};
  struct Case {
    long double G, L;
  };
  for (Case c : {Case{0, 0}, Case{1e30L, 1}, Case{-1e30L, 1}, Case{5, 0}, Case{-5, 0}}) {
    long double prob = c.G == 0 ? 0.5L : (c.G > 0 ? 0.0L : 1.0L);
    for (uint32_t seed = 1; seed <= 10; ++seed) {
      sim.T.GapProfit[I] = c.G;
      sim.T.LastGapProfit[I] = c.L;
      ClearFlags();
      sim.Rand.Seed = seed;
      SchoolDecision(sim, I);
      bool visits = u2[seed - 1] * 0.001L <= prob;
      EXPECT_EQ(sim.T.VisitGenFlag, visits ? 1 : 0) << double(c.G) << " seed " << seed;
      if (!visits) {
        EXPECT_EQ(Text(I), Text(sim.T.PrevBase + I));
      }
    }
  }
}

// Seed 1: the tournaments of three reproduction tries are (102, 137), (81, 187), (238, 36).
TEST_F(SearchTest, TryNoZeroAndOneMakeOneTry) {
  sim.T.GapProfit[I] = 10; // only a copy of trader 7 itself would do as well
  for (int tries : {0, 1, 3}) {
    sim.P.TryNo = static_cast<uint8_t>(tries);
    ClearFlags();
    sim.T.SucceedFlag = 1;
    sim.Rand.Seed = 1;
    SearchModel(sim, I);
    // Four draws a try (source, operator, two selections); keeping the model draws none.
    EXPECT_EQ(sim.Rand.Seed, tries == 3 ? 303092965u : 1172187917u) << tries;
    EXPECT_EQ(sim.T.SucceedFlag, 0);
    EXPECT_EQ(sim.T.VisitGenFlag, 1);
    EXPECT_EQ(sim.T.VisitLibFlag, 0);
    EXPECT_EQ(Text(I), "R(0.07 )"); // the failed tries' copies are overwritten
  }
}

TEST_F(SearchTest, ReproductionOfAnEqualTraderSucceedsAtOnce) {
  sim.Rand.Seed = 1; // selects trader 102, whose GapProfit equals trader 7's
  SearchModel(sim, I);
  EXPECT_EQ(sim.Rand.Seed, 1172187917u);
  EXPECT_EQ(sim.T.SucceedFlag, 1);
  EXPECT_EQ(Text(I), "R(1.02 )");
  EXPECT_EQ(sim.T.ModelDepth[I], 1);
  EXPECT_EQ(sim.T.ModelSize[I], 1);
  // 1.02 > MaxExp: forecast 1.5 * 90; the demand 51 / (0.5 * 0.99 * 6.79...) = 15.17 is cut to
  // the wealth's worth 1000 / 80.
  EXPECT_NEAR(static_cast<double>(sim.T.Forecast[sim.T.CurBase + I]), 135, 1e-12);
  EXPECT_EQ(sim.T.Shares[sim.T.CurBase + I], 12.5);
}

TEST_F(SearchTest, LibraryIsNeverVisitedWithoutLibraryProbOrBeforeGeneration3) {
  sim.T.GapProfit[I] = 1e30L; // every try fails
  for (auto [prob, gen] : {std::pair{0.0, 10}, std::pair{100.0, 2}}) {
    sim.P.LibraryProb = prob;
    sim.R.RunGen = gen;
    for (uint32_t seed = 1; seed <= 10; ++seed) {
      ClearFlags();
      sim.Rand.Seed = seed;
      SearchModel(sim, I);
      EXPECT_EQ(sim.T.VisitLibFlag, 0);
      EXPECT_EQ(sim.T.VisitGenFlag, 1);
    }
  }
}

// Seed 5: the first library tournament is (90, 285), the second (134, 454).
TEST_F(SearchTest, LibraryCandidateWithSmallerErrorIsAdopted) {
  sim.P.LibraryProb = 100;
  sim.R.DimA[105] = 0; // adds nothing to either error
  SaveOwn(Const(5));   // forecasts 1.5 P+D: error sum 4.5758...; the library's 0: 0.4322...
  sim.Rand.Seed = 5;
  SearchModel(sim, I);
  EXPECT_EQ(sim.Rand.Seed, 2442594960u); // one try of three draws
  EXPECT_EQ(sim.T.SucceedFlag, 1);
  EXPECT_EQ(sim.T.VisitLibFlag, 1);
  EXPECT_EQ(sim.T.VisitGenFlag, 0);
  EXPECT_EQ(Text(I), "R(0.00 )");
  // Demand with the forecast 90: 6 / (0.5 * 0.99 * 820.7888...).
  EXPECT_NEAR(sim.T.Shares[sim.T.CurBase + I], 0.014767758537302741, 1e-12);
  EXPECT_TRUE(sim.ModelList.empty());
}

TEST_F(SearchTest, LibraryCandidateWithEqualErrorFails) {
  sim.P.LibraryProb = 100;
  sim.P.TryNo = 2;
  SaveOwn(Const(0)); // the same model as every library entry
  sim.Rand.Seed = 5;
  SearchModel(sim, I);
  EXPECT_EQ(sim.Rand.Seed, 3894842479u); // two tries
  EXPECT_EQ(sim.T.SucceedFlag, 0);
  EXPECT_EQ(sim.T.VisitLibFlag, 1);
  EXPECT_EQ(Text(I), Text(sim.T.PrevBase + I));
}

TEST_F(SearchTest, MapeScoreSumsRelativeErrorsOfTheLastTenPositions) {
  sim.R.DimA[105] = 0;
  auto check = [&](double v, double want) {
    auto T = Const(v);
    SaveModel(sim, T, 1);
    LoadModel(sim, 1);
    EXPECT_NEAR(static_cast<double>(MapeScore(sim, I)), want, 1e-12) << v;
    DisposeList(sim);
  };
  check(0, 0.4322523718625376); // F = DimC[t - 1]
  check(5, 4.575823162699012);  // F = 1.5 DimC[t - 1]
  check(-5, 4.474725612433662); // F = 0.5 DimC[t - 1]
  // A model that cannot be evaluated counts as forecasting DimC[t - 1].
  test::WriteText(ModelFileName(sim, "T", 2), "X01X02");
  LoadModel(sim, 2);
  EXPECT_NEAR(static_cast<double>(MapeScore(sim, I)), 0.4322523718625376, 1e-12);
}

TEST_F(SearchTest, MutationCandidateIsJudgedByReplay) {
  // Snapshot of the period start for the replay (wealth 1000, forecast 90 for everybody).
  for (char suffix : {'h', 'm', 'w', 's', 'v'}) {
    std::string text;
    for (int k = 1; k <= MaxTraders; ++k) text += suffix == 'w' ? "1000\r\n" : "90\r\n";
    test::WriteText(SnapshotPath(sim, '1', suffix), text);
  }
  sim.P.Reproduct = 0;
  sim.P.Mutation = 500;
  sim.P.MutProb = 0.5; // the candidate is a plain copy of the selected parent
  sim.T.GapProfit[I] = -1e30L;
  sim.Rand.Seed = 1;
  SearchModel(sim, I);
  EXPECT_EQ(sim.T.SucceedFlag, 1);
  EXPECT_EQ(Text(I), "R(1.02 )"); // the first tournament's winner, copied

  sim.T.GapProfit[I] = 1e30L; // no replay can beat it
  ClearFlags();
  SearchModel(sim, I);
  EXPECT_EQ(sim.T.SucceedFlag, 0);
  EXPECT_EQ(sim.T.VisitGenFlag, 1);
  EXPECT_EQ(Text(I), "R(0.07 )");
}

TEST_F(SearchTest, KeepModelEvaluatesWritesAndMeasures) {
  SaveOwn(Const(-5)); // forecast 0.5 * 90 = 45, below 1.05 * 80: no shares wanted
  KeepModel(sim, I);
  EXPECT_EQ(Text(I), "R(-5.00 )");
  EXPECT_EQ(sim.T.Shares[sim.T.CurBase + I], 0.0);
  EXPECT_NEAR(static_cast<double>(sim.T.Forecast[sim.T.CurBase + I]), 45, 1e-12);
  EXPECT_TRUE(sim.ModelList.empty());

  // (X01 + SIN(1.50)) * Y02: 4 levels, 6 nodes.
  test::WriteText(ModelFileName(sim, "T", sim.T.PrevBase + I), "X01R(1.50 )SIN+Y02*");
  sim.ModelTexts.Clear();
  KeepModel(sim, I);
  EXPECT_EQ(Text(I), "X01R(1.50 )SIN+Y02*");
  EXPECT_EQ(sim.T.ModelDepth[I], 4);
  EXPECT_EQ(sim.T.ModelSize[I], 6);
}

TEST_F(SearchTest, AbandonedEvaluationKeepsTheHolding) {
  test::WriteText(ModelFileName(sim, "T", sim.T.PrevBase + I), "X01X02");
  sim.ModelTexts.Clear();
  sim.T.Shares[sim.T.CurBase + I] = 99;
  KeepModel(sim, I);
  EXPECT_EQ(sim.T.Shares[sim.T.CurBase + I], 3.0);
  EXPECT_EQ(Text(I), "X01X02");
}

} // namespace
} // namespace zupo
