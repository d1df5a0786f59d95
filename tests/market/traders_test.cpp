#include "market/traders.h"

#include <chrono>
#include <gtest/gtest.h>
#include <tuple>

#include "core/paths.h"
#include "market/population.h"
#include "model/generate.h"
#include "model/modelfile.h"
#include "testutil.h"

namespace zupo::test {

// Price 10, P+D 11, previous price 9.5; every trader holds 1 share, wealth 110, forecast 10.5.
class MarketTest : public ::testing::Test, public RunFolder {
protected:
  void SetUp() override {
    Params& P = sim.P;
    std::tie(P.H0, P.M0, P.Irate, P.MaxExp, P.G_Gap) = std::tuple(1, 100, 0.01, 10, 5);
    std::tie(P.Lambda, P.Theta1, P.Theta2, P.Theta3) = std::tuple(0.5, 0.1, 0.5, 0.3);
    std::tie(sim.R.RunGen, M.PriceLag[1], M.PriceLag[2], M.PDLag[1]) = std::tuple(1, 10, 9.5, 11);
    for (int k = 0; k < 10; ++k) sim.R.DimA[102 + k] = 10 + k;
    T.Shares.fill(1); // held and desired
    for (int i = 501; i <= 1000; ++i) std::tie(T.Wealth[i], T.Forecast[i]) = std::pair(110, 10.5);
    WriteText(dir / "run/Dstar.txt", "0.25\r\n0.5\r\n");
  }
  double& Desired(int i) { return T.Shares[i]; } // what was obtained, after the clearing
  TraderBook& T = sim.T;
  MarketState& M = sim.M;
};

TEST_F(MarketTest, InitTradersAndUpdateWealth) {
  InitTraders(sim); // LastGapProfit 5 (0.01 * 100 + 1 / 0.01)
  EXPECT_NEAR((double)T.LastGapProfit[500], 505.0, 1e-9);
  EXPECT_EQ(T.Wealth[1000], 110.0L);
  // Generation 1: 0.01 M0 + H0 (11 - 9.5) = 2.5; later 0.01 * 50 + 3 * 1.5.
  for (auto [gen, wealth, gap] : {std::tuple{1, 112.5, 4.5}, {8, 115.0, 7.0}}) {
    std::tie(sim.R.RunGen, T.Money[7], Desired(7), T.GapProfit[7]) = std::tuple(gen, 50, 3, 2);
    UpdateWealth(sim);
    EXPECT_NEAR((double)T.Wealth[7], wealth, 1e-12) << "generation " << gen;
    EXPECT_NEAR((double)T.GapProfit[7], gap, 1e-12) << "generation " << gen;
  }
  sim.P.Irate = 0; // the holding term then counts 0 rather than dividing by 0
  InitTraders(sim);
  EXPECT_EQ(T.LastGapProfit[1], 0.0L);
}

// Rows: Lambda, Irate, price, v; forecast, demand. Demand (Forecast - (1 + r) P) / (Lambda Sigma)
// and its limits; forecast 11 (1 + 0.1 tanh(0.5 v)) up to |v| <= MaxExp, the sign beyond.
TEST_F(MarketTest, Demand) {
  const double f2 = 11.83775357155134, f10 = 12.099900124688855;
  const std::tuple<const char*, double, double, double, long double, double, double> cases[] = {
      {"Sigma 6.49", 0.5, 0.01, 10, 2, f2, 0.5353797909785903},
      {"Lambda 0, v 0: forecast = (1 + r) P = 11", 0, 0.375, 8, 0, 11, 0},
      {"2.68e-7 is below the tolerance", 1e6, 0.01, 10, 2, f2, 0},
      {"267.7 costs more than 110: cut to 110 / 10", 0.001, 0.01, 10, 2, f2, 11},
      {"wealth -5: no holding (not a short one)", 0.001, 0.01, 10, 2, f2, 0},
      {"price 0: no holding", 0.5, 0.01, 0, 2, f2, 0},
      {"Lambda 0, v = MaxExp: all the wealth buys", 0, 0.01, 10, 10, f10, 11},
      {"Lambda 0, v = -MaxExp: nothing", 0, 0.01, 10, -10, 22 - f10, 0},
      {"v above MaxExp", 0, 0.01, 10, 10.000001L, 12.1, 11},
      {"v far below -MaxExp: forecast below 10.1", 0.5, 0.01, 10, -1e300L, 9.9, 0}};
  T.Wealth[505] = -5; // the fifth row
  int i = 0;
  for (auto [what, lambda, irate, price, v, forecast, demand] : cases) {
    std::tie(sim.P.Lambda, sim.P.Irate, M.PriceLag[1]) = std::tuple(lambda, irate, price);
    EXPECT_NEAR(TraderDemand(sim, ++i, v), demand, 1e-10) << what;
    EXPECT_NEAR((double)T.Forecast[i], forecast, 1e-12) << what;
  }
  std::tie(sim.P.Lambda, sim.P.Theta3) = std::tuple(0.5, 0); // with a flat window: Sigma 0
  for (int k = 102; k <= 111; ++k) sim.R.DimA[k] = 12;
  EXPECT_EQ(TraderDemand(sim, 21, 2.0L), 11.0);
}

// Wishes changed from 1; counts and totals; the price times 1 + tanh(2e-5 (bid - offer)); holdings:
// the short side filled, the long side rationed alike, a remainder below 1e-5 none.
TEST_F(MarketTest, Clearing) {
  using Holdings = std::vector<std::pair<int, double>>;
  using Book = std::tuple<int, int, int, double, double>;
  const double b = 1.999999; // buys 0.999999 of 1 offered
  const std::tuple<Holdings, Book, double, Holdings> cases[] = {
      {{}, {0, 0, 500, 0, 0}, 10, {{1, 1}}},
      {{{1, 5}}, {1, 0, 499, 4, 0}, 10.000799999998293, {{1, 1}}}, // buyers only: no trade
      {{{1, 2}, {2, 0}}, {1, 1, 498, 1, 1}, 10, {{1, 2}, {2, 0}}}, // bid = offer: both filled
      {{{1, 3}, {2, 0.5}}, {1, 1, 498, 2, 0.5}, 10.00029999999991, {{1, 1.5}, {2, 0.5}, {3, 1}}},
      {{{1, 0}, {2, 0}, {3, 2}}, {1, 2, 497, 1, 2}, 9.999800000000003, {{1, 0.5}, {3, 2}}},
      {{{1, 0}, {2, b}}, {1, 1, 498, Round6(b - 1), 1}, 9.9999999998, {{1, 0}, {2, Round6(b)}}}};
  for (const auto& [want, book, price, got] : cases) {
    for (int i = 1; i <= MaxTraders; ++i) Desired(i) = 1;
    for (auto [i, h] : want) Desired(i) = h;
    ClearMarket(sim);
    EXPECT_EQ(std::tuple(M.BuyNo, M.SellNo, M.BeSNo, M.TotalBid, M.TotalOffer), book);
    EXPECT_NEAR((double)M.NewPrice, price, 1e-12);
    for (auto [i, h] : got) EXPECT_EQ(Desired(i), h) << "trader " << i;
  }
}

// Number t of Dstar.txt, or the last; the numbers are read again when size or time change.
TEST_F(MarketTest, DividendFile) {
  const std::string path = dir / "run/Dstar.txt";
  const auto stamp = std::filesystem::last_write_time(path);
  const std::tuple<const char*, int, long double> files[] = {
      {"0.5 ignored\r\n\r\n   \n  0.75\n-1.25\n", 0, 0.75}, // rest of line, blank lines skipped
      {"1.5\n", 0, 1.5},                                    // fewer numbers: the last; a new size
      {"2.5\n", 5, 2.5},                                    // same size, new time
      {"\r\n  \r\n", 5, 0}};                                // no numbers
  for (auto [text, seconds, value] : files) {
    WriteText(path, text);
    std::filesystem::last_write_time(path, stamp + std::chrono::seconds(seconds));
    EXPECT_EQ(DividendAt(sim, 2), value) << text;
  }
  std::filesystem::remove(path);
  EXPECT_TRUE(FailsNaming([&] { DividendAt(sim, 1); }, path)); // a missing file stops the run
}

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
  PTreeNode tree;
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
  const char* texts[] = {"R(-1.73 )R(6.73 )-", "R(8.72 )Y02*", "Y02Y01+X02SQRT-", "X01"};
  for (int n = 1; n <= 4; ++n) EXPECT_EQ(zero.Text(n), texts[n - 1]);
  for (int n = 1; n <= 9; n += 2) EXPECT_TRUE(IsFull(zero.Tree(n).get(), 2 + n / 2)) << n;
  EXPECT_TRUE(!run.Exists(501) && zero.Exists(10) && !zero.Exists(11) && over.Exists(550) &&
              !over.Exists(551));
  std::string warning; // growing without a terminal to choose
  zero.sim.Warn = [&](const std::string& m) { warning += m; };
  BuildSymbolSet(zero.sim.S, {"+"}, {}, {}, {}, {}, "");
  GenGrow(zero.sim, zero.tree, 1, 1);
  EXPECT_EQ(warning, "Data Generate Error !!  It order is 2");
}

} // namespace zupo::test
