#include "model/generate.h"

#include <gtest/gtest.h>

#include "model/modelfile.h"
#include "testutil.h"

namespace zupo {
namespace {

std::string Gen(Simulation& sim, bool full, int limit) {
  PTreeNode t;
  (full ? GenFull : GenGrow)(sim, t, 1, limit);
  return TreeText(sim.S, t.get());
}

TEST(Generation, TreesFollowTheDrawsAndTheLimits) {
  Simulation sim;
  test::DefaultSymbols(sim);
  // Expected texts worked out with a separate re-implementation of the generator's draws.
  const std::tuple<uint32_t, bool, int, const char*> cases[] = {
      {12345, true, 3, "X01Y01*X03EXP%"},
      {5, true, 3, "Y01Y01-R(-5.21 )Y02*-"},
      {98, false, 4, "R(-7.60 )Y01+Y01+X02R(5.05 )+SQRT%"},
      {777, false, 4, "X03SINABSEXP"}};
  for (int pass = 1; pass <= 2; ++pass) // the same seed gives the same trees every time
    for (const auto& [seed, full, limit, text] : cases) {
      sim.Rand.Seed = seed;
      EXPECT_EQ(Gen(sim, full, limit), text) << seed << " pass " << pass;
    }

  PTreeNode t; // GenFull(1, 2) and GenGrow(1, L) over many seeds
  for (uint32_t seed = 1; seed <= 1000; ++seed) {
    sim.Rand.Seed = seed;
    GenFull(sim, t, 1, 2);
    ASSERT_EQ(TreeDepth(t.get()), 2);
    EXPECT_EQ(TreeSize(t.get()), sim.S.IsBinary(t->Sym) ? 3 : 2);
    const int limit = 1 + static_cast<int>(seed % 6);
    GenGrow(sim, t, 1, limit);
    ASSERT_GE(TreeDepth(t.get()), 1);
    ASSERT_LE(TreeDepth(t.get()), limit);
  }
  t.reset(new TTreeNode{11, 0, {}, {}});
  const uint32_t seed = sim.Rand.Seed;
  GenFull(sim, t, 3, 2); // Depth > Limit: no draw, no change
  GenGrow(sim, t, 3, 2);
  EXPECT_EQ(TreeText(sim.S, t.get()), "X01");
  EXPECT_EQ(sim.Rand.Seed, seed);

  std::vector<std::string> warnings;
  sim.Warn = [&](const std::string& m) { warnings.push_back(m); };
  BuildSymbolSet(sim.S, {"+"}, {}, {}, {}, {}, ""); // no terminal to choose
  GenGrow(sim, t, 1, 1);
  EXPECT_EQ(warnings, std::vector<std::string>{"Data Generate Error !!  It order is 2"});
}

} // namespace
} // namespace zupo
