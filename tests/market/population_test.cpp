#include "market/population.h"

#include <gtest/gtest.h>

#include "core/paths.h"
#include "model/generate.h"
#include "model/modelfile.h"
#include "testutil.h"

namespace zupo::test {

// A fresh run's population; every trader holds 1 and wants -1 so that each evaluation shows.
struct Population {
  Population(uint32_t seed, int full, int grow) {
    SetUpRunFolders(sim, dir.Path());
    DefaultSymbols(sim);
    std::tie(sim.P.Full, sim.P.Grow, sim.Rand.Seed) = std::tuple(full, grow, seed);
    for (int i = 1; i <= MaxTraders; ++i) sim.T.Shares[i] = -1, sim.T.Shares[500 + i] = 1;
    InitPopulation(sim, 0);
  }
  std::string Text(int n) { return ReadText(ModelFileName(sim, "T", n)); }
  bool Exists(int n) { return FileExists(ModelFileName(sim, "T", n)); }
  PTreeNode Tree(int n) { return ReadTree(sim, n, nodes, terms); }

  TempDir dir;
  Simulation sim;
  int nodes = 0, terms = 0;
};

bool IsFull(const TTreeNode* T, int L) {
  if (!T->Left) return L == 1;
  return IsFull(T->Left.get(), L - 1) && (!T->Right || IsFull(T->Right.get(), L - 1));
}

// Full 10, Grow 90: 1..10 full of depth 2, 11..100 grown of depth <= 2, 101..110 full of depth 3..
TEST(InitPopulation, RampsOverTheDepthsTheSameForASeed) {
  Population run(4242, 10, 90), twin(4242, 10, 90);
  for (int n = 1; n <= 500; ++n) {
    SCOPED_TRACE(n);
    const int L = 2 + (n - 1) / 100;
    PTreeNode T = run.Tree(n);
    ASSERT_TRUE(T);
    EXPECT_EQ(std::pair(run.sim.T.ModelDepth[n], run.sim.T.ModelSize[n]),
              std::pair(TreeDepth(T.get()), run.nodes));
    EXPECT_TRUE(((n - 1) % 100 >= 10 || IsFull(T.get(), L)) && run.sim.T.ModelDepth[n] <= L);
    EXPECT_NE(run.sim.T.Shares[n], -1.0) << "not evaluated";
    ASSERT_EQ(run.Text(n), twin.Text(n));
  }
  EXPECT_FALSE(run.Exists(501));
}

// Full = Grow = 0: a full and a grown tree per depth (seed 36's texts by hand).
// Full 20, Grow 90: depth 6 makes 441..460 full and 461..550 grown, saved but given to no trader.
TEST(InitPopulation, CountsOfZeroOrPastTheTraders) {
  Population run(36, 0, 0), over(7, 20, 90);
  const char* texts[] = {"R(-1.73 )R(6.73 )-", "R(8.72 )Y02*", "Y02Y01+X02SQRT-", "X01"};
  for (int n = 1; n <= 4; ++n) EXPECT_EQ(run.Text(n), texts[n - 1]);
  for (int n = 1; n <= 9; n += 2) EXPECT_TRUE(IsFull(run.Tree(n).get(), 2 + n / 2)) << n;
  EXPECT_TRUE(run.Exists(10) && !run.Exists(11));
  EXPECT_TRUE(over.Exists(550) && !over.Exists(551));
  for (int i = 1; i <= MaxTraders; ++i) ASSERT_EQ(over.sim.T.Shares[500 + i], 1.0) << i;
}

} // namespace zupo::test
