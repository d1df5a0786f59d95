#include "market/traders.h"

#include <chrono>
#include <cmath>
#include <gtest/gtest.h>
#include <random>
#include <tuple>

#include "core/errors.h"
#include "core/real6.h"
#include "testutil.h"

namespace zupo {
namespace {

// Price 10, P+D 11, previous price 9.5; every trader holds 1 share, wealth 110, forecast 10.5.
class MarketTest : public ::testing::Test {
protected:
  void SetUp() override {
    Params& P = sim.P;
    std::tie(P.H0, P.M0, P.Irate, P.MaxExp, P.G_Gap) = std::tuple(1, 100, 0.01, 10, 5);
    std::tie(P.Lambda, P.Theta1, P.Theta2, P.Theta3) = std::tuple(0.5, 0.1, 0.5, 0.3);
    P.Tree_Path1 = dir.Path();
    sim.M.PriceLag = {0, 10, 9.5};
    sim.M.PDLag = {0, 11};
    for (int k = 0; k < 10; ++k) sim.R.DimA[102 + k] = 10 + k;
    sim.R.RunGen = 1;
    for (int i = 1; i <= MaxTraders; ++i)
      std::tie(Held(i), Desired(i), sim.T.Wealth[500 + i], sim.T.Forecast[500 + i]) =
          std::tuple(1, 1, 110, 10.5);
    test::WriteText(dir / "Dstar.txt", "0.25\r\n0.5\r\n");
  }
  double& Held(int i) { return sim.T.Shares[500 + i]; }
  double& Desired(int i) { return sim.T.Shares[i]; } // what was obtained, after the clearing

