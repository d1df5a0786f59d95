// School decision and model search; draws and scores worked out separately by hand.
#include "learning/search.h"

#include <gtest/gtest.h>

#include <tuple>

#include "model/modelfile.h"
#include "testutil.h"

namespace zupo {
namespace {

constexpr int I = 7; // the trader at school; CurBase = 0, PrevBase = 500

class SearchTest : public ::testing::Test, public test::RunFolder {
protected:
  void SetUp() override {
    for (int w = 1; w <= MaxTraders; ++w) { // trader w's model is R(w / 100): a copy shows whose
      std::string text = "R";
      AppendConstToken(text, w / 100.0);
      test::WriteText(ModelFileName(sim, "T", sim.T.PrevBase + w), text);
    }
    test::SetUpWindows(sim);
    sim.P.Reproduct = 500; // every population try is a reproduction
    sim.M.PriceLag.fill(80);
    sim.M.PDLag.fill(90);
    std::tie(sim.T.Wealth[sim.T.PrevBase + I], sim.T.Forecast[sim.T.PrevBase + I]) =
        std::pair(1000, 90);
  }
  std::string Text(int n) { return test::ReadText(ModelFileName(sim, "T", n)); }
  void Run(void (*school)(Simulation&, int), uint32_t seed) { // SchoolDecision or SearchModel
    sim.T.SucceedFlag = sim.T.VisitGenFlag = sim.T.VisitLibFlag = 0;
    sim.Rand.Seed = seed;
    school(sim, I);
  }
};

// No change 1/2, gain 0, loss 1 (1e50: beyond 6 bytes); order 500 visits, 0 leaves the second draw.
TEST_F(SearchTest, SchoolDecisionFollowsTheProfitChangeAndTheOrder) {
  const int u2[] = {861, 690, 520, 350, 179, 9, 839, 668, 498, 328}; // second draws of seeds 1..10
  for (auto [order, G, L, prob] : {std::tuple{0, 0.0L, 0.0L, 0.5L},
                                   {0, 5.0L, 0.0L, 0.0L},
                                   {0, -1e30L, 0.0L, 1.0L},
                                   {500, 1e50L, 1.0L, 0.0L}}) {
    std::tie(sim.T.OrderIdx[sim.T.PrevBase + I], sim.T.GapProfit[I], sim.T.LastGapProfit[I]) =
        std::tuple(order, G, L);
    EXPECT_EQ(SchoolProbability(G, L), prob);
    for (uint32_t seed = 1; seed <= 10; ++seed) {
      Run(SchoolDecision, order ? seed * 7919 : seed); // first draws 497, 995, 493, ... at 7919 k
      bool visits = order == 500 || u2[seed - 1] * 0.001L <= prob; // else the model is kept
      EXPECT_TRUE(sim.T.VisitGenFlag == visits && (visits || Text(I) == "R(0.07 )")) << seed;
    }
  }
}

// Seed 1: three reproduction tries, tournaments (102, 137), (81, 187), (238, 36), four draws each.
TEST_F(SearchTest, SearchesWriteOnlyTheFinalModelAndVisitTheLibraryWhenAllowed) {
  sim.T.GapProfit[I] = 10; // only a copy of trader 7 itself would do as well
  for (int tries : {0, 1, 3}) {
    sim.P.TryNo = static_cast<uint8_t>(tries);
    Run(SearchModel, 1);
    EXPECT_EQ(sim.Rand.Seed, tries == 3 ? 303092965u : 1172187917u) << tries; // 0, 1: one try
    EXPECT_TRUE(sim.T.SucceedFlag == 0 && sim.T.VisitGenFlag == 1 && sim.T.VisitLibFlag == 0);
    // Tries change the model in memory: the file is written once, with the model kept in the end.
    EXPECT_EQ(std::pair(Text(I), sim.Models.Writes), std::pair(std::string("R(0.07 )"), 1L));
  }
  sim.T.GapProfit[I] = -1e30L; // the first reproduction succeeds: tournament (102, 137), a tie
  Run(SearchModel, 1);
  EXPECT_EQ(std::pair(Text(I), sim.Models.Writes), std::pair(std::string("R(1.02 )"), 2L));
  EXPECT_EQ(std::pair(sim.T.ModelDepth[I], sim.T.ModelSize[I]), std::pair(1, 1));
  sim.T.GapProfit[I] = 1e30L; // every try fails
  for (uint32_t seed = 1; seed <= 20; ++seed) {
    std::tie(sim.P.LibraryProb, sim.R.RunGen) =
        std::pair(seed <= 10 ? 0 : 100, seed <= 10 ? 10 : 2);
    Run(SearchModel, seed);
    EXPECT_TRUE(sim.T.VisitLibFlag == 0 && sim.T.VisitGenFlag == 1) << seed;
  }
}

// A library model is taken only when its error is smaller than the trader's own.
TEST_F(SearchTest, LibraryCandidateMustHaveASmallerError) {
  sim.P.LibraryProb = 100;
  sim.P.TryNo = 2;
  sim.R.DimA[105] = 0; // adds nothing to either error
  for (int w : {90, 285, 134, 454})
    test::WriteText(ModelFileName(sim, "T", sim.T.PrevBase + w, true), "R(0.00 )");
  for (auto [own, after, succeeds] :
       {std::tuple{"R(0.00 )", 3894842479u, 0}, {"R(5.00 )", 2442594960u, 1}}) {
    test::WriteText(ModelFileName(sim, "T", sim.T.PrevBase + I), own);
    sim.Models.Clear();
    Run(SearchModel, 5);
    EXPECT_EQ(sim.Rand.Seed, after);
    EXPECT_TRUE(sim.T.SucceedFlag == succeeds && sim.T.VisitLibFlag == 1 && !sim.T.VisitGenFlag);
    EXPECT_EQ(Text(I), "R(0.00 )");
    EXPECT_NEAR(sim.T.Shares[sim.T.CurBase + I], 0.014767758537302741, 1e-12); // 6/(.495*820.79)
  }
}

// The library's error measure: the sum over the last 10 generations (t = 111 down to 102) of
// |F(t) - DimA[t]| / DimA[t]. With Theta1 = 0 the forecast is P+D of the generation before.
TEST(MapeScoreTest, SumsTheRelativeErrorsOfTheLastTenGenerations) {
  Simulation sim;
  test::DefaultSymbols(sim);
  sim.P.Theta1 = 0;
  sim.P.MaxExp = 10;
  for (int t = 1; t <= DimLen; ++t) sim.R.DimA[t] = 2, sim.R.DimC[t] = 2 + t * 0.125;
  sim.R.DimA[105] = 0; // no error counted where DimA is 0
  sim.ModelList = {{static_cast<uint8_t>(sim.S.NSym), 1.0}};
  long double expected = 0;
  for (int t = 102; t <= DimLen; ++t)
    if (t != 105) expected += (t - 1) * 0.125L / 2;
  EXPECT_DOUBLE_EQ(static_cast<double>(MapeScore(sim, 1)), static_cast<double>(expected));
}

} // namespace
} // namespace zupo
