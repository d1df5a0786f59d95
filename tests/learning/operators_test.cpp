// Genetic operators on small hand-built models. The expected draws come from the generator's
// formula (s := s * 134775813 + 1 mod 2^32; Random(N) = N * s >> 32) worked out separately.
#include "learning/operators.h"

#include <gtest/gtest.h>

#include <tuple>

#include "model/modelfile.h"
#include "testutil.h"

namespace zupo {
namespace {

enum : uint8_t { Plus = 1, Minus, Times, Div, Sin, X01 = 11, X02, X03, Y01, Y02, R };
PTreeNode Node(uint8_t sym, PTreeNode l = {}, PTreeNode r = {}) {
  return std::make_unique<TTreeNode>(sym, 0.0, std::move(r), std::move(l));
}
constexpr const char* Parent = "X01R(1.50 )SIN+Y02*"; // (X01 + SIN(1.50)) * Y02: 4 levels

class OperatorsTest : public ::testing::Test {
protected:
  void SetUp() override {
    test::SetUpRunFolders(sim, dir.Path());
    test::DefaultSymbols(sim);
    sim.P.DepthLimit = 17;
  }
  void SaveParent(int w, const char* text) { // trader w's model of the previous generation
    test::WriteText(ModelFileName(sim, "T", sim.T.PrevBase + w), text);
    sim.ModelTexts.Clear();
  }
  std::string Text(int n) { return test::ReadText(ModelFileName(sim, "T", n)); }
  void ExpectOffspring(auto op, uint32_t seed, const char* text, uint32_t after) {
    sim.Rand.Seed = seed;
    op(sim, I);
    EXPECT_EQ(Text(I), text) << seed;
    EXPECT_EQ(sim.Rand.Seed, after) << seed;
  }

  test::TempDir dir;
  Simulation sim;
  static constexpr int I = 7; // the offspring's trader: model CurBase + 7 = 7
};

TEST_F(OperatorsTest, PicksCountNodesInPreorder) {
  // (X01 + SIN(X02)) * (Y01 - R): every symbol once, so a symbol names its node.
  PTreeNode T =
      Node(Times, Node(Plus, Node(X01), Node(Sin, Node(X02))), Node(Minus, Node(Y01), Node(R)));
  const uint8_t pre[] = {Times, Plus, X01, Sin, X02, Minus, Y01, R};
  const uint8_t leaves[] = {X01, X02, Y01, R}, inner[] = {Times, Plus, Sin, Minus};
  for (int k = 1; k <= 8; ++k) EXPECT_EQ(PickNode(T, k).Ref()->Sym, pre[k - 1]) << k;
  for (int k = 1; k <= 4; ++k) {
    EXPECT_EQ(PickLeaf(sim, T, k).Ref()->Sym, leaves[k - 1]) << k;
    EXPECT_EQ(PickInner(sim, T, k).Ref()->Sym, inner[k - 1]) << k;
  }

  PTreeNode leaf = Node(X03); // a single terminal: every pick is the root
  EXPECT_EQ(PickNode(leaf, 1).Root, &leaf);
  EXPECT_EQ(PickLeaf(sim, leaf, 1).Root, &leaf);
  EXPECT_EQ(PickInner(sim, leaf, sim.Rand.Random(0) + 1).Root, &leaf); // no function node
}

// Seed 12345 draws a = 193, then b = 145, leaving the seed at 1242767767. The larger GapProfit
// and the smaller Mape win.
TEST_F(OperatorsTest, TournamentTiesGoToTheFirstDraw) {
  for (auto [g193, g145, winner] : {std::tuple{0, 0, 193}, {0, 1, 145}, {1, 1, 193}}) {
    sim.T.GapProfit[193] = g193;
    sim.T.GapProfit[145] = g145;
    sim.R.Mape[193] = 5 - g193;
    sim.R.Mape[145] = 5 - g145;
    for (auto select : {&SelectParent, &SelectLibrary}) {
      sim.Rand.Seed = 12345;
      EXPECT_EQ(select(sim), winner) << g193 << g145;
      EXPECT_EQ(sim.Rand.Seed, 1242767767u);
    }
  }
}

TEST_F(OperatorsTest, MutationsAtFullRateAndBelowOnePerThousand) {
  sim.P.DepthLimit = 3;
  // X01 R SIN + Y02 *: at full rate every terminal, unary and binary symbol is redrawn in its
  // class. Below 1 the parent is copied: point mutation draws twice for the selection and once
  // per item.
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

// Parent w1 = SIN(SIN(SIN(X01))), w2 = X02 + X03 (whose point is its root); function-node points;
// at most 2 levels. k1 = 1: the roots swap, X02 + X03 has just 2 levels. k1 = 3: SIN(SIN(X02 +
// X03)) is too deep, SIN(X01) fits. k1 = 2: both offspring have 3 levels: parent w1 is copied.
TEST_F(OperatorsTest, CrossoverFallsBackWhenOffspringAreTooDeep) {
  sim.P.DepthLimit = 2;
  sim.P.LeaveProb = 0;
  for (auto [seed, w1, w2, text, after] : {std::tuple{1u, 16, 102, "X02X03+", 1598751577u},
                                           {2u, 32, 273, "X01SIN", 2502596922u},
                                           {3u, 48, 443, "X01SINSINSIN", 3406442267u}}) {
    SaveParent(w1, "X01SINSINSIN");
    SaveParent(w2, "X02X03+");
    ExpectOffspring(Crossover, seed, text, after);
  }
}

// Seed 181 selects trader 340 in both tournaments.
TEST_F(OperatorsTest, CrossoverOfATraderWithItselfWorksOnTwoCopies) {
  SaveParent(340, Parent);
  sim.P.LeaveProb = 10; // terminal 3 (Y02) of the first copy takes terminal 1 (X01) of the second
  ExpectOffspring(Crossover, 181, "X01R(1.50 )SIN+X01*", 1082156429u);
  sim.P.LeaveProb = 0; // function node 3 (SIN) of the first copy takes the whole second copy
  sim.Rand.Seed = 181;
  Crossover(sim, I);
  EXPECT_EQ(Text(I), "X01X01R(1.50 )SIN+Y02*+Y02*");
  EXPECT_EQ(Text(sim.T.PrevBase + 340), Parent);
}

} // namespace
} // namespace zupo
