#include "model/generate.h"

#include <gtest/gtest.h>

#include "model/modelfile.h"
#include "testutil.h"

namespace zupo {
namespace {

TEST(Generation, TreesFollowTheDrawsAndTheLimits) {
  Simulation sim;
  test::DefaultSymbols(sim);
  // Expected texts worked out with a separate re-implementation of the generator's draws.
  const std::tuple<uint32_t, bool, int, const char*> cases[] = {
      {12345, true, 3, "X01Y01*X03EXP%"},
      {5, true, 3, "Y01Y01-R(-5.21 )Y02*-"},
      {98, false, 4, "R(-7.60 )Y01+Y01+X02R(5.05 )+SQRT%"},
      {777, false, 4, "X03SINABSEXP"}};
  PTreeNode t;
  for (int pass = 1; pass <= 2; ++pass) // the same seed gives the same trees every time
    for (const auto& [seed, full, limit, text] : cases) {
      sim.Rand.Seed = seed;
      (full ? GenFull : GenGrow)(sim, t, 1, limit);
      EXPECT_EQ(TreeText(sim.S, t.get()), text) << seed << " pass " << pass;
    }

  for (uint32_t seed = 1; seed <= 1000; ++seed) { // GenFull(1, 2) and GenGrow(1, L)
    sim.Rand.Seed = seed;
    GenFull(sim, t, 1, 2);
    ASSERT_EQ(TreeDepth(t.get()), 2);
    EXPECT_EQ(TreeSize(t.get()), sim.S.IsBinary(t->Sym) ? 3 : 2);
    GenGrow(sim, t, 1, 1 + int(seed % 6));
    ASSERT_TRUE(TreeDepth(t.get()) >= 1 && TreeDepth(t.get()) <= 1 + int(seed % 6)) << seed;
  }
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

} // namespace
} // namespace zupo
