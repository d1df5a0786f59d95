#include "model/report.h"

#include <gtest/gtest.h>

#include "model/modelfile.h"
#include "testutil.h"

namespace zupo {
namespace {

TEST(BestReport, SixLinesForTheMostProfitableTrader) {
  test::TempDir dir;
  Simulation sim;
  test::SetUpRunFolders(sim, dir.Path());
  BuildSymbolSet(sim.S, {"+", "-", "*", "%"}, {}, {"XP1", "XP2"}, {}, {}, "K");
  sim.T.CurBase = 500;
  sim.T.Profit.fill(-1.5e-7L);          // all equal: trader 1 of the current half
  sim.T.Wealth[501] = 123456789012.25L; // wider than the field
  sim.T.Money[501] = -12.125;
  sim.T.Shares[501] = 3;
  sim.R.RunGen = 99;
  test::WriteText(ModelFileName(sim, "T", 501), "XP1K(1.25 )-XP2*");
  BestModelReport(sim);
  EXPECT_EQ(test::ReadText(dir / "run1/Best0100.dat"),
            "The Wealth = 123456789012.25000\r\n"
            "The Profit = -1.50000000000000E-0007\r\n"
            "The Amount of Money =       -12.12500\r\n"
            "The Share of Stock =         3.00000\r\n"
            "The Inorder form of GEN100  ==> ((XP1-1.25)*XP2)\r\n"
            "The PostOrder form of GEN100  ==> XP1K(1.25 )-XP2*\r\n");

  sim.T.Profit[3] = sim.T.Profit[7] = 2.5; // a tie goes to the lower number
  sim.R.RunGen = 5;
  test::WriteText(ModelFileName(sim, "T", 503), "K(-3.50 )");
  EXPECT_NE(BestModelReportText(sim).find("GEN  6  ==> K(-3.50 )\r\n"), std::string::npos);
  sim.T.Profit[MaxTraders] = 3; // the last trader is a candidate too
  test::WriteText(ModelFileName(sim, "T", 1000), "K(4.00 )");
  EXPECT_NE(BestModelReportText(sim).find("GEN  6  ==> K(4.00 )\r\n"), std::string::npos);
}

} // namespace
} // namespace zupo
