#include "market/statistics.h"

#include <algorithm>
#include <gtest/gtest.h>

#include "model/modelfile.h"
#include "run/runfiles.h"
#include "testutil.h"

namespace zupo::test {

TEST(StatisticsRow, FieldWidthsOfTheRowAndTheDumpLine) {
  Simulation sim;
  std::tie(sim.R.RunGen, sim.M.NewPrice, sim.M.Dividend) = std::tuple(7, 80.123456L, 0.5L);
  std::tie(sim.M.BuyNo, sim.M.SellNo, sim.M.BeSNo, sim.R.SucceedNo, sim.R.MartingaleNo,
           sim.R.VisitGenNo) = std::tuple(12, 3, 485, 5, 123, 7);
  // TotalOffer takes 11 characters in a field of 9: the row widens.
  std::tie(sim.M.TotalBid, sim.M.TotalOffer) = std::tuple(Round6(123.456789L), 10000.0);
  sim.St = {3.5, 12.25, 1.5L,  80.0625L, 0.03125L, 0.25,
            4.5, 0.75,  2.125, 0.0001L,  0,        {0, 0.1L, 0.15L, 0.2L, 0.25L, 0.3L}};
  EXPECT_EQ(StatisticsRow(sim),
            "    7        80.12346   0.50   12      3    485     123.45679  10000.00000  0.10000"
            "   0.15000   0.20000   0.25000   0.30000   3.50000    12.25000   1.50000    80.06250"
            "       0.03125    0.25000      4.50000    0.75000       2.12500        0.00010      5"
            "           123             7            0\r\n");
  // Trader 3: PDLag[1] less the previous forecast (PrevBase half), then the CurBase half.
  std::tie(sim.M.PDLag[1], sim.T.Forecast[503], sim.T.ModelValue[3]) =
      std::tuple(81.5L, 80.25L, 12.345678L);
  std::tie(sim.T.Shares[3], sim.T.Sigma[3], sim.T.Forecast[3]) = std::tuple(2.5, 0.125, -3.5L);
  EXPECT_EQ(DumpLine(sim, 3, "X01X02+\r\n( 1.50 )*\r\nSIN"),
            "        1.25000     2.50000     0.12500         -3.50000         12.34568   "
            "X01X02+( 1.50 )*SIN\r\n");
}

// Halves: CurBase 501..1000 (trader i forecasts i), PrevBase 1..500 (booked wealth i).
TEST(Stats, DumpBlockOfGenerationOneAndEveryFiveHundredthAndTheWealthOfGenerationOne) {
  RunFolder run;
  auto& [dir, sim] = run;
  TraderBook& T = sim.T;
  std::tie(T.CurBase, T.PrevBase, sim.R.RunGen) = std::tuple(500, 0, 2);
  for (int i = 1; i <= MaxTraders; ++i) {
    std::tie(T.Forecast[500 + i], T.Shares[500 + i], T.Sigma[500 + i], T.OrderIdx[500 + i],
             T.Wealth[500 + i]) = std::tuple(i, 1.5, i <= 250 ? 0.5 : 1.5, 501 - i, 1);
    std::tie(T.Forecast[i], T.Shares[i], T.Wealth[i]) = std::tuple(-1000, 99, i); // previous half
  }
  sim.Data1File.Create(RunFile(sim, "Data1.txt"));
  sim.Data2File.Create(RunFile(sim, "Data2.txt"));
  for (int i = 501; i <= 2 * MaxTraders; ++i)
    WriteText(ModelFileName(sim, "T", i), "X01\r\nY02+\r\n");
  for (int t : {1, 2, 499, 500, 501, 1000}) sim.R.RunGen = t, WriteStatistics(sim);
  const std::string d2 = ReadText(RunFile(sim, "Data2.txt")); // on disk while open
  EXPECT_EQ(std::count(d2.begin(), d2.end(), '\n'), 3 * 501); // blocks of 1, 500 and 1000
  // Each block opens with trader 1: error 0 - (-1000), shares 1.5, variance 0.5, forecast 1.
  const std::string trader1 =
      "\r\n     1000.00000     1.50000     0.50000          1.00000          0.00000   X01Y02+\r\n";
  for (std::string g : {"1", "500", "1000"})
    EXPECT_NE(d2.find("Generation:" + g + trader1), std::string::npos) << g;
  sim.R.RunGen = 1; // no exchange of halves happened yet: the CurBase half counts
  ComputeStatistics(sim);
  const Statistics& s = sim.St;
  EXPECT_DOUBLE_EQ(double(s.VarSigma), 0.25); // of Sigma 0.5 and 1.5, each average over 500
  for (int g = 1; g <= 5; ++g) EXPECT_DOUBLE_EQ(double(s.Twealth[g]), 0.2);
  T.Wealth.fill(0);
  ComputeStatistics(sim);
  for (int g = 1; g <= 5; ++g) EXPECT_EQ(s.Twealth[g], 0.0L); // not NaN
}

} // namespace zupo::test
