#include "market/traders.h"

#include <chrono>
#include <cmath>
#include <filesystem>
#include <gtest/gtest.h>
#include <random>

#include "core/errors.h"
#include "core/real6.h"
#include "testutil.h"

namespace zupo {
namespace {

using test::TempDir;
using test::WriteText;

// A small market: price 10, P+D 11, previous price 9.5; every trader holds 1 share and has
// wealth 110; DimA's last ten values are 10..19 (variance 82.5 / 9).
class MarketTest : public ::testing::Test {
protected:
  void SetUp() override {
    Params& P = sim.P;
    P.H0 = 1;
    P.M0 = 100;
    P.Irate = 0.01;
    P.Lambda = 0.5;
    P.Theta1 = 0.1;
    P.Theta2 = 0.5;
    P.Theta3 = 0.3;
    P.MaxExp = 10;
    P.G_Gap = 5;
    P.Tree_Path1 = dir.Path();
    sim.M.PriceLag[1] = 10;
    sim.M.PriceLag[2] = 9.5;
    sim.M.PDLag[1] = 11;
    for (int k = 0; k < 10; ++k) sim.R.DimA[102 + k] = 10 + k;
    sim.R.RunGen = 1;
    for (int i = 1; i <= MaxTraders; ++i) {
      sim.T.Shares[sim.T.PrevBase + i] = 1;
      sim.T.Shares[sim.T.CurBase + i] = 1;
      sim.T.Wealth[sim.T.PrevBase + i] = 110;
      sim.T.Forecast[sim.T.PrevBase + i] = 10.5;
    }
    WriteText(dir / "Dstar.txt", "0.25\r\n0.5\r\n");
  }
  double& Held(int i) { return sim.T.Shares[sim.T.PrevBase + i]; }
  double& Desired(int i) { return sim.T.Shares[sim.T.CurBase + i]; }
  double Obtained(int i) { return sim.T.Shares[sim.T.CurBase + i]; }