  test::TempDir dir;
  Simulation sim;
};

TEST_F(MarketTest, InitTradersAndUpdateWealth) {
  InitTraders(sim);
  EXPECT_EQ(sim.T.Wealth[1000], 110.0L);
  EXPECT_NEAR((double)sim.T.LastGapProfit[500], 505.0, 1e-9); // 5 (0.01 * 100 + 1 / 0.01)
  sim.P.Irate = 0; // the holding term then counts 0 rather than dividing by 0
  InitTraders(sim);
  EXPECT_EQ(sim.T.LastGapProfit[1], 0.0L);
  sim.P.Irate = 0.01; // generation 1: 0.01 M0 + H0 (11 - 9.5) = 2.5; later 0.01 * 50 + 3 * 1.5
  for (auto [gen, wealth, gap] : {std::tuple{1, 112.5, 4.5}, {8, 115.0, 7.0}}) {
    std::tie(sim.R.RunGen, sim.T.Money[7], Desired(7), sim.T.GapProfit[7]) =
        std::tuple(gen, 50, 3, 2);
    UpdateWealth(sim);
    EXPECT_NEAR((double)sim.T.Wealth[7], wealth, 1e-12) << "generation " << gen;
    EXPECT_NEAR((double)sim.T.GapProfit[7], gap, 1e-12) << "generation " << gen;
  }
}

// (Forecast - (1 + r) P) / (Lambda Sigma) and its limits; (1 + r) P is 10.1 where Irate is 0.01.
TEST_F(MarketTest, Demand) {
  const std::tuple<const char*, double, double, double, double, long double, double> cases[] = {
      {"forecast 11.84, Sigma 6.49", 0.5, 0.01, 11, 110, 2, 0.5353797909785903},
      {"Lambda 0, v 0: forecast = (1 + r) P = 15", 0, 0.5, 15, 110, 0, 0},
      {"forecast 13.5 < 15", 0.5, 0.5, 15, 110, -50, 0},
      {"2.68e-7 is below the tolerance", 1e6, 0.01, 11, 110, 2, 0},
      {"267.7 costs more than 110: cut to 110 / 10", 0.001, 0.01, 11, 110, 2, 11},
      {"no wealth, no holding (not a short one)", 0.001, 0.01, 11, -5, 2, 0},
      {"Lambda 0, forecast 11.84: all the wealth buys", 0, 0.01, 11, 110, 2, 11},
      {"Lambda 0, forecast 10.16", 0, 0.01, 11, 110, -2, 11},
      {"Lambda 0, forecast 9.9: nothing", 0, 0.01, 11, 110, -50, 0}};
  int i = 0;
  for (auto [what, lambda, irate, pd, wealth, v, demand] : cases) {
    std::tie(sim.P.Lambda, sim.P.Irate, sim.M.PDLag[1], sim.T.Wealth[500 + ++i]) =
        std::tuple(lambda, irate, pd, wealth);
    EXPECT_NEAR(TraderDemand(sim, i, v), demand, 1e-10) << what;
    EXPECT_EQ(sim.T.IsMartingale, v == 0) << what;
  }
  // The squash is tanh(Theta2 v) up to |v| = MaxExp inclusive, the sign beyond.
  const std::pair<long double, double> squash[] = {
      {10, 12.099900124688855}, {-10, 22 - 12.099900124688855}, {10.000001L, 12.1}, {-1e300L, 9.9}};
  for (auto [v, forecast] : squash) {
    TraderDemand(sim, 30, v);
    EXPECT_NEAR((double)sim.T.Forecast[30], forecast, 1e-12) << "v = " << (double)v;
  }
  std::tie(sim.P.Lambda, sim.M.PriceLag[1]) = std::tuple(0.5, 0); // price 0: no holding
  EXPECT_EQ(TraderDemand(sim, 20, 2.0L), 0.0);
  std::tie(sim.P.Theta3, sim.M.PriceLag[1]) = std::tuple(0, 10); // with a flat window: Sigma 0
  for (int k = 102; k <= 111; ++k) sim.R.DimA[k] = 12;
  EXPECT_EQ(TraderDemand(sim, 21, 2.0L), 11.0);
}

// Books: wishes changed from 1; BuyNo, SellNo, BeSNo, TotalBid, TotalOffer; the price, which
// moves by 1 + tanh(2e-5 (bid - offer)); holdings obtained. The worked example is last.
TEST_F(MarketTest, Clearing) {
  using Holdings = std::vector<std::pair<int, double>>;
  using Book = std::tuple<int, int, int, double, double>;
  const std::tuple<Holdings, Book, double, Holdings> cases[] = {
      {{}, {0, 0, 500, 0, 0}, 10, {{1, 1}}},
      {{{1, 5}}, {1, 0, 499, 4, 0}, 10.000799999998293, {{1, 1}}}, // buyers only: no trade
      {{{1, 2}, {2, 0}}, {1, 1, 498, 1, 1}, 10, {{1, 2}, {2, 0}}}, // bid = offer: both filled
      {{{1, 3}, {2, 0.5}}, {1, 1, 498, 2, 0.5}, 10.00029999999991, {{1, 1.5}, {2, 0.5}, {3, 1}}}};
  for (const auto& [want, book, price, got] : cases) {
    for (int i = 1; i <= MaxTraders; ++i) Desired(i) = 1;
    for (auto [i, h] : want) Desired(i) = h;
    ClearMarket(sim);
    const auto& M = sim.M;
    EXPECT_EQ(std::tuple(M.BuyNo, M.SellNo, M.BeSNo, M.TotalBid, M.TotalOffer), book);
    EXPECT_NEAR((double)M.NewPrice, price, 1e-12);
    for (auto [i, h] : got) EXPECT_EQ(Desired(i), h) << "trader " << i;
  }
  EXPECT_EQ(sim.M.Dividend, 0.25L); // generation 1: the first line
}

// Random books: the short side gets its orders, the long side a fraction; shares are conserved.
TEST_F(MarketTest, ClearingConservesShares) {
  std::mt19937 gen(20240611);
  std::uniform_real_distribution<double> amount(0.0, 10.0);
  for (int book = 0; book < 300; ++book) {
    long double heldSum = 0, gotSum = 0;
    for (int i = 1; i <= MaxTraders; ++i) {
      heldSum += Held(i) = Round6(amount(gen));
      const int kind = gen() % 3; // keep, sell all or a new holding
      Desired(i) = kind == 0 ? Held(i) : kind == 1 ? 0.0 : Round6(amount(gen));
    }
    const auto want = sim.T.Shares;
    ClearMarket(sim);
    const bool buyersShort = sim.M.TotalBid < sim.M.TotalOffer;
    const long double ratio = buyersShort ? (long double)sim.M.TotalBid / sim.M.TotalOffer
                                          : (long double)sim.M.TotalOffer / sim.M.TotalBid;
    for (int i = 1; i <= MaxTraders; ++i) {
      const long double delta = (long double)want[i] - Held(i);
      const long double expect = Held(i) + delta * ((delta > 0) == buyersShort ? 1 : ratio);
      ASSERT_NEAR((double)Desired(i), std::fabs(expect) <= 1e-5 ? 0 : (double)expect, 1e-9) << i;
      gotSum += Desired(i) == 0 ? expect : Desired(i); // a zeroed remainder counts as kept
    }
    ASSERT_NEAR((double)gotSum, (double)heldSum, 1e-8) << "book " << book;
  }
}

// Number t of Dstar.txt, or the last; the numbers are read again when size or time change.
TEST_F(MarketTest, DividendFile) {
  const std::string path = dir / "Dstar.txt";
  const auto stamp = std::filesystem::last_write_time(path);
  const std::tuple<const char*, int, long double> files[] = {
      {"0.5 ignored\r\n\r\n   \n  0.75\n-1.25\n", 0, 0.75}, // rest of line, blank lines skipped
      {"1.5\n", 0, 1.5},                                    // fewer numbers: the last; a new size
      {"2.5\n", 5, 2.5},                                    // same size, new time
      {"9.5\n", 5, 2.5},     // same size and time: the numbers in memory
      {"\r\n  \r\n", 5, 0}}; // no numbers
  for (auto [text, seconds, value] : files) {
    test::WriteText(path, text);
    std::filesystem::last_write_time(path, stamp + std::chrono::seconds(seconds));
    EXPECT_EQ(DividendAt(sim, 2), value) << text;
  }
  std::filesystem::remove(path);
  try {
    DividendAt(sim, 1);
    ADD_FAILURE() << "a missing file must stop the run";
  } catch (const RunError& e) {
    EXPECT_NE(std::string(e.what()).find(path), std::string::npos) << e.what();
  }
}

} // namespace
} // namespace zupo
