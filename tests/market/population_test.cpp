#include "market/population.h"

#include <gtest/gtest.h>
#include <string>

#include "core/paths.h"
#include "model/generate.h"
#include "model/modelfile.h"
#include "testutil.h"

namespace zupo {
namespace {

using test::ReadText;
using test::TempDir;

// A fresh run's state with the default symbols (+ - * %, six functions, X01..X03, Y01, Y02,
// constant R) and Lambda = 0, so that every evaluated trader wants either nothing or all its
// wealth buys (110 / 10 = 11).
void SetUpRun(Simulation& sim, const TempDir& dir, uint32_t seed, int full, int grow) {
  test::SetUpRunFolders(sim, dir.Path());
  test::DefaultSymbols(sim);
  Params& P = sim.P;
  P.Full = full;
  P.Grow = grow;
  P.Irate = 0.01;
  P.Theta1 = 0.1;
  P.Theta2 = 0.5;
  P.Theta3 = 0.3;
  P.MaxExp = 10;
  sim.M.PriceLag = {0, 10, 9.5, 9};
  sim.M.PDLag = {0, 11, 10};
  for (int i = 1; i <= MaxTraders; ++i) {
    sim.T.Shares[sim.T.PrevBase + i] = 1;
    sim.T.Wealth[sim.T.PrevBase + i] = 110;
  }
  sim.Rand.Seed = seed;
}

std::string ModelText(const Simulation& sim, int n) {
  return ReadText(ModelFileName(sim, "T", n));
}

// True when every leaf of T stands at level `limit` (T at `level`).
bool IsFull(const TTreeNode* T, int level, int limit) {
  if (!T->Left) return level == limit && !T->Right;
  if (!IsFull(T->Left.get(), level + 1, limit)) return false;
  return !T->Right || IsFull(T->Right.get(), level + 1, limit);
}

TEST(InitPopulation, RampsFullAndGrownTreesOverTheDepths) {
  TempDir dir;
  Simulation sim;
  SetUpRun(sim, dir, 4242, 10, 90);
  InitPopulation(sim, 0);
  for (int n = 1; n <= 500; ++n) {
    const int L = 2 + (n - 1) / 100;
    const bool full = (n - 1) % 100 < 10;
    int nodes = 0, terms = 0;
    PTreeNode T = ReadTree(sim, n, nodes, terms);
    ASSERT_TRUE(T) << "model " << n;
    EXPECT_EQ(sim.T.ModelDepth[n], TreeDepth(T.get())) << "model " << n;
    EXPECT_EQ(sim.T.ModelSize[n], nodes) << "model " << n;
    if (full) {
      EXPECT_TRUE(IsFull(T.get(), 1, L))
          << "model " << n << " should be a full tree of depth " << L;
    } else {
      EXPECT_GE(sim.T.ModelDepth[n], 1);
      EXPECT_LE(sim.T.ModelDepth[n], L) << "model " << n;
    }
  }
  EXPECT_FALSE(FileExists(ModelFileName(sim, "T", 501)));
}

TEST(InitPopulation, EveryTraderIsEvaluatedIntoTheCurrentHalf) {
  TempDir dir;
  Simulation sim;
  SetUpRun(sim, dir, 4242, 10, 90);
  for (int i = 1; i <= MaxTraders; ++i) sim.T.Shares[sim.T.CurBase + i] = -1;
  InitPopulation(sim, 0);
  int buyers = 0, sellers = 0;
  for (int i = 1; i <= MaxTraders; ++i) {
    const double h = sim.T.Shares[sim.T.CurBase + i];
    // 11 = everything the wealth buys; 0 = nothing; 1 = an abandoned evaluation keeps the holding
    ASSERT_TRUE(h == 11 || h == 0 || h == 1) << "trader " << i << " holds " << h;
    buyers += h == 11;
    sellers += h == 0;
    EXPECT_NE(sim.T.Forecast[sim.T.CurBase + i], 0.0L) << "trader " << i;
  }
  EXPECT_GT(buyers, 0);
  EXPECT_GT(sellers, 0);
  EXPECT_EQ(sim.T.Shares[sim.T.PrevBase + 1], 1.0); // the held half is untouched
}

TEST(InitPopulation, SameSeedSameModels) {
  TempDir a, b, c;
  Simulation sa, sb, sc;
  SetUpRun(sa, a, 99, 10, 90);
  SetUpRun(sb, b, 99, 10, 90);
  SetUpRun(sc, c, 100, 10, 90);
  InitPopulation(sa, 0);
  InitPopulation(sb, 0);
  InitPopulation(sc, 0);
  int differ = 0;
  for (int n = 1; n <= 500; ++n) {
    ASSERT_EQ(ModelText(sa, n), ModelText(sb, n)) << "model " << n;
    ASSERT_EQ(sa.T.Shares[n], sb.T.Shares[n]) << "trader " << n;
    differ += ModelText(sa, n) != ModelText(sc, n);
  }
  EXPECT_GT(differ, 100);
}

// Without Full and Grow each depth still gets one full and one grown tree. The texts follow
// from the generator's draws for seed 36 worked out by hand.
TEST(InitPopulation, ZeroCountsStillMakeOneTreeOfEachKindPerDepth) {
  TempDir dir;
  Simulation sim;
  SetUpRun(sim, dir, 36, 0, 0);
  InitPopulation(sim, 0);
  EXPECT_EQ(ModelText(sim, 1), "R(-1.73 )R(6.73 )-");
  EXPECT_EQ(ModelText(sim, 2), "R(8.72 )Y02*");
  EXPECT_EQ(ModelText(sim, 3), "Y02Y01+X02SQRT-");
  EXPECT_EQ(ModelText(sim, 4), "X01");
  for (int n = 1; n <= 10; n += 2) {
    int nodes = 0, terms = 0;
    PTreeNode T = ReadTree(sim, n, nodes, terms);
    EXPECT_TRUE(IsFull(T.get(), 1, 2 + n / 2)) << "model " << n;
  }
  EXPECT_TRUE(FileExists(ModelFileName(sim, "T", 10)));
  EXPECT_FALSE(FileExists(ModelFileName(sim, "T", 11)));
  EXPECT_EQ(sim.T.ModelDepth[11], 0); // no model, no measures
}

// More than 100 models per depth: the models past the 500 trader slots are saved, but no
// trader is measured or evaluated for them (the previous half keeps its holdings).
TEST(InitPopulation, ModelsBeyondTheTraderSlotsAreOnlySaved) {
  TempDir dir;
  Simulation sim;
  SetUpRun(sim, dir, 7, 20, 90);
  InitPopulation(sim, 0);
  EXPECT_TRUE(FileExists(ModelFileName(sim, "T", 550)));
  EXPECT_FALSE(FileExists(ModelFileName(sim, "T", 551)));
  for (int i = 1; i <= MaxTraders; ++i) ASSERT_EQ(sim.T.Shares[sim.T.PrevBase + i], 1.0);
  // Depth 6 makes models 441..460 full and 461..550 grown.
  int nodes = 0, terms = 0;
  PTreeNode T = ReadTree(sim, 460, nodes, terms);
  EXPECT_TRUE(IsFull(T.get(), 1, 6));
  EXPECT_EQ(sim.T.ModelDepth[460], 6);
  EXPECT_LE(sim.T.ModelDepth[500], 6);
}

// A population made for the other half (G = 1) is numbered 501 onwards and still belongs to
// traders 1..500.
TEST(InitPopulation, SecondHalfPopulationBelongsToTradersOneToFiveHundred) {
  TempDir dir;
  Simulation sim;
  SetUpRun(sim, dir, 36, 0, 0);
  InitPopulation(sim, 1);
  EXPECT_EQ(ModelText(sim, 501), "R(-1.73 )R(6.73 )-");
  EXPECT_FALSE(FileExists(ModelFileName(sim, "T", 1)));
  EXPECT_EQ(sim.T.ModelDepth[1], 2);
  EXPECT_EQ(sim.T.ModelSize[1], 3);
  EXPECT_EQ(sim.T.ModelDepth[9], 6);
}

} // namespace
} // namespace zupo
