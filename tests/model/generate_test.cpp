#include "model/generate.h"

#include <gtest/gtest.h>

#include "model/modelfile.h"
#include "model/symbols.h"
#include "testutil.h"

namespace zupo {
namespace {

class Generation : public ::testing::Test {
protected:
  void SetUp() override {
    test::DefaultSymbols(sim);
    sim.Warn = [this](const std::string& m) { warnings.push_back(m); };
  }
  std::string Text(const PTreeNode& t) { return TreeText(sim.S, t.get()); }
  Simulation sim;
  std::vector<std::string> warnings;
};

// Every leaf of T stands at level `level`; functions have the operands their kind needs.
void ExpectFullShape(const SymbolSet& S, const TTreeNode* t, int level, int limit) {
  ASSERT_NE(t, nullptr);
  if (level == limit) {
    EXPECT_TRUE(S.IsTerminal(t->Sym));
    EXPECT_TRUE(!t->Left && !t->Right);
    return;
  }
  ASSERT_TRUE(S.IsFunction(t->Sym));
  ExpectFullShape(S, t->Left.get(), level + 1, limit);
  if (S.IsBinary(t->Sym))
    ExpectFullShape(S, t->Right.get(), level + 1, limit);
  else
    EXPECT_EQ(t->Right, nullptr);
}

TEST_F(Generation, RandomConstantDrawOrder) {
  sim.Rand.Seed = 42; // draws 3, 87, 0 then 1, 1, 1
  EXPECT_NEAR(RandomConstant(sim), 3.87, 1e-11);
  EXPECT_NEAR(RandomConstant(sim), -1.01, 1e-11);
}

TEST_F(Generation, FixedSeedsGiveKnownTrees) {
  // Expected texts worked out with a separate re-implementation of the generator's draws.
  PTreeNode t;
  sim.Rand.Seed = 12345;
  GenFull(sim, t, 1, 3);
  EXPECT_EQ(Text(t), "X01Y01*X03EXP%");
  sim.Rand.Seed = 5;
  GenFull(sim, t, 1, 3);
  EXPECT_EQ(Text(t), "Y01Y01-R(-5.21 )Y02*-");
  sim.Rand.Seed = 98;
  GenGrow(sim, t, 1, 4);
  EXPECT_EQ(Text(t), "R(-7.60 )Y01+Y01+X02R(5.05 )+SQRT%");
  sim.Rand.Seed = 777;
  GenGrow(sim, t, 1, 4);
  EXPECT_EQ(Text(t), "X03SINABSEXP");
}

TEST_F(Generation, FullTreesHaveAllLeavesAtTheLimit) {
  for (uint32_t seed = 1; seed <= 300; ++seed) {
    sim.Rand.Seed = seed;
    PTreeNode t;
    GenFull(sim, t, 1, 2);
    ASSERT_EQ(TreeDepth(t.get()), 2);
    int size = TreeSize(t.get());
    EXPECT_EQ(size, sim.S.IsBinary(t->Sym) ? 3 : 2);
    int limit = 2 + static_cast<int>(seed % 5);
    GenFull(sim, t, 1, limit);
    ExpectFullShape(sim.S, t.get(), 1, limit);
    GenFull(sim, t, 4, 4);
    EXPECT_EQ(TreeSize(t.get()), 1);
  }
}

TEST_F(Generation, GrownTreesStayWithinTheLimit) {
  int terminalRoots = 0;
  const int runs = 2000;
  for (int k = 0; k < runs; ++k) {
    sim.Rand.Seed = static_cast<uint32_t>(k * 7919 + 1);
    PTreeNode t;
    int limit = 2 + k % 5;
    GenGrow(sim, t, 1, limit);
    int depth = TreeDepth(t.get());
    ASSERT_GE(depth, 1);
    ASSERT_LE(depth, limit);
    if (depth == 1) ++terminalRoots;
    GenGrow(sim, t, 3, 3);
    EXPECT_EQ(TreeSize(t.get()), 1);
  }
  EXPECT_NEAR(terminalRoots, runs / 2, runs / 20);
}

TEST_F(Generation, SameSeedSameTrees) {
  std::vector<std::string> first;
  for (int pass = 0; pass < 2; ++pass) {
    sim.Rand.Seed = 99;
    for (int i = 0; i < 50; ++i) {
      PTreeNode t;
      if (i % 2)
        GenGrow(sim, t, 1, 6);
      else
        GenFull(sim, t, 1, 2 + i % 5);
      if (pass == 0)
        first.push_back(Text(t));
      else
        EXPECT_EQ(Text(t), first[static_cast<size_t>(i)]);
    }
  }
}

TEST_F(Generation, DepthBeyondLimitLeavesTheTree) {
  PTreeNode t = std::make_unique<TTreeNode>();
  t->Sym = 11;
  uint32_t seed = sim.Rand.Seed = 3;
  GenFull(sim, t, 3, 2);
  GenGrow(sim, t, 3, 2);
  EXPECT_EQ(Text(t), "X01");
  EXPECT_EQ(sim.Rand.Seed, seed); // no draw
}

TEST_F(Generation, EmptyTerminalSetIsReported) {
  BuildSymbolSet(sim.S, {"+"}, {}, {}, {}, {}, "");
  PTreeNode t = std::make_unique<TTreeNode>();
  GenGrow(sim, t, 1, 1);
  EXPECT_EQ(t, nullptr);
  EXPECT_EQ(warnings, std::vector<std::string>{"Data Generate Error !!  It order is 2"});
}

TEST(TreeMeasures, DepthAndSize) {
  EXPECT_EQ(TreeDepth(nullptr), 0);
  EXPECT_EQ(TreeSize(nullptr), 0);
  TTreeNode root;
  root.Left = std::make_unique<TTreeNode>();
  root.Right = std::make_unique<TTreeNode>();
  root.Right->Left = std::make_unique<TTreeNode>();
  root.Right->Left->Left = std::make_unique<TTreeNode>();
  EXPECT_EQ(TreeDepth(&root), 4);
  EXPECT_EQ(TreeSize(&root), 5);
}

} // namespace
} // namespace zupo