  TempDir dir;
  Simulation sim;
};

// ---- Initial state and booking ----

TEST_F(MarketTest, InitTradersFillsThePreviousHalf) {
  InitTraders(sim);
  for (int i : {1, 250, 500}) {
    const int k = 500 + i;
    EXPECT_EQ(sim.T.Sigma[k], 4.0);
    EXPECT_EQ(sim.T.Forecast[k], 11.0L);
    EXPECT_EQ(sim.T.Shares[k], 1.0);
    EXPECT_EQ(sim.T.Money[k], 100.0L);
    EXPECT_EQ(sim.T.Wealth[k], 110.0L);
    EXPECT_EQ(sim.T.GapProfit[i], 0.0L);
    // 5 * (0.01 * 100 + 1 / 0.01) = 505
    EXPECT_NEAR((double)sim.T.LastGapProfit[i], 505.0, 1e-9);
  }
  EXPECT_EQ(sim.T.Wealth[1], 0.0L); // the current half is left to the first clearing
}

TEST_F(MarketTest, InitTradersWithZeroInterestDoesNotDivide) {
  sim.P.Irate = 0;
  InitTraders(sim);
  EXPECT_EQ(sim.T.LastGapProfit[1], 0.0L);
  EXPECT_EQ(sim.T.LastGapProfit[500], 0.0L);
}

TEST_F(MarketTest, UpdateWealthInGenerationOneUsesTheInitialHolding) {
  sim.T.Money[sim.T.CurBase + 7] = 50; // must be ignored in generation 1
  sim.T.Shares[sim.T.CurBase + 7] = 3;
  sim.T.GapProfit[7] = 2;
  UpdateWealth(sim);
  // 0.01 * 100 + 1 * (11 - 9.5) = 2.5
  EXPECT_NEAR((double)sim.T.Profit[7], 2.5, 1e-12);
  EXPECT_NEAR((double)sim.T.Wealth[sim.T.CurBase + 7], 112.5, 1e-12);
  EXPECT_NEAR((double)sim.T.GapProfit[7], 4.5, 1e-12);
}

TEST_F(MarketTest, UpdateWealthLaterUsesTheObtainedHolding) {
  sim.R.RunGen = 8;
  sim.T.Money[sim.T.CurBase + 7] = 50;
  sim.T.Shares[sim.T.CurBase + 7] = 3;
  sim.T.GapProfit[7] = 2;
  UpdateWealth(sim);
  // 0.01 * 50 + 3 * 1.5 = 5
  EXPECT_NEAR((double)sim.T.Profit[7], 5.0, 1e-12);
  EXPECT_NEAR((double)sim.T.Wealth[sim.T.CurBase + 7], 115.0, 1e-12);
  EXPECT_NEAR((double)sim.T.GapProfit[7], 7.0, 1e-12);
}

TEST_F(MarketTest, RollGapProfitAndSwapHalves) {
  sim.T.GapProfit[3] = 4.5;
  sim.T.LastGapProfit[3] = 1;
  RollGapProfit(sim);
  EXPECT_EQ(sim.T.LastGapProfit[3], 4.5L);
  EXPECT_EQ(sim.T.GapProfit[3], 0.0L);
  SwapHalves(sim);
  EXPECT_EQ(sim.T.CurBase, 500);
  EXPECT_EQ(sim.T.PrevBase, 0);
  SwapHalves(sim);
  EXPECT_EQ(sim.T.CurBase, 0);
  EXPECT_EQ(sim.T.PrevBase, 500);
}

// ---- Forecast, variance and demand ----

TEST_F(MarketTest, DemandFromForecastAndVariance) {
  double d = TraderDemand(sim, 4, 2.0L);
  EXPECT_EQ(sim.T.ModelValue[4], 2.0L);
  // s = tanh(0.5 * 2); forecast (1 + 0.1 s) * 11
  EXPECT_NEAR((double)sim.T.Forecast[4], 11.83775357155134, 1e-12);
  EXPECT_EQ(sim.T.IsMartingale, 0);
  // The previous estimate is overwritten with the window variance 82.5 / 9.
  EXPECT_NEAR(sim.T.Sigma[504], 9.166666666666666, 1e-10);
  // 0.7 V + 0.3 (11 - 10.5)^2
  EXPECT_NEAR(sim.T.Sigma[4], 6.491666666666666, 1e-10);
  EXPECT_NEAR(d, 0.5353797909785903, 1e-10);
  EXPECT_EQ(d, Round6(d)); // a 6-byte value
}

TEST_F(MarketTest, SquashUsesTanhUpToMaxExpAndTheSignBeyond) {
  TraderDemand(sim, 1, 10.0L); // exactly MaxExp: tanh(5)
  EXPECT_NEAR((double)sim.T.Forecast[1], 12.099900124688855, 1e-12);
  TraderDemand(sim, 1, -10.0L);
  EXPECT_NEAR((double)sim.T.Forecast[1], 22.0 - 12.099900124688855, 1e-12);
  TraderDemand(sim, 1, 10.000001L); // beyond: s = 1 exactly
  EXPECT_NEAR((double)sim.T.Forecast[1], 12.1, 1e-12);
  TraderDemand(sim, 1, -1e300L);
  EXPECT_NEAR((double)sim.T.Forecast[1], 9.9, 1e-12);
}

TEST_F(MarketTest, ForecastNotAboveTheRisklessReturnDemandsNothing) {
  sim.P.Irate = 0.5; // (1 + r) P = 15
  sim.M.PDLag[1] = 15;
  sim.P.Theta1 = 0; // forecast = P + D = 15 exactly: a martingale
  EXPECT_EQ(TraderDemand(sim, 2, 3.0L), 0.0);
  EXPECT_EQ(sim.T.IsMartingale, 1);
  sim.P.Theta1 = 0.1;
  EXPECT_EQ(TraderDemand(sim, 2, -50.0L), 0.0); // forecast 13.5 < 15
  EXPECT_EQ(sim.T.IsMartingale, 0);
}

TEST_F(MarketTest, TinyAndUnaffordableDemands) {
  sim.P.Lambda = 1e6; // d = 2.68e-7: below the tolerance
  EXPECT_EQ(TraderDemand(sim, 3, 2.0L), 0.0);
  sim.P.Lambda = 0.001; // d = 267.7 would cost 2677 > 110: cut to 110 / 10
  EXPECT_EQ(TraderDemand(sim, 3, 2.0L), 11.0);
  sim.T.Wealth[503] = -5; // no wealth: no holding, not a short one
  EXPECT_EQ(TraderDemand(sim, 3, 2.0L), 0.0);
}

TEST_F(MarketTest, ZeroRiskTermTakesTheLimit) {
  sim.P.Lambda = 0;
  EXPECT_EQ(TraderDemand(sim, 5, 2.0L), 11.0);  // positive excess return: all the wealth buys
  EXPECT_EQ(TraderDemand(sim, 5, -2.0L), 11.0); // forecast 10.16 still above 10.1
  EXPECT_EQ(TraderDemand(sim, 5, -50.0L), 0.0); // forecast 9.9: nothing

  // A variance of 0: flat window, exact previous forecast, no weight on the error.
  sim.P.Lambda = 0.5;
  sim.P.Theta3 = 0;
  for (int k = 102; k <= 111; ++k) sim.R.DimA[k] = 12;
  EXPECT_EQ(TraderDemand(sim, 5, 2.0L), 11.0);
  EXPECT_EQ(sim.T.Sigma[5], 0.0);
}

TEST_F(MarketTest, PriceZeroDemandsNothing) {
  sim.M.PriceLag[1] = 0;
  EXPECT_EQ(TraderDemand(sim, 6, 2.0L), 0.0);
  sim.P.Lambda = 0;
  EXPECT_EQ(TraderDemand(sim, 6, 2.0L), 0.0);
  EXPECT_NEAR((double)sim.T.Forecast[6], 11.83775357155134, 1e-12); // still forecast
}

TEST_F(MarketTest, VarianceBeyondTheRealRangeIsAFault) {
  sim.T.Forecast[507] = 1e30; // squared error 1e60 cannot be stored
  EXPECT_THROW(TraderDemand(sim, 7, 2.0L), FloatError);
}

// ---- Clearing ----

TEST_F(MarketTest, ClearingWorkedExample) {
  Desired(1) = 3;
  Desired(2) = 0.5;
  ClearMarket(sim);
  EXPECT_EQ(sim.M.BuyNo, 1);
  EXPECT_EQ(sim.M.SellNo, 1);
  EXPECT_EQ(sim.M.BeSNo, 498);
  EXPECT_EQ(sim.M.TotalBid, 2.0);
  EXPECT_EQ(sim.M.TotalOffer, 0.5);
  EXPECT_EQ(Obtained(1), 1.5);
  EXPECT_EQ(Obtained(2), 0.5);
  EXPECT_EQ(Obtained(3), 1.0);
  EXPECT_EQ(Obtained(500), 1.0);
  EXPECT_NEAR((double)sim.T.Money[1], 110 - 15, 1e-12);
  EXPECT_NEAR((double)sim.T.Money[2], 110 - 5, 1e-12);
  EXPECT_NEAR((double)sim.M.NewPrice, 10.00029999999991, 1e-12);
  EXPECT_EQ(sim.M.Dividend, 0.25L); // generation 1: the first line
}

TEST_F(MarketTest, ClearingWithNoChangeKeepsThePrice) {
  ClearMarket(sim);
  EXPECT_EQ(sim.M.BeSNo, 500);
  EXPECT_EQ(sim.M.BuyNo + sim.M.SellNo, 0);
  EXPECT_EQ(sim.M.TotalBid, 0.0);
  EXPECT_EQ(sim.M.TotalOffer, 0.0);
  EXPECT_EQ(sim.M.NewPrice, 10.0L);
}

TEST_F(MarketTest, BuyersOnlyTradeNothingButRaiseThePrice) {
  Desired(1) = 5;
  Held(2) = 5e-6; // kept as it is: tiny holdings are only zeroed after rationing
  Desired(2) = 5e-6;
  sim.T.Wealth[500 + 3] = 9;          // money 9 - 10 < 0 counts as 0
  sim.T.Wealth[500 + 4] = 10.000008L; // money 8e-6: within the tolerance, 0
  ClearMarket(sim);
  EXPECT_EQ(sim.M.BuyNo, 1);
  EXPECT_EQ(sim.M.TotalOffer, 0.0);
  EXPECT_EQ(Obtained(1), 1.0);
  EXPECT_EQ(Obtained(2), 5e-6);
  EXPECT_EQ(sim.T.Money[3], 0.0L);
  EXPECT_EQ(sim.T.Money[4], 0.0L);
  EXPECT_NEAR((double)sim.T.Money[5], 100.0, 1e-12);
  EXPECT_NEAR((double)sim.M.NewPrice, 10.000799999998293, 1e-12);
}

TEST_F(MarketTest, BalancedBookFillsBothSides) {
  Desired(1) = 2;
  Desired(2) = 0;
  Desired(3) = 2 - std::ldexp(1.0, -18);
  Desired(4) = std::ldexp(1.0, -18);  // obtains 3.8e-6, within the tolerance: zero
  sim.T.Wealth[500 + 5] = 10.000004L; // money 4e-6 after holding 1 share at 10: 0
  ClearMarket(sim);
  EXPECT_EQ(sim.M.TotalBid, sim.M.TotalOffer);
  EXPECT_EQ(Obtained(1), 2.0);
  EXPECT_EQ(Obtained(2), 0.0);
  EXPECT_EQ(Obtained(3), 2 - std::ldexp(1.0, -18));
  EXPECT_EQ(Obtained(4), 0.0);
  EXPECT_NEAR((double)sim.T.Money[2], 110.0, 1e-12);
  EXPECT_EQ(sim.T.Money[5], 0.0L);
  EXPECT_EQ(sim.M.NewPrice, 10.0L);
}

TEST_F(MarketTest, PriceNeverTurnsNegative) {
  sim.M.PriceLag[1] = -10; // a bad initial price
  ClearMarket(sim);
  EXPECT_EQ(sim.M.NewPrice, 0.0L);
  sim.M.PriceLag[1] = 0;
  Desired(1) = 4;
  ClearMarket(sim);
  EXPECT_EQ(sim.M.NewPrice, 0.0L);
}

TEST_F(MarketTest, ClearingReseedsFromTheClock) {
  FixedClock clock(77), twin(77);
  sim.TheClock = &clock;
  sim.Rand.Seed = 1;
  ClearMarket(sim);
  EXPECT_EQ(sim.Rand.Seed, twin.SeedReading());
  sim.TheClock = nullptr;
  sim.Rand.Seed = 1;
  ClearMarket(sim);
  EXPECT_EQ(sim.Rand.Seed, 1u);
}

// Over many random books in which both sides trade: the short side gets exactly what it asked,
// the long side the same fraction of its orders, and the shares in the market stay the same.
TEST_F(MarketTest, ClearingConservesShares) {
  std::mt19937 gen(20240611);
  std::uniform_real_distribution<double> amount(0.0, 10.0);
  std::uniform_int_distribution<int> kind(0, 2);
  for (int book = 0; book < 300; ++book) {
    long double heldSum = 0;
    for (int i = 1; i <= MaxTraders; ++i) {
      Held(i) = Round6(amount(gen));
      int k = kind(gen);
      Desired(i) = k == 0 ? Held(i) : k == 1 ? 0.0 : Round6(amount(gen));
      heldSum += Held(i);
    }
    Desired(1) = Round6(Held(1) + 1.0L); // both sides present
    Desired(2) = 0;
    std::array<double, MaxTraders + 1> want{};
    for (int i = 1; i <= MaxTraders; ++i) want[i] = Desired(i);
    ClearMarket(sim);
    ASSERT_EQ(sim.M.BuyNo + sim.M.SellNo + sim.M.BeSNo, MaxTraders);
    const bool buyersShort = sim.M.TotalBid < sim.M.TotalOffer;
    const long double ratio = buyersShort ? (long double)sim.M.TotalBid / sim.M.TotalOffer
                                          : (long double)sim.M.TotalOffer / sim.M.TotalBid;
    long double gotSum = 0;
    int zeroed = 0;
    for (int i = 1; i <= MaxTraders; ++i) {
      gotSum += Obtained(i);
      if (Obtained(i) == 0 && want[i] != 0) ++zeroed;
      const long double delta = (long double)want[i] - Held(i);
      const bool shortSide = (delta > 0) == buyersShort;
      const long double expect = delta == 0 ? Held(i) : Held(i) + delta * (shortSide ? 1 : ratio);
      if (Obtained(i) != 0)
        ASSERT_NEAR((double)Obtained(i), (double)expect, 1e-9);
      else
        ASSERT_LE(std::fabs((double)expect), 1e-5 + 1e-9);
    }
    ASSERT_NEAR((double)gotSum, (double)heldSum, 1e-8 + 1e-5 * zeroed) << "book " << book;
  }
}

// ---- The dividend series ----

TEST_F(MarketTest, DividendsByLineWithTheLastRepeated) {
  WriteText(dir / "Dstar.txt", "0.5 ignored\r\n\r\n   \n  0.75\n-1.25e0\n");
  EXPECT_EQ(DividendAt(sim, 1), 0.5L);
  EXPECT_EQ(DividendAt(sim, 2), 0.75L);
  EXPECT_EQ(DividendAt(sim, 3), -1.25L);
  EXPECT_EQ(DividendAt(sim, 4), -1.25L);
  EXPECT_EQ(DividendAt(sim, 1000), -1.25L);
  sim.R.RunGen = 2;
  ClearMarket(sim);
  EXPECT_EQ(sim.M.Dividend, 0.75L);
}

TEST_F(MarketTest, DividendFileWithoutNumbersGivesZero) {
  WriteText(dir / "Dstar.txt", "");
  EXPECT_EQ(DividendAt(sim, 1), 0.0L);
  WriteText(dir / "Dstar.txt", "\r\n  \r\n");
  EXPECT_EQ(DividendAt(sim, 3), 0.0L);
}

TEST_F(MarketTest, DividendFileChangesAreNoticed) {
  namespace fs = std::filesystem;
  const std::string path = dir / "Dstar.txt";
  WriteText(path, "1.5\n2.5\n");
  EXPECT_EQ(DividendAt(sim, 2), 2.5L);
  WriteText(path, "1.5\n2.5\n3.5\n"); // longer
  EXPECT_EQ(DividendAt(sim, 3), 3.5L);
  // Same size, new time: read again.
  const auto stamp = fs::last_write_time(path);
  WriteText(path, "1.5\n2.5\n4.5\n");
  fs::last_write_time(path, stamp + std::chrono::seconds(5));
  EXPECT_EQ(DividendAt(sim, 3), 4.5L);
  // Same size and time: the numbers in memory serve, the file is not read again.
  WriteText(path, "1.5\n2.5\n9.5\n");
  fs::last_write_time(path, stamp + std::chrono::seconds(5));
  EXPECT_EQ(DividendAt(sim, 3), 4.5L);
}

TEST_F(MarketTest, MissingOrBadDividendFileNamesTheFile) {
  const std::string path = dir / "Dstar.txt";
  WriteText(path, "1.0\nabc\n2.0\n");
  EXPECT_EQ(DividendAt(sim, 1), 1.0L); // the bad line is not reached yet
  try {
    DividendAt(sim, 2);
    FAIL() << "a bad number must stop the run";
  } catch (const RunError& e) {
    EXPECT_NE(std::string(e.what()).find(path), std::string::npos) << e.what();
    EXPECT_NE(std::string(e.what()).find("abc"), std::string::npos) << e.what();
  }
  std::filesystem::remove(path);
  try {
    DividendAt(sim, 1);
    FAIL() << "a missing file must stop the run";
  } catch (const RunError& e) {
    EXPECT_NE(std::string(e.what()).find(path), std::string::npos) << e.what();
  }
  sim.R.RunGen = 1;
  EXPECT_THROW(ClearMarket(sim), RunError);
}

} // namespace
} // namespace zupo
