// Operators, school decision, model search and replay. Draws worked out by hand with
// s := s * 134775813 + 1 (mod 2^32), Random(N) = N * s >> 32; replay scores in python following
// the demand, money and profit rules.
#include "learning/search.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <tuple>

#include "learning/operators.h"
#include "learning/replay.h"
#include "market/snapshot.h"
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
  using Case = std::tuple<int, long double, long double, long double>;
  for (auto [order, G, L, prob] :
       {Case{0, 0, 0, 0.5L}, Case{0, 5, 0, 0}, Case{0, -1e30L, 0, 1}, Case{500, 1e50L, 1, 0}}) {
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
  std::tie(sim.P.LibraryProb, sim.P.TryNo) = std::tuple(100, 2);
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
  std::tie(sim.P.Theta1, sim.P.MaxExp) = std::tuple(0, 10);
  for (int t = 1; t <= DimLen; ++t) sim.R.DimA[t] = 2, sim.R.DimC[t] = 2 + t * 0.125;
  sim.R.DimA[105] = 0; // no error counted where DimA is 0
  sim.ModelList = {{static_cast<uint8_t>(sim.S.NSym), 1.0}};
  long double expected = 0;
  for (int t = 102; t <= DimLen; ++t)
    if (t != 105) expected += (t - 1) * 0.125L / 2;
  EXPECT_DOUBLE_EQ(static_cast<double>(MapeScore(sim, 1)), static_cast<double>(expected));
}

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
  EXPECT_EQ(ReplayScore(sim, 7), -INFINITY);
}

constexpr const char* Parent = "X01R(1.50 )SIN+Y02*"; // (X01 + SIN(1.50)) * Y02: 4 levels

class OperatorsTest : public ::testing::Test, public test::RunFolder {
protected:
  void SetUp() override { sim.P.DepthLimit = 17; }
  void SaveParent(int w, const char* text) { // trader w's model of the previous generation
    test::WriteText(ModelFileName(sim, "T", sim.T.PrevBase + w), text);
    sim.Models.Clear();
  }
  void ExpectOffspring(auto op, uint32_t seed, const char* text, uint32_t after) {
    sim.Rand.Seed = seed;
    op(sim, I);
    FlushModel(sim, I);
    EXPECT_EQ(test::ReadText(ModelFileName(sim, "T", I)), text) << seed;
    sim.Models.Clear();
    EXPECT_EQ(sim.Rand.Seed, after) << seed;
  }
  static constexpr int I = 7; // the offspring's trader: model CurBase + 7 = 7
};

// In a lone terminal every pick is the root, even of a function node (larger trees: offspring).
TEST_F(OperatorsTest, PicksInALoneTerminalAreTheRoot) {
  SaveParent(1, "X01");
  int n, m;
  PTreeNode leaf = ReadTree(sim, sim.T.PrevBase + 1, n, m);
  EXPECT_EQ(PickNode(leaf, 1).Root, &leaf);
  EXPECT_EQ(PickLeaf(sim, leaf, 1).Root, &leaf);
  EXPECT_EQ(PickInner(sim, leaf, sim.Rand.Random(0) + 1).Root, &leaf);
}

// Seed 12345 draws 193, then 145. The larger GapProfit and the smaller Mape win.
TEST_F(OperatorsTest, TournamentTiesGoToTheFirstDraw) {
  for (auto [g193, g145, winner] : {std::tuple{0, 0, 193}, {0, 1, 145}, {1, 1, 193}}) {
    sim.T.GapProfit[193] = g193, sim.T.GapProfit[145] = g145;
    sim.R.Mape[193] = 5 - g193, sim.R.Mape[145] = 5 - g145;
    for (auto select : {&SelectParent, &SelectLibrary}) {
      sim.Rand.Seed = 12345;
      EXPECT_EQ(select(sim), winner) << g193 << g145;
      EXPECT_EQ(sim.Rand.Seed, 1242767767u);
    }
  }
}

TEST_F(OperatorsTest, MutationsAtFullRateAndBelowOnePerThousand) {
  sim.P.DepthLimit = 3;
  // Full rate: every symbol redrawn in its class; below 1: the parent copied (2 + 1 per item draws)
  for (auto [op, prob, seed, w, text, after] :
       {std::tuple{&PointMutation, 1000.0, 4242u, 57, "Y01X03SQRT*Y02-", 1230705500u},
        {PointMutation, 1000.0, 777u, 192, "R(0.41 )R(4.27 )SQRT+X03*", 2676791365u},
        {PointMutation, 0.5, 4242u, 57, Parent, 3696031690u},
        {SubtreeMutation, 1000.0, 24u, 377, "X01R(2.55 )+Y02*", 2811864273u}, // node 4 (SIN)
        {SubtreeMutation, 1000.0, 1u, 16, Parent, 1415176494u}}) { // 7 levels: the parent copied
    sim.P.MutProb = prob;
    SaveParent(w, Parent);
    ExpectOffspring(op, seed, text, after);
  }
}

// Depth limit 2: w1 = SIN(SIN(SIN(X01))), w2 = X02 + X03 (point: its root). k1 = 1: X02 + X03 is
// at the limit; 3: SIN(SIN(X02 + X03)) too deep, second SIN(X01) fits; 2: both 3 deep, w1 copied.
// Seed 181 selects trader 340 in both tournaments (8 draws); LeaveProb 10: terminal 3 (Y02) of the
// first copy takes terminal 1 (X01) of the second; 0: function node 3 (SIN) the whole copy.
TEST_F(OperatorsTest, CrossoverFallsBackWhenTooDeepAndCrossesATraderWithItselfOnTwoCopies) {
  for (auto [limit, leave, seed, w1, w2, text, after] :
       {std::tuple{2, 0, 1u, 16, 102, "X02X03+", 1598751577u},
        {2, 0, 2u, 32, 273, "X01SIN", 2502596922u},
        {2, 0, 3u, 48, 443, "X01SINSINSIN", 3406442267u},
        {17, 10, 181u, 340, 0, "X01R(1.50 )SIN+X01*", 1082156429u},
        {17, 0, 181u, 340, 0, "X01X01R(1.50 )SIN+Y02*+Y02*", 1082156429u}}) {
    std::tie(sim.P.DepthLimit, sim.P.LeaveProb) = std::tuple(limit, leave);
    SaveParent(w1, w2 ? "X01SINSINSIN" : Parent);
    if (w2) SaveParent(w2, "X02X03+");
    ExpectOffspring(Crossover, seed, text, after);
  }
  EXPECT_EQ(test::ReadText(ModelFileName(sim, "T", sim.T.PrevBase + 340)), Parent);
}

} // namespace
} // namespace zupo
