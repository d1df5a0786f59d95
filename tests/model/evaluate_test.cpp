#include "model/evaluate.h"

#include <cmath>
#include <cstring>
#include <gtest/gtest.h>

#include "core/errors.h"
#include "core/random.h"
#include "testutil.h"

namespace zupo {
namespace {

TEST(Evaluation, StackMachineOperatorsAndForecasts) {
  Simulation sim;
  std::vector<std::string> warnings;
  sim.Warn = [&](const std::string& m) { warnings.push_back(m); };
  BuildSymbolSet(sim.S, {"+", "-", "*", "%"}, {}, {"XP1", "XP2"}, {}, {}, "K");
  auto lag = [](int code) -> long double { return code == 5 ? 10 : 9; }; // XP1 = 10, XP2 = 9
  long double v = 0;
  sim.ModelList = {{5, 0}, {7, 1.25}, {2, 0}, {6, 0}, {3, 0}}; // XP1K(1.25 )-XP2*
  ASSERT_TRUE(RunStackMachine(sim, lag, "Incorrect operator", v));
  EXPECT_EQ(v, 78.75);
  sim.ModelList = {{1, 0}}; // a lone operator: two empty pops of 0, one value left
  ASSERT_TRUE(RunStackMachine(sim, lag, "Incorrect operator", v));
  EXPECT_EQ(v, 0);
  EXPECT_EQ(warnings, (std::vector<std::string>(2, "Error: Stack underfollow. ")));
  sim.ModelList = {{5, 0}, {6, 0}};
  EXPECT_FALSE(RunStackMachine(sim, lag, "Incorrect operator", v));
  EXPECT_EQ(warnings.back(), "Error: Data compute not match in T");
  sim.ModelList = {{5, 0}, {8, 0}, {1, 0}}; // a code beyond the table
  EXPECT_FALSE(RunStackMachine(sim, lag, "Incorrect operator", v));
  EXPECT_EQ(warnings.back(), "Incorrect operator");

  test::DefaultSymbols(sim);
  sim.P.MaxExp = 2;
  // Codes % 4, EXP LOG ABS SQRT 7..10, X01 11. A pops first: % is B / A; EXP past MaxExp: e^MaxExp.
  const long double e = std::exp(1.0L), e2 = std::exp(2.0L);
  const std::tuple<int, long double, long double, long double> cases[] = {
      {4, 2, 5, 2.5}, {4, 0, 5, 1},       {4, 0, 0, 1},  {8, 0, 0, 0},
      {8, -e, 0, 1},  {10, -4, 0, 2},     {7, 4, 0, e2}, {7, -4, 0, e2},
      {7, 2, 0, e2},  {7, -2, 0, 1 / e2}, {20, 2, 3, 0}}; // 20: beyond the table
  for (const auto& [code, A, B, want] : cases)
    EXPECT_NEAR(double(ApplyOp(sim, code, A, B)), double(want), 1e-15) << code << " " << double(A);
  // EvalModelAt reads the windows one step back and squashes the value.
  sim.P.Theta1 = 0.1;
  sim.P.Theta2 = 0.5;
  sim.R.DimB[109] = 2; // X01 at T = 111
  sim.R.DimC[110] = 100;
  sim.ModelList = {{11, 0}};
  EvalModelAt(sim, 111, v);
  EXPECT_NEAR(double(v), 107.61594155955765, 1e-11); // |v| = MaxExp: tanh
  sim.R.DimB[109] = -3;
  EvalModelAt(sim, 111, v);
  EXPECT_NEAR(double(v), 90, 1e-12); // beyond MaxExp: the sign
  // An abandoned evaluation keeps the forecast: EXP overflowing the extended range is silent.
  sim.R.DimB[109] = 12000;
  sim.P.MaxExp = 20000;
  v = -7;
  sim.ModelList = {{11, 0}, {7, 0}};
  EvalModelAt(sim, 111, v);
  sim.ModelList = {{20, 0}};
  EvalModelAt(sim, 111, v);
  EXPECT_EQ(v, -7);
  EXPECT_EQ(warnings.size(), 5u); // one more "Incorrect operator"; the EXP fault is silent
}

// The results of SIN, COS, EXP and LOG are kept by argument: each must still be the very value of
// its own function at that argument, whatever was asked before (the same argument of another
// function, an argument of the same digits and another exponent or sign, many others between).
TEST(Evaluation, KeptResultsAreThoseOfTheirOwnFunctionAndArgument) {
  Simulation sim;
  test::DefaultSymbols(sim); // SIN COS EXP LOG: codes 5..8
  sim.P.MaxExp = 10000;
  auto same = [](long double x, long double y) { return std::memcmp(&x, &y, 10) == 0; };
  std::vector<long double> args = {0.0L, -0.0L, 1.5L, 3.0L, -1.5L, 0.75L, 1e6L, 2e6L, -1e6L};
  Rng rng(7);
  for (int k = 0; k < 3000; ++k) args.push_back((rng.Random(2000001) - 1000000) / 1024.0L);
  for (int pass = 0; pass < 2; ++pass)
    for (long double a : args)
      for (int code = 5; code <= 8; ++code) {
        long double want = code == 5   ? std::sin(a)
                           : code == 6 ? std::cos(a)
                           : code == 7 ? std::exp(std::fabs(a) <= 10000 ? a : 10000.0L)
                                       : (a == 0 ? 0.0L : std::log(std::fabs(a)));
        long double got = 0;
        try {
          got = ApplyOp(sim, code, a, 0);
        } catch (const FloatError&) {
          ASSERT_FALSE(std::isfinite(want)) << code << " " << double(a);
          continue;
        }
        ASSERT_TRUE(same(got, want)) << "code " << code << " at " << double(a) << ", pass " << pass;
      }
}

} // namespace
} // namespace zupo
