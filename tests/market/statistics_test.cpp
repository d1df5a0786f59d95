#include "market/statistics.h"

#include <algorithm>
#include <gtest/gtest.h>

#include "core/real6.h"
#include "model/modelfile.h"
#include "run/runfiles.h"
#include "testutil.h"

namespace zupo {
namespace {

using test::ReadText;
using test::TempDir;
using test::WriteText;

TEST(StatisticsRow, TwentySevenFieldsWithTheirWidthsAndBlanks) {
  Simulation sim;
  sim.R.RunGen = 7;
  sim.M.NewPrice = 80.123456L;
  sim.M.Dividend = 0.5L;
  sim.M.BuyNo = 12;
  sim.M.SellNo = 3;
  sim.M.BeSNo = 485;
  sim.M.TotalBid = Round6(123.456789L);
  sim.M.TotalOffer = 10000; // 11 characters in a field of 9: the row widens
  sim.St.Twealth = {0, 0.1L, 0.15L, 0.2L, 0.25L, 0.3L};
  sim.St.AveDepth = 3.5;
  sim.St.AveNode = 12.25;
  sim.St.AveHi = 1.5L;
  sim.St.AveVijs = 80.0625L;
  sim.St.AveSigma = 0.03125L;
  sim.St.VarDepth = 0.25;
  sim.St.VarNode = 4.5;
  sim.St.VarHi = 0.75;
  sim.St.VarVijs = 2.125;
  sim.St.VarSigma = 0.0001L;
  sim.R.SucceedNo = 5;
  sim.R.MartingaleNo = 123;
  sim.R.VisitGenNo = 7;
  sim.R.VisitLibNo = 0;
  EXPECT_EQ(StatisticsRow(sim),
            "    7        80.12346   0.50   12      3    485     123.45679  10000.00000  0.10000"
            "   0.15000   0.20000   0.25000   0.30000   3.50000    12.25000   1.50000    80.06250"
            "       0.03125    0.25000      4.50000    0.75000       2.12500        0.00010      5"
            "           123             7            0\r\n");
}

TEST(DumpLine, FiveFieldsThenTheModelLinesRunTogether) {
  Simulation sim;
  sim.T.CurBase = 500;
  sim.T.PrevBase = 0;
  sim.M.PDLag[1] = 81.5L;
  sim.T.Forecast[3] = 80.25L; // the previous forecast of trader 3
  sim.T.Shares[503] = 2.5;
  sim.T.Sigma[503] = 0.125;
  sim.T.Forecast[503] = -3.5L;
  sim.T.ModelValue[3] = 12.345678L;
  EXPECT_EQ(DumpLine(sim, 3, "X01X02+\r\n( 1.50 )*\r\nSIN"),
            "        1.25000     2.50000     0.12500         -3.50000         12.34568   "
            "X01X02+( 1.50 )*SIN\r\n");
}

// A population whose statistics are known by hand. Trader i forecasts i, holds 1.5 shares, has
// variance 0.5 (traders 1..250) or 1.5, depth 2 (odd) or 4 (even), size 7. The ranking lists
// the traders from 500 down to 1. The wealth booked this generation is i in the PrevBase half,
// the CurBase half holds 1 for everyone.
struct Stats : ::testing::Test {
  Simulation sim;
  void SetUp() override {
    TraderBook& T = sim.T;
    T.CurBase = 500;
    T.PrevBase = 0;
    sim.R.RunGen = 2;
    for (int i = 1; i <= MaxTraders; ++i) {
      T.Forecast[500 + i] = i;
      T.Forecast[i] = -1000; // previous half: must not count
      T.Shares[500 + i] = 1.5;
      T.Shares[i] = 99;
      T.Sigma[500 + i] = i <= 250 ? 0.5 : 1.5;
      T.ModelDepth[i] = i % 2 ? 2 : 4;
      T.ModelSize[i] = 7;
      T.OrderIdx[500 + i] = 501 - i;
      T.Wealth[i] = i;
      T.Wealth[500 + i] = 1;
    }
  }
};

TEST_F(Stats, MeansAndPopulationVariances) {
  ComputeStatistics(sim);
  EXPECT_EQ(sim.St.AveDepth, 3.0);
  EXPECT_EQ(sim.St.VarDepth, 1.0);
  EXPECT_EQ(sim.St.AveNode, 7.0);
  EXPECT_EQ(sim.St.VarNode, 0.0);
  // Identical holdings: the mean is the common value and the variance vanishes, up to the last
  // bit of the factor 0.002.
  EXPECT_DOUBLE_EQ(static_cast<double>(sim.St.AveHi), 1.5);
  EXPECT_LT(sim.St.VarHi, 1e-30);
  EXPECT_DOUBLE_EQ(static_cast<double>(sim.St.AveVijs), 250.5);
  EXPECT_DOUBLE_EQ(sim.St.VarVijs, 20833.25); // (500^2 - 1) / 12
  EXPECT_DOUBLE_EQ(static_cast<double>(sim.St.AveSigma), 1.0);
  EXPECT_DOUBLE_EQ(static_cast<double>(sim.St.VarSigma), 0.25);
  EXPECT_NE(StatisticsRow(sim).find("   3.00000     7.00000   1.50000   250.50000       1.00000"
                                    "    1.00000      0.00000    0.00000   20833.25000"
                                    "        0.25000"),
            std::string::npos)
      << StatisticsRow(sim);
}

TEST_F(Stats, WealthSharesUseTheWealthBookedThisGeneration) {
  ComputeStatistics(sim);
  EXPECT_EQ(sim.St.TotalWealth, 125250.0L);
  // Ranks 1..100 are traders 500..401, holding 401 + ... + 500 = 45050.
  const long double sums[6] = {0, 45050, 35050, 25050, 15050, 5050};
  for (int g = 1; g <= 5; ++g)
    EXPECT_DOUBLE_EQ(static_cast<double>(sim.St.Twealth[g]), static_cast<double>(sums[g] / 125250))
        << "group " << g;
}

TEST_F(Stats, InitialGenerationUsesTheCurrentHalfAndNoWealthGivesZeroShares) {
  sim.R.RunGen = 1; // no exchange of halves happened
  ComputeStatistics(sim);
  EXPECT_EQ(sim.St.TotalWealth, 500.0L);
  for (int g = 1; g <= 5; ++g) EXPECT_DOUBLE_EQ(static_cast<double>(sim.St.Twealth[g]), 0.2);
  for (int k = 1; k <= 2 * MaxTraders; ++k) sim.T.Wealth[k] = 0;
  ComputeStatistics(sim);
  for (int g = 1; g <= 5; ++g) EXPECT_EQ(sim.St.Twealth[g], 0.0L);
  EXPECT_NE(StatisticsRow(sim).find("  0.00000   0.00000   0.00000   0.00000   0.00000  "),
            std::string::npos);
}

// WriteStatistics with the two run files open and a model file for every slot.
struct Records : Stats {
  TempDir dir;
  void SetUp() override {
    Stats::SetUp();
    test::SetUpRunFolders(sim, dir.Path());
    sim.Data1File.Create(RunFile(sim, "Data1.txt"));
    sim.Data2File.Create(RunFile(sim, "Data2.txt"));
    for (int i = 1; i <= MaxTraders; ++i) {
      WriteText(ModelFileName(sim, "T", 500 + i), "X01\r\nY02+\r\n");
      WriteText(ModelFileName(sim, "T", i), "OLD");
    }
  }
};

TEST_F(Records, DumpBlockInGenerationOneAndEveryFiveHundredth) {
  for (int t : {1, 2, 499, 500, 501, 1000}) {
    sim.R.RunGen = t;
    WriteStatistics(sim);
  }
  // Rows and blocks are on disk without closing the files.
  std::string d1 = ReadText(RunFile(sim, "Data1.txt"));
  std::string d2 = ReadText(RunFile(sim, "Data2.txt"));
  EXPECT_EQ(std::count(d1.begin(), d1.end(), '\n'), 6);
  EXPECT_EQ(d1.substr(0, 5), "    1");
  EXPECT_EQ(std::count(d2.begin(), d2.end(), '\n'), 3 * 501);
  EXPECT_EQ(d2.substr(0, 15), "Generation:1\r\n ");
  EXPECT_NE(d2.find("\r\nGeneration:500\r\n"), std::string::npos);
  EXPECT_NE(d2.find("\r\nGeneration:1000\r\n"), std::string::npos);
  EXPECT_EQ(d2.find("Generation:2\r\n"), std::string::npos);
  EXPECT_EQ(d2.find("OLD"), std::string::npos); // the models of the CurBase half
  // Trader 1's line: forecast error 0 - (-1000), shares 1.5, variance 0.5, forecast 1.
  EXPECT_NE(d2.find("\r\n     1000.00000     1.50000     0.50000          1.00000          "
                    "0.00000   X01Y02+\r\n"),
            std::string::npos);
}

} // namespace
} // namespace zupo
