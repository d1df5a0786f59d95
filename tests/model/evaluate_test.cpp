#include "model/evaluate.h"

#include <cmath>
#include <cstring>
#include <gtest/gtest.h>

#include "core/errors.h"
#include "core/random.h"
#include "market/evalmodel.h"
#include "model/modelfile.h"
#include "testutil.h"

namespace zupo {
namespace {

TEST(Evaluation, StackMachineOperatorsAndForecasts) {
  Simulation sim;
  std::string warned;
  sim.Warn = [&](const std::string& m) { warned += m; };
  BuildSymbolSet(sim.S, {"+", "-", "*", "%"}, {}, {"XP1", "XP2"}, {}, {}, "K");
  auto lag = [](int code) -> long double { return code == 5 ? 10 : 9; }; // XP1 = 10, XP2 = 9
  long double v = 0;
  const std::tuple<std::vector<TPostfixItem>, bool, long double, const char*> runs[] = {
      {{{5, 0}, {7, 1.25}, {2, 0}, {6, 0}, {3, 0}}, true, 78.75, ""}, // XP1K(1.25 )-XP2*
      {{{1, 0}}, true, 0, "Error: Stack underfollow. Error: Stack underfollow. "}, // pops of 0
      {{{5, 0}, {6, 0}}, false, 0, "Error: Data compute not match in T"},
      {{{5, 0}, {8, 0}, {1, 0}}, false, 0, "Incorrect operator"}}; // a code beyond the table
  for (const auto& [list, ok, value, warning] : runs) {
    std::tie(sim.ModelList, warned, v) = std::tuple(list, "", -1);
    EXPECT_EQ(RunStackMachine(sim, lag, "Incorrect operator", v), ok) << warning;
    EXPECT_EQ(std::pair(ok ? v : value, warned), std::pair(value, std::string(warning)));
  }

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
  std::tie(sim.P.Theta1, sim.P.Theta2, sim.R.DimC[110]) = std::tuple(0.1, 0.5, 100);
  sim.ModelList = {{11, 0}};
  for (auto [x01, want] : {std::pair{2.0, 107.61594155955765}, {-3.0, 90.0}}) {
    sim.R.DimB[109] = x01; // X01 at T = 111; |v| = MaxExp: tanh, beyond: the sign
    EvalModelAt(sim, 111, v);
    EXPECT_NEAR(double(v), want, 1e-11);
  }
  // An abandoned evaluation keeps the forecast: EXP overflowing the extended range is silent.
  std::tie(sim.R.DimB[109], sim.P.MaxExp, v, warned) = std::tuple(12000, 20000, -7, "");
  for (auto list : {std::vector<TPostfixItem>{{11, 0}, {7, 0}}, {{20, 0}}}) {
    sim.ModelList = list;
    EvalModelAt(sim, 111, v);
  }
  EXPECT_EQ(std::pair(v, warned), std::pair(-7.0L, std::string("Incorrect operator")));
}

// Kept results of SIN, COS, EXP and LOG must be those of their own function and argument, whatever
// was asked before (another function, the same digits with another exponent or sign).
TEST(Evaluation, KeptResultsAreThoseOfTheirOwnFunctionAndArgument) {
  Simulation sim;
  test::DefaultSymbols(sim); // SIN COS EXP LOG: codes 5..8
  sim.P.MaxExp = 10000;
  std::vector<long double> args = {0.0L, -0.0L, 1.5L, 3.0L, -1.5L, 0.75L, 1e6L, 2e6L, -1e6L};
  Rng rng(7);
  for (int k = 0; k < 3000; ++k) args.push_back((rng.Random(2000001) - 1000000) / 1024.0L);
  for (int pass = 0; pass < 2; ++pass)
    for (long double a : args)
      for (int code = 5; code <= 8; ++code) {
        long double want = code == 5   ? std::sin(a)
                           : code == 6 ? std::cos(a)
                           : code == 7 ? std::exp(std::fabs(a) <= 10000 ? a : 10000.0L)
                                       : (a == 0 ? 0.0L : std::log(std::fabs(a))),
                    got = 0;
        ASSERT_NO_THROW(got = ApplyOp(sim, code, a, 0)) << code << " " << double(a);
        ASSERT_EQ(std::memcmp(&got, &want, 10), 0) << "code " << code << " at " << double(a);
      }
}

// Trader 9 (wealth 110 in slot 509) at the price 10: with Lambda 0 any forecast above 10.1 buys 11.
TEST(EvalModel, ValueReachesTheDemandUnlessAbandoned) {
  Simulation sim;
  BuildSymbolSet(sim.S, {"+", "-", "*", "%"}, {"EXP"}, {"XP1", "XP2"}, {"YP1", "YP2"},
                 {"ZE1", "ZE2"}, "K");
  std::tie(sim.P.Irate, sim.P.Theta1, sim.P.Theta2, sim.P.MaxExp) = std::tuple(0.01, 0.1, 0.5, 100);
  sim.M.PriceLag = {0, 10, 9};
  sim.M.PDLag = {0, 11, 10.5};
  std::tie(sim.R.ExtraVals[1], sim.R.ExtraVals[2], sim.T.Wealth[509]) = std::tuple(2.5, 3.5, 110);
  auto eval = [&](const std::string& text) { // the demand (7 unless set) and the model's value
    sim.ModelList = ParseModelText(sim.S, "test model", text);
    double demand = 7;
    EvalModel(sim, 9, demand);
    return std::pair<double, long double>(demand, sim.T.ModelValue[9]);
  };
  // (10 - 1.25) * 9 = 78.75; the other variables read the current market too.
  const std::pair<const char*, long double> models[] = {
      {"XP1K(1.25 )-XP2*", 78.75}, {"YP1", 11}, {"YP2", 10.5}, {"ZE1", 2.5}, {"ZE2", 3.5}};
  for (auto [text, value] : models) EXPECT_EQ(eval(text), std::pair(11.0, value)) << text;
  std::tie(sim.P.MaxExp, sim.M.PriceLag[1]) = std::tuple(11000, 11000);
  EXPECT_EQ(eval("XP1EXPXP1EXP*").first, 7.0); // e^11000 fits in a long double, e^22000 not
  EXPECT_EQ(eval("XP1XP2").first, 7.0);        // a value too many
}

} // namespace
} // namespace zupo
