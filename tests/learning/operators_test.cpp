// Genetic operators on small hand-built models. The expected draws come from the generator's
// formula (s := s * 134775813 + 1 mod 2^32; Random(N) = N * s >> 32) worked out separately.
#include "learning/operators.h"

#include <gtest/gtest.h>

#include "model/modelfile.h"
#include "testutil.h"

namespace zupo {
namespace {

using test::ReadText;
using test::TempDir;

// Codes of the default symbol set.
enum : uint8_t {
  Plus = 1,
  Minus,
  Times,
  Div,
  Sin,
  Cos,
  Exp,
  Log,
  Abs,
  Sqrt,
  X01,
  X02,
  X03,
  Y01,
  Y02,
  R
};

PTreeNode Leaf(uint8_t sym, double value = 0) {
  auto n = std::make_unique<TTreeNode>();
  n->Sym = sym;
  n->Value = value;
  return n;
}
PTreeNode Un(uint8_t sym, PTreeNode l) {
  auto n = Leaf(sym);
  n->Left = std::move(l);
  return n;
}
PTreeNode Bin(uint8_t sym, PTreeNode l, PTreeNode r) {
  auto n = Un(sym, std::move(l));
  n->Right = std::move(r);
  return n;
}
// (X01 + SIN(1.50)) * Y02, file text "X01R(1.50 )SIN+Y02*".
PTreeNode Parent() {
  return Bin(Times, Bin(Plus, Leaf(X01), Un(Sin, Leaf(R, 1.5))), Leaf(Y02));
}
PTreeNode Chain(int n, PTreeNode leaf) {
  for (int k = 0; k < n; ++k) leaf = Un(Sin, std::move(leaf));
  return leaf;
}

class OperatorsTest : public ::testing::Test {
protected:
  void SetUp() override {
    test::SetUpRunFolders(sim, dir.Path());
    test::DefaultSymbols(sim);
    sim.P.DepthLimit = 17;
  }
  // Trader w's model of the previous generation.
  void SaveParent(int w, PTreeNode T) { SaveModel(sim, T, sim.T.PrevBase + w); }
  std::string Text(int n) { return ReadText(ModelFileName(sim, "T", n)); }

