// School decision and model search; draws and scores worked out separately by hand.
#include "learning/search.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <tuple>

#include "core/real6.h"
#include "model/modelfile.h"
#include "testutil.h"

namespace zupo {
namespace {

constexpr int I = 7; // the trader at school; CurBase = 0, PrevBase = 500

// Trader w's model is R(w / 100), so that a copy shows whose it is; the library's are R(0). The
// thousand files are written once for all tests: they are the slow part here.
class SearchTest : public ::testing::Test {
protected:
  static void SetUpTestSuite() {
    Simulation sim;
    test::SetUpRunFolders(sim, shared.Path());
    for (int w = 1; w <= MaxTraders; ++w) {
      char text[16];
      std::snprintf(text, sizeof text, "R(%4.2f )", w / 100.0);
      test::WriteText(ModelFileName(sim, "T", sim.T.PrevBase + w), text);
      test::WriteText(ModelFileName(sim, "T", sim.T.PrevBase + w, true), "R(0.00 )");
    }
  }
  static inline test::TempDir shared;
  void SetUp() override {
    test::SetUpRunFolders(sim, shared.Path());
    test::DefaultSymbols(sim);
    SaveOwn("R(0.07 )");                // a test may have changed it
    for (int t = DimLen; t >= 1; --t) { // P(t), P+D(t) and DimA[t] = DimC[t + 1]
      sim.R.DimB[t] = 80 + (t * 7) % 11 - 5;
      sim.R.DimC[t] = sim.R.DimB[t] + 10 + (t % 3) * 0.5;
      sim.R.DimA[t] = t == DimLen ? 91 : sim.R.DimC[t + 1];
    }
    sim.R.RunGen = 10;
    sim.P.Irate = Round6(0.05L);
    sim.P.Lambda = sim.P.Theta1 = sim.P.MaxExp = 0.5;
    sim.P.Theta2 = Round6(0.1L);
    sim.P.Theta3 = Round6(0.01L);
    sim.P.TryNo = 5;
    sim.P.Reproduct = 500; // every population try is a reproduction unless a test says otherwise
    sim.M.PriceLag.fill(80);
    sim.M.PDLag.fill(90);
    std::fill_n(&sim.T.Wealth[sim.T.PrevBase + 1], MaxTraders, 1000);
    std::fill_n(&sim.T.Forecast[sim.T.PrevBase + 1], MaxTraders, 90);
  }
  std::string Text(int n) { return test::ReadText(ModelFileName(sim, "T", n)); }
  void SaveOwn(const char* text) {
    test::WriteText(ModelFileName(sim, "T", sim.T.PrevBase + I), text);
    sim.ModelTexts.Clear();
  }
  void Search(uint32_t seed) {
    sim.T.SucceedFlag = sim.T.VisitGenFlag = sim.T.VisitLibFlag = 0;
    sim.Rand.Seed = seed;
    SearchModel(sim, I);
  }

