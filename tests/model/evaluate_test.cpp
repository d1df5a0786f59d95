#include "model/evaluate.h"

#include <cmath>
#include <gtest/gtest.h>

#include "core/errors.h"
#include "testutil.h"

namespace zupo {
namespace {

TEST(Evaluation, StackMachine) {
  Simulation sim;
  std::vector<std::string> warnings;
  sim.Warn = [&](const std::string& m) { warnings.push_back(m); };
  BuildSymbolSet(sim.S, {"+", "-", "*", "%"}, {}, {"XP1", "XP2"}, {}, {}, "K");
  sim.ModelList = {{5, 0}, {7, 1.25}, {2, 0}, {6, 0}, {3, 0}}; // XP1K(1.25 )-XP2*
  sim.M.PriceLag[1] = 10;
  sim.M.PriceLag[2] = 9;
  auto lag = [&](int code) { return sim.M.PriceLag[static_cast<size_t>(code - 4)]; };
  long double v = 0;
  ASSERT_TRUE(RunStackMachine(sim, lag, "Incorrect operator", v));
  EXPECT_EQ(v, 78.75);
  sim.ModelList = {{1, 0}}; // a lone operator: two empty pops of 0, one value left
  ASSERT_TRUE(RunStackMachine(sim, lag, "Incorrect operator", v));
  EXPECT_EQ(v, 0);
  EXPECT_EQ(warnings, (std::vector<std::string>(2, "Error: Stack underfollow. ")));
  v = -1;
  sim.ModelList = {{5, 0}, {6, 0}};
  EXPECT_FALSE(RunStackMachine(sim, lag, "Incorrect operator", v));
  EXPECT_EQ(warnings.back(), "Error: Data compute not match in T");
  sim.ModelList = {{5, 0}, {8, 0}, {1, 0}}; // a code beyond the table
  EXPECT_FALSE(RunStackMachine(sim, lag, "Incorrect operator", v));
  EXPECT_EQ(warnings.back(), "Incorrect operator");
  EXPECT_EQ(v, -1);
}

// Default codes: + - * % = 1..4, SIN COS EXP LOG ABS SQRT = 5..10, X01 = 11, R = 16.
TEST(Evaluation, ProtectedOperatorsAndForecasts) {
  Simulation sim;
  test::DefaultSymbols(sim);
  sim.P.MaxExp = 5;
  // A is popped first: "-" gives B - A. EXP beyond MaxExp gives e^MaxExp whatever the sign.
  const long double e = std::exp(1.0L), e5 = std::exp(5.0L);
  const std::tuple<int, long double, long double, long double> cases[] = {
      {2, 2, 5, 3},       {4, 2, 5, 2.5}, {4, 0, 5, 1},   {4, 0, 0, 1},    {8, 0, 0, 0},
      {8, -e, 0, 1},      {10, -4, 0, 2}, {7, 10, 0, e5}, {7, -10, 0, e5}, {7, 5, 0, e5},
      {7, -5, 0, 1 / e5}, {9, -3, 0, 3},  {20, 2, 3, 0}}; // 20: beyond the table
  for (const auto& [code, A, B, v] : cases)
    EXPECT_NEAR(double(ApplyOp(sim, code, A, B)), double(v), 1e-15) << code << " " << double(A);
  // EvalModelAt reads the windows one step back and squashes the value.
  std::vector<std::string> warnings;
  sim.Warn = [&](const std::string& m) { warnings.push_back(m); };
  sim.P.Theta1 = 0.1;
  sim.P.Theta2 = 0.5;
  sim.P.MaxExp = 2;
  sim.R.DimB[109] = 2; // X01 at T = 111
  sim.R.DimC[110] = 100;
  sim.ModelList = {{11, 0}};
  long double f = 0;
  EvalModelAt(sim, 111, f);
  EXPECT_NEAR(double(f), 107.61594155955765, 1e-11); // |v| = MaxExp: tanh
  sim.R.DimB[109] = -3;
  EvalModelAt(sim, 111, f);
  EXPECT_NEAR(double(f), 90, 1e-12); // beyond MaxExp: the sign
  // An abandoned evaluation keeps the forecast: EXP overflowing the extended range is silent.
  sim.R.DimB[109] = 12000;
  sim.P.MaxExp = 20000;
  f = -7;
  sim.ModelList = {{11, 0}, {7, 0}};
  EvalModelAt(sim, 111, f);
  sim.ModelList = {{20, 0}};
  EvalModelAt(sim, 111, f);
  EXPECT_EQ(f, -7);
  EXPECT_EQ(warnings, std::vector<std::string>{"Incorrect operator"});
}

} // namespace
} // namespace zupo
