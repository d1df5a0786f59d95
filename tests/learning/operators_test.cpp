// Draws worked out separately: s := s * 134775813 + 1 (mod 2^32), Random(N) = N * s >> 32.
#include "learning/operators.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <tuple>

#include "model/modelfile.h"
#include "testutil.h"

namespace zupo {
namespace {

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
    op(sim, I); // the candidate is held in memory; its file is written when the search is over
    EXPECT_FALSE(std::filesystem::exists(ModelFileName(sim, "T", I)));
    FlushModel(sim, I);
    EXPECT_EQ(test::ReadText(ModelFileName(sim, "T", I)), text) << seed;
    std::filesystem::remove(ModelFileName(sim, "T", I));
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