  TempDir dir;
  Simulation sim;
  static constexpr int I = 7; // the searching trader; its candidate is model CurBase + 7 = 7
};

void ExpectLink(const Link& L, const TTreeNode* parent, bool right) {
  EXPECT_EQ(L.Root, nullptr);
  EXPECT_EQ(L.Parent, parent);
  EXPECT_EQ(L.RightSide, right);
}

TEST_F(OperatorsTest, PicksNumberNodesInPreorder) {
  // (X01 + SIN(X02)) * (Y01 - R): preorder * + X01 SIN X02 - Y01 R
  PTreeNode T =
      Bin(Times, Bin(Plus, Leaf(X01), Un(Sin, Leaf(X02))), Bin(Minus, Leaf(Y01), Leaf(R, 2.5)));
  TTreeNode* mul = T.get();
  TTreeNode* plus = mul->Left.get();
  TTreeNode* sin = plus->Right.get();
  TTreeNode* minus = mul->Right.get();

  EXPECT_EQ(PickNode(T, 1).Root, &T);
  ExpectLink(PickNode(T, 2), mul, false);
  ExpectLink(PickNode(T, 3), plus, false);
  ExpectLink(PickNode(T, 4), plus, true);
  ExpectLink(PickNode(T, 5), sin, false);
  ExpectLink(PickNode(T, 6), mul, true);
  ExpectLink(PickNode(T, 7), minus, false);
  ExpectLink(PickNode(T, 8), minus, true);

  ExpectLink(PickLeaf(sim, T, 1), plus, false);  // X01
  ExpectLink(PickLeaf(sim, T, 2), sin, false);   // X02
  ExpectLink(PickLeaf(sim, T, 3), minus, false); // Y01
  ExpectLink(PickLeaf(sim, T, 4), minus, true);  // R

  EXPECT_EQ(PickInner(sim, T, 1).Root, &T);
  ExpectLink(PickInner(sim, T, 2), mul, false); // +
  ExpectLink(PickInner(sim, T, 3), plus, true); // SIN
  ExpectLink(PickInner(sim, T, 4), mul, true);  // -

  EXPECT_EQ(PickLeaf(sim, T, 2).Ref().get(), sin->Left.get());
  EXPECT_EQ(PickInner(sim, T, 4).Ref().get(), minus);
}

TEST_F(OperatorsTest, SingleTerminalPicksTheRoot) {
  PTreeNode T = Leaf(X03);
  EXPECT_EQ(PickNode(T, 1).Root, &T);
  EXPECT_EQ(PickLeaf(sim, T, 1).Root, &T);
  // No function node: Random(0) + 1 = 1.
  EXPECT_EQ(PickInner(sim, T, sim.Rand.Random(0) + 1).Root, &T);
  EXPECT_EQ(PickLeaf(sim, T, 1).Ref().get(), T.get());
}

TEST_F(OperatorsTest, CappedDepthStopsTwoLevelsBelowTheLimit) {
  PTreeNode one = Leaf(X01);
  EXPECT_EQ(CappedDepth(sim, one.get()), 1);
  EXPECT_EQ(CappedDepth(sim, nullptr), 0);
  PTreeNode p = Parent();
  EXPECT_EQ(CappedDepth(sim, p.get()), 4);

  PTreeNode deep = Chain(30, Leaf(X01)); // 31 levels
  EXPECT_EQ(CappedDepth(sim, deep.get()), 19);
  sim.P.DepthLimit = 2;
  EXPECT_EQ(CappedDepth(sim, deep.get()), 4);
  sim.P.DepthLimit = 40;
  EXPECT_EQ(CappedDepth(sim, deep.get()), 31);
  sim.P.DepthLimit = 31;
  EXPECT_EQ(CappedDepth(sim, deep.get()), 31);
}

// Seed 12345 draws a = 193, then b = 145, leaving the seed at 1242767767.
TEST_F(OperatorsTest, TournamentTiesGoToTheFirstDraw) {
  auto parent = [&] {
    sim.Rand.Seed = 12345;
    int w = SelectParent(sim);
    EXPECT_EQ(sim.Rand.Seed, 1242767767u);
    return w;
  };
  EXPECT_EQ(parent(), 193);
  sim.T.GapProfit[145] = 1;
  EXPECT_EQ(parent(), 145);
  sim.T.GapProfit[193] = 1;
  EXPECT_EQ(parent(), 193);
  sim.T.GapProfit[193] = -2;
  EXPECT_EQ(parent(), 145);

  auto library = [&] {
    sim.Rand.Seed = 12345;
    return SelectLibrary(sim);
  };
  EXPECT_EQ(library(), 193);
  sim.R.Mape[193] = 2;
  sim.R.Mape[145] = 1;
  EXPECT_EQ(library(), 145); // the smaller error wins
  sim.R.Mape[145] = 2;
  EXPECT_EQ(library(), 193);
  sim.R.Mape[145] = 3;
  EXPECT_EQ(library(), 193);
}

TEST_F(OperatorsTest, ReproduceCopiesTheWinnerFromEitherSource) {
  SaveParent(193, Parent());
  sim.Rand.Seed = 12345;
  EXPECT_EQ(Reproduce(sim, I, false), 193);
  EXPECT_EQ(Text(I), "X01R(1.50 )SIN+Y02*");

  test::WriteText(ModelFileName(sim, "T", sim.T.PrevBase + 193, true), "Y01X02%");
  sim.Rand.Seed = 12345;
  EXPECT_EQ(Reproduce(sim, I, true), 193);
  EXPECT_EQ(Text(I), "Y01X02%");
  EXPECT_TRUE(sim.ModelList.empty());
}

TEST_F(OperatorsTest, PointMutationRedrawsEverySymbolAtFullRate) {
  sim.P.MutProb = 1000;
  struct Case {
    uint32_t seed;
    int w;
    const char* text;
    uint32_t after;
  };
  // X01 R SIN + Y02 *: terminal, terminal, unary, binary, terminal, binary.
  for (const Case& c : {Case{4242, 57, "Y01X03SQRT*Y02-", 1230705500u},
                        Case{777, 192, "R(0.41 )R(4.27 )SQRT+X03*", 2676791365u},
                        Case{31337, 177, "X03R(-6.81 )ABS-Y01+", 222011518u}}) {
    SaveParent(c.w, Parent());
    sim.Rand.Seed = c.seed;
    PointMutation(sim, I);
    EXPECT_EQ(Text(I), c.text) << c.seed;
    EXPECT_EQ(sim.Rand.Seed, c.after) << c.seed;
  }
}

TEST_F(OperatorsTest, PointMutationBelowOnePerThousandCopies) {
  sim.P.MutProb = 0.5;
  SaveParent(57, Parent());
  sim.Rand.Seed = 4242;
  PointMutation(sim, I);
  EXPECT_EQ(Text(I), "X01R(1.50 )SIN+Y02*");
  EXPECT_EQ(sim.Rand.Seed, 3696031690u); // two selection draws and one per item
}

TEST_F(OperatorsTest, SubtreeMutationGraftsAGrownSubtree) {
  sim.P.MutProb = 1000;
  sim.P.DepthLimit = 3;
  struct Case {
    uint32_t seed;
    int w;
    const char* text;
    uint32_t after;
  };
  for (const Case& c : {
           Case{24, 377, "X01R(2.55 )+Y02*", 2811864273u},  // node 4 (the SIN) replaced
           Case{3, 48, "R(7.53 )SINY02*", 1118228558u},     // node 2 (the +) replaced
           Case{10, 157, "X02", 609983900u},                // k = 1: the grown tree alone
           Case{1, 16, "X01R(1.50 )SIN+Y02*", 1415176494u}, // 7 levels: the parent is copied
       }) {
    SaveParent(c.w, Parent());
    sim.Rand.Seed = c.seed;
    SubtreeMutation(sim, I);
    EXPECT_EQ(Text(I), c.text) << c.seed;
    EXPECT_EQ(sim.Rand.Seed, c.after) << c.seed;
  }
}

TEST_F(OperatorsTest, SubtreeMutationBelowOnePerThousandCopies) {
  sim.P.MutProb = 0.5;
  SaveParent(16, Parent());
  sim.Rand.Seed = 1;
  SubtreeMutation(sim, I);
  EXPECT_EQ(Text(I), "X01R(1.50 )SIN+Y02*");
  EXPECT_EQ(sim.Rand.Seed, 870078620u); // a, b and r only: nothing grown
}

// Parent w1 = SIN(SIN(SIN(X01))), parent w2 = X02 + X03; function-node points; at most 2 levels.
// The point in the second parent is its root (its only function node).
TEST_F(OperatorsTest, CrossoverFallsBackWhenOffspringAreTooDeep) {
  sim.P.DepthLimit = 2;
  sim.P.LeaveProb = 0;
  struct Case {
    uint32_t seed;
    int w1, w2;
    const char* text;
    uint32_t after;
  };
  for (const Case& c : {
           // k1 = 1: the roots change places; offspring 1 is X02 + X03 and fits.
           Case{1, 16, 102, "X02X03+", 1598751577u},
           // k1 = 3: offspring 1 SIN(SIN(X02 + X03)) is too deep, offspring 2 SIN(X01) fits.
           Case{2, 32, 273, "X01SIN", 2502596922u},
           // k1 = 2: SIN(X02 + X03) and SIN(SIN(X01)) both have 3 levels: parent w1 is copied.
           Case{3, 48, 443, "X01SINSINSIN", 3406442267u},
       }) {
    SaveParent(c.w1, Chain(3, Leaf(X01)));
    SaveParent(c.w2, Bin(Plus, Leaf(X02), Leaf(X03)));
    sim.Rand.Seed = c.seed;
    Crossover(sim, I);
    EXPECT_EQ(Text(I), c.text) << c.seed;
    EXPECT_EQ(sim.Rand.Seed, c.after) << c.seed;
  }
}

TEST_F(OperatorsTest, CrossoverOfTwoTerminalsExchangesWholeTrees) {
  SaveParent(16, Leaf(X01));
  SaveParent(102, Leaf(X02));
  for (int leave : {0, 10}) {
    sim.P.LeaveProb = leave;
    sim.Rand.Seed = 1;
    Crossover(sim, I);
    EXPECT_EQ(Text(I), "X02") << leave;
    EXPECT_EQ(sim.Rand.Seed, 1598751577u) << leave;
  }
}

// Seed 181 selects trader 340 in both tournaments.
TEST_F(OperatorsTest, CrossoverOfATraderWithItselfWorksOnTwoCopies) {
  SaveParent(340, Parent());
  sim.Rand.Seed = 181;
  sim.P.LeaveProb = 10; // terminal 3 (Y02) of the first copy takes terminal 1 (X01) of the second
  Crossover(sim, I);
  EXPECT_EQ(Text(I), "X01R(1.50 )SIN+X01*");
  EXPECT_EQ(sim.Rand.Seed, 1082156429u);

  sim.Rand.Seed = 181;
  sim.P.LeaveProb = 0; // function node 3 (SIN) of the first copy takes the whole second copy
  Crossover(sim, I);
  EXPECT_EQ(Text(I), "X01X01R(1.50 )SIN+Y02*+Y02*");
  EXPECT_EQ(Text(sim.T.PrevBase + 340), "X01R(1.50 )SIN+Y02*");
}

} // namespace
} // namespace zupo