  Simulation sim;
};

TEST_F(SearchTest, SchoolProbabilityTakesLimitsWithoutFaulting) {
  EXPECT_EQ(SchoolProbability(0, 0), 0.5L);     // LastGapProfit 0: no change,
  EXPECT_EQ(SchoolProbability(3, 0), 0.0L);     // a gain,
  EXPECT_EQ(SchoolProbability(-3, 0), 1.0L);    // a loss
  EXPECT_EQ(SchoolProbability(5000, 1), 0.0L);  // e^4999 overflows a double
  EXPECT_EQ(SchoolProbability(1e50L, 1), 0.0L); // x beyond the 6-byte range
}

TEST_F(SearchTest, SchoolDecisionFollowsTheProfitChangeAndTheOrder) {
  const int u2[] = {861, 690, 520, 350, 179, 9, 839, 668, 498, 328}; // second draws of seeds 1..10
  for (auto [order, G, L, prob] : {std::tuple{0, 0.0L, 0.0L, 0.5L},
                                   {0, 5.0L, 0.0L, 0.0L},
                                   {0, -1e30L, 1.0L, 1.0L},
                                   {500, 1e30L, 1.0L, 1.0L}}) {
    sim.T.OrderIdx[sim.T.PrevBase + I] = order; // the bottom of the order always visits
    sim.T.GapProfit[I] = G;
    sim.T.LastGapProfit[I] = L;
    for (uint32_t seed = 1; seed <= 10; ++seed) {
      sim.T.VisitGenFlag = 0;
      sim.Rand.Seed = order ? seed * 7919 : seed; // first draws 497, 995, 493, ...
      SchoolDecision(sim, I);
      bool visits = u2[seed - 1] * 0.001L <= prob;
      EXPECT_EQ(sim.T.VisitGenFlag, visits ? 1 : 0) << double(G) << " seed " << seed;
      EXPECT_TRUE(visits || Text(I) == "R(0.07 )") << double(G) << " seed " << seed; // kept
    }
  }
}

// Seed 1: the tournaments of three reproduction tries are (102, 137), (81, 187), (238, 36); a
// try draws four times (source, operator, two selections), keeping the model never.
TEST_F(SearchTest, TryNoZeroAndOneMakeOneTryAndAFailedSearchKeepsTheModel) {
  sim.T.GapProfit[I] = 10; // only a copy of trader 7 itself would do as well
  for (int tries : {0, 1, 3}) {
    sim.P.TryNo = static_cast<uint8_t>(tries);
    Search(1);
    EXPECT_EQ(sim.Rand.Seed, tries == 3 ? 303092965u : 1172187917u) << tries;
    EXPECT_TRUE(sim.T.SucceedFlag == 0 && sim.T.VisitGenFlag == 1 && sim.T.VisitLibFlag == 0);
    EXPECT_EQ(Text(I), "R(0.07 )"); // model PrevBase + 7: the failed tries' copies are overwritten
  }
}

TEST_F(SearchTest, LibraryIsNeverVisitedWithoutLibraryProbOrBeforeGeneration3) {
  sim.T.GapProfit[I] = 1e30L; // every try fails
  for (uint32_t seed = 1; seed <= 20; ++seed) {
    sim.P.LibraryProb = seed <= 10 ? 0 : 100; // 100 in generation 2
    sim.R.RunGen = seed <= 10 ? 10 : 2;
    Search(seed);
    EXPECT_TRUE(sim.T.VisitLibFlag == 0 && sim.T.VisitGenFlag == 1) << seed;
  }
}

// Seed 5: the first library tournament is (90, 285), the second (134, 454). The own model R(5)
// forecasts 1.5 P+D with the error sum 4.5758...; the library's R(0) forecasts P+D: 0.4322...
TEST_F(SearchTest, LibraryCandidateMustHaveASmallerError) {
  sim.P.LibraryProb = 100;
  sim.P.TryNo = 2;
  sim.R.DimA[105] = 0; // adds nothing to either error
  SaveOwn("R(0.00 )"); // the same error as every library entry: both tries fail
  Search(5);
  EXPECT_EQ(sim.Rand.Seed, 3894842479u);
  EXPECT_TRUE(sim.T.SucceedFlag == 0 && sim.T.VisitLibFlag == 1);

  SaveOwn("R(5.00 )");
  Search(5);
  EXPECT_EQ(sim.Rand.Seed, 2442594960u); // one try of three draws
  EXPECT_TRUE(sim.T.SucceedFlag == 1 && sim.T.VisitLibFlag == 1 && sim.T.VisitGenFlag == 0);
  EXPECT_EQ(Text(I), "R(0.00 )");
  EXPECT_NEAR(sim.T.Shares[sim.T.CurBase + I], 0.014767758537302741, 1e-12); // 6 / (.495 * 820.79)
}

} // namespace
} // namespace zupo
