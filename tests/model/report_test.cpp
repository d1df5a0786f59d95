#include "model/report.h"

#include <gtest/gtest.h>

#include "core/errors.h"
#include "core/paths.h"
#include "model/modelfile.h"
#include "model/symbols.h"
#include "testutil.h"

namespace zupo {
namespace {

class BestReport : public ::testing::Test {
protected:
  void SetUp() override {
    test::SetUpRunFolders(sim, dir.Path());
    BuildSymbolSet(sim.S, {"+", "-", "*", "%"}, {}, {"XP1", "XP2"}, {}, {}, "K");
  }
  test::TempDir dir;
  Simulation sim;
};

TEST_F(BestReport, SixLinesForTheMostProfitableTrader) {
  sim.T.CurBase = 500;
  sim.T.Profit[3] = 2.5;
  sim.T.Profit[7] = 2.5; // a tie goes to the lower number
  sim.T.Profit[9] = -4;
  sim.T.Wealth[503] = 1234.5;
  sim.T.Money[503] = -12.125;
  sim.T.Shares[503] = 3;
  sim.T.Wealth[3] = 99; // the other half is not reported
  sim.R.RunGen = 99;
  test::WriteText(ModelFileName(sim, "T", 503), "XP1K(1.25 )-XP2*");
  sim.ModelList = {{5, 0}};

  BestModelReport(sim);
  EXPECT_EQ(test::ReadText(dir.Path() + "/run1/Best0100.dat"),
            "The Wealth =      1234.50000\r\n"
            "The Profit =  2.50000000000000E+0000\r\n"
            "The Amount of Money =       -12.12500\r\n"
            "The Share of Stock =         3.00000\r\n"
            "The Inorder form of GEN100  ==> ((XP1-1.25)*XP2)\r\n"
            "The PostOrder form of GEN100  ==> XP1K(1.25 )-XP2*\r\n");
  ASSERT_EQ(sim.ModelList.size(), 1u); // the caller's loaded model is untouched
}

TEST_F(BestReport, EqualProfitsReportTraderOneAndASingleConstant) {
  sim.T.CurBase = 0;
  sim.T.Profit.fill(-1.5e-7L);
  sim.T.Wealth[1] = 123456789012.25L; // wider than the field
  sim.R.RunGen = 5;
  test::WriteText(ModelFileName(sim, "T", 1), "K(-3.50 )");
  EXPECT_EQ(BestModelReportText(sim), "The Wealth = 123456789012.25000\r\n"
                                      "The Profit = -1.50000000000000E-0007\r\n"
                                      "The Amount of Money =         0.00000\r\n"
                                      "The Share of Stock =         0.00000\r\n"
                                      "The Inorder form of GEN  6  ==> -3.50\r\n"
                                      "The PostOrder form of GEN  6  ==> K(-3.50 )\r\n");
  BestModelReport(sim);
  EXPECT_TRUE(FileExists(dir.Path() + "/run0/Best0006.dat"));
}

TEST_F(BestReport, MissingModelFileIsAnError) {
  EXPECT_THROW(BestModelReport(sim), RunError);
}

} // namespace
} // namespace zupo
