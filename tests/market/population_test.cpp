#include "market/population.h"

#include <gtest/gtest.h>

#include "core/paths.h"
#include "model/generate.h"
#include "model/modelfile.h"
#include "testutil.h"

namespace zupo::test {

// A fresh run's population; every trader holds 1 and wants -1 so that each evaluation shows.
struct Population : RunFolder {
  Population(uint32_t seed, int full, int grow) {
    std::tie(sim.P.Full, sim.P.Grow, sim.Rand.Seed) = std::tuple(full, grow, seed);
    for (int i = 1; i <= MaxTraders; ++i) sim.T.Shares[i] = -1, sim.T.Shares[500 + i] = 1;
    InitPopulation(sim, 0);
  }
  std::string Text(int n) { return ReadText(ModelFileName(sim, "T", n)); }
  bool Exists(int n) { return FileExists(ModelFileName(sim, "T", n)); }
  PTreeNode Tree(int n) { return ReadTree(sim, n, nodes, terms); }
  int nodes = 0, terms = 0;
};

bool IsFull(const TTreeNode* T, int L) {
  if (!T->Left) return L == 1;
  return IsFull(T->Left.get(), L - 1) && (!T->Right || IsFull(T->Right.get(), L - 1));
}

// Full 10, Grow 90: 1..10 full of depth 2, 11..100 grown to depth 2, 101..110 full of depth 3...
// Full = Grow = 0: a full and a grown tree per depth (seed 36's texts by hand). Full 20, Grow 90:
// depth 6 makes 441..550, saved but given to no trader.
TEST(InitPopulation, RampsOverTheDepthsWhateverTheCounts) {
  Population run(4242, 10, 90), zero(36, 0, 0), over(7, 20, 90);
  for (int n = 1; n <= 500; ++n) {
    SCOPED_TRACE(n);
    const int L = 2 + (n - 1) / 100;
    PTreeNode T = run.Tree(n);
    ASSERT_TRUE(T);
    EXPECT_EQ(std::pair(run.sim.T.ModelDepth[n], run.sim.T.ModelSize[n]),
              std::pair(TreeDepth(T.get()), run.nodes));
    EXPECT_TRUE(((n - 1) % 100 >= 10 || IsFull(T.get(), L)) && run.sim.T.ModelDepth[n] <= L);
    EXPECT_NE(run.sim.T.Shares[n], -1.0) << "not evaluated";
    ASSERT_EQ(over.sim.T.Shares[500 + n], 1.0) << "given a model past the traders";
  }
  EXPECT_FALSE(run.Exists(501));
  const char* texts[] = {"R(-1.73 )R(6.73 )-", "R(8.72 )Y02*", "Y02Y01+X02SQRT-", "X01"};
  for (int n = 1; n <= 4; ++n) EXPECT_EQ(zero.Text(n), texts[n - 1]);
  for (int n = 1; n <= 9; n += 2) EXPECT_TRUE(IsFull(zero.Tree(n).get(), 2 + n / 2)) << n;
  EXPECT_TRUE(zero.Exists(10) && !zero.Exists(11) && over.Exists(550) && !over.Exists(551));
}

// The draws of generated trees show in the population's texts above.
TEST(Generation, NothingBeyondTheLimitAndAWarningWithoutTerminals) {
  Simulation sim;
  DefaultSymbols(sim);
  PTreeNode t;
  sim.Rand.Seed = 12345;
  GenFull(sim, t, 1, 3);
  const auto before = std::pair(TreeText(sim.S, t.get()), sim.Rand.Seed);
  GenFull(sim, t, 3, 2); // Depth > Limit: no draw, no change
  GenGrow(sim, t, 3, 2);
  EXPECT_EQ(std::pair(TreeText(sim.S, t.get()), sim.Rand.Seed), before);
  std::string warning;
  sim.Warn = [&](const std::string& m) { warning += m; };
  BuildSymbolSet(sim.S, {"+"}, {}, {}, {}, {}, ""); // no terminal to choose
  GenGrow(sim, t, 1, 1);
  EXPECT_EQ(warning, "Data Generate Error !!  It order is 2");
}

} // namespace zupo::test
