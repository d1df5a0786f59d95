#include "market/evalmodel.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "model/modelfile.h"
#include "model/symbols.h"

namespace zupo {
namespace {

// Symbols of the worked example: X variables XP1 and XP2, constant symbol K; codes + 1, - 2,
// * 3, % 4, EXP 5, XP1 6, XP2 7, YP1 8, YP2 9, ZE1 10, ZE2 11, K 12.
class EvalModelTest : public ::testing::Test {
protected:
  void SetUp() override {
    BuildSymbolSet(sim.S, ParseSymbolList("+\\-\\*\\%\\"), ParseSymbolList("EXP\\"),
                   ParseSymbolList("XP1\\XP2\\"), ParseSymbolList("YP1\\YP2\\"),
                   ParseSymbolList("ZE1\\ZE2\\"), "K");
    Params& P = sim.P;
    P.Irate = 0.01;
    P.Lambda = 0; // the demand is then Wealth / Price = 11 for any forecast above 10.1
    P.Theta1 = 0.1;
    P.Theta2 = 0.5;
    P.Theta3 = 0.3;
    P.MaxExp = 100;
    sim.M.PriceLag[1] = 10;
    sim.M.PriceLag[2] = 9;
    sim.M.PDLag[1] = 11;
    sim.M.PDLag[2] = 10.5;
    sim.R.ExtraVals[1] = 2.5;
    sim.R.ExtraVals[2] = 3.5;
    sim.T.Wealth[sim.T.PrevBase + K] = 110;
    sim.T.ModelValue[K] = -123;
    sim.Warn = [this](const std::string& m) { warnings.push_back(m); };
  }
  // Evaluates a model given as model-file text; Demand starts at 7.
  double Eval(const std::string& text) {
    sim.ModelList = ParseModelText(sim.S, "test model", text);
    double demand = 7;
    EvalModel(sim, K, demand);
    return demand;
  }

  static constexpr int K = 9;
  Simulation sim;
  std::vector<std::string> warnings;
};

TEST_F(EvalModelTest, WorkedExampleReachesTheDemand) {
  EXPECT_EQ(Eval("XP1K(1.25 )-XP2*"), 11.0);
  EXPECT_EQ(sim.T.ModelValue[K], 78.75L);
  EXPECT_TRUE(warnings.empty());
}

TEST_F(EvalModelTest, VariablesReadTheCurrentMarket) {
  Eval("XP2");
  EXPECT_EQ(sim.T.ModelValue[K], 9.0L);
  Eval("YP1");
  EXPECT_EQ(sim.T.ModelValue[K], 11.0L);
  Eval("YP2");
  EXPECT_EQ(sim.T.ModelValue[K], 10.5L);
  Eval("ZE1");
  EXPECT_EQ(sim.T.ModelValue[K], 2.5L);
  Eval("ZE2");
  EXPECT_EQ(sim.T.ModelValue[K], 3.5L);
  sim.P.MaxExp = 5; // beyond MaxExp: forecast 0.9 * 11 = 9.9, below 10.1, nothing bought
  EXPECT_EQ(Eval("K(-9.50 )"), 0.0);
  EXPECT_EQ(sim.T.ModelValue[K], -9.5L);
}

TEST_F(EvalModelTest, UnknownCodeWarnsAndKeepsTheHolding) {
  sim.ModelList = {TPostfixItem{6, 0}, TPostfixItem{13, 0}};
  double demand = 7;
  EvalModel(sim, K, demand);
  EXPECT_EQ(demand, 7.0);
  EXPECT_EQ(sim.T.ModelValue[K], -123.0L);
  ASSERT_EQ(warnings.size(), 1u);
  EXPECT_EQ(warnings[0], "Incorrect operator !");
}

TEST_F(EvalModelTest, LeftoverValuesWarnAndKeepTheHolding) {
  EXPECT_EQ(Eval("XP1XP2"), 7.0);
  EXPECT_EQ(sim.T.ModelValue[K], -123.0L);
  ASSERT_EQ(warnings.size(), 1u);
  EXPECT_EQ(warnings[0], "Error: Data compute not match in T");
}

TEST_F(EvalModelTest, OverflowAbandonsSilently) {
  sim.P.MaxExp = 11000;
  sim.M.PriceLag[1] = 11000; // e^11000 is finite in extended precision, its square is not
  EXPECT_EQ(Eval("XP1EXPXP1EXP*"), 7.0);
  EXPECT_EQ(sim.T.ModelValue[K], -123.0L);
  EXPECT_TRUE(warnings.empty());
}

TEST_F(EvalModelTest, VarianceOutOfRangeAbandonsSilently) {
  sim.T.Forecast[sim.T.PrevBase + K] = 1e30; // squared error 1e60: no 6-byte value
  sim.P.Lambda = 0.5;
  EXPECT_EQ(Eval("XP1"), 7.0);
  EXPECT_TRUE(warnings.empty());
}

} // namespace
} // namespace zupo
