// Genetic operators on small models. Expected draws follow s := s * 134775813 + 1 (mod 2^32),
// Random(N) = N * s >> 32, worked out separately.
#include "learning/operators.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <tuple>

#include "model/modelfile.h"
#include "testutil.h"

namespace zupo {
namespace {

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
    sim.Models.Clear();
  }
  void ExpectOffspring(auto op, uint32_t seed, const char* text, uint32_t after) {
    sim.Rand.Seed = seed;
    op(sim, I);
    // The candidate is held in memory; its file is written when the search is over.
    EXPECT_FALSE(std::filesystem::exists(ModelFileName(sim, "T", I)));
    FlushModel(sim, I);
    EXPECT_EQ(test::ReadText(ModelFileName(sim, "T", I)), text) << seed;
    std::filesystem::remove(ModelFileName(sim, "T", I));
    sim.Models.Clear();
    EXPECT_EQ(sim.Rand.Seed, after) << seed;
  }

  test::TempDir dir;
  Simulation sim;
  static constexpr int I = 7; // the offspring's trader: model CurBase + 7 = 7
};

TEST_F(OperatorsTest, PicksCountNodesInPreorder) {
  SaveParent(1, "X01X02SIN+Y01R(1.00 )-*"); // (X01 + SIN(X02)) * (Y01 - R)
  int n, m;
  PTreeNode T = ReadTree(sim, sim.T.PrevBase + 1, n, m);
  const char* pre[] = {"*", "+", "X01", "SIN", "X02", "-", "Y01", "R"};
  const int leaves[] = {3, 5, 7, 8}, inner[] = {1, 2, 4, 6};
  for (int k = 1; k <= 8; ++k) EXPECT_EQ(PickNode(T, k).Ref()->Sym, LookupSym(sim.S, pre[k - 1]));
  for (int k = 1; k <= 4; ++k) {
    EXPECT_EQ(&PickLeaf(sim, T, k).Ref(), &PickNode(T, leaves[k - 1]).Ref()) << k;
    EXPECT_EQ(&PickInner(sim, T, k).Ref(), &PickNode(T, inner[k - 1]).Ref()) << k;
  }
  PTreeNode& leaf = T->Left->Left; // X01 as a tree of its own: every pick is the root
  EXPECT_EQ(PickNode(leaf, 1).Root, &leaf);
  EXPECT_EQ(PickLeaf(sim, leaf, 1).Root, &leaf);
  EXPECT_EQ(PickInner(sim, leaf, sim.Rand.Random(0) + 1).Root, &leaf); // no function node
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

// w1 = SIN(SIN(SIN(X01))), w2 = X02 + X03 (point: its root); 2 levels at most. k1 = 1: X02 + X03 is
// at the limit; 3: SIN(SIN(X02 + X03)) too deep, second SIN(X01) fits; 2: both 3 deep, w1 copied.
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

TEST_F(OperatorsTest, CrossoverOfATraderWithItselfWorksOnTwoCopies) {
  SaveParent(340, Parent); // seed 181 selects trader 340 in both tournaments; 8 draws in all
  sim.P.LeaveProb = 10; // terminal 3 (Y02) of the first copy takes terminal 1 (X01) of the second
  ExpectOffspring(Crossover, 181, "X01R(1.50 )SIN+X01*", 1082156429u);
  sim.P.LeaveProb = 0; // function node 3 (SIN) of the first copy takes the whole second copy
  ExpectOffspring(Crossover, 181, "X01X01R(1.50 )SIN+Y02*+Y02*", 1082156429u);
  EXPECT_EQ(test::ReadText(ModelFileName(sim, "T", sim.T.PrevBase + 340)), Parent);
}

} // namespace
} // namespace zupo
