#include "model/evaluate.h"

#include <cmath>
#include <gtest/gtest.h>

#include "core/errors.h"
#include "model/modelfile.h"
#include "model/symbols.h"
#include "testutil.h"

namespace zupo {
namespace {

class Evaluation : public ::testing::Test {
protected:
  void SetUp() override {
    sim.Warn = [this](const std::string& m) { warnings.push_back(m); };
    // Codes: + - * % ^ = 1..5, ABS COS EXP LOG SIN SQRT SX FOO = 6..13, X01 X02 = 14, 15,
    // Y01 Y02 = 16, 17, EX1 = 18, K = 19.
    BuildSymbolSet(sim.S, {"+", "-", "*", "%", "^"},
                   {"ABS", "COS", "EXP", "LOG", "SIN", "SQRT", "SX", "FOO"}, {"X01", "X02"},
                   {"Y01", "Y02"}, {"EX1"}, "K");
    sim.P.MaxExp = 5;
  }
  long double Op(const char* name, long double A, long double B = 0) {
    return ApplyOp(sim, LookupSym(sim.S, name), A, B);
  }
  // Evaluates the given items with X01, X02 = 10, 20 and Y01, Y02, EX1 = 100, 200, 300.
  bool Run(std::vector<TPostfixItem> items, long double& v) {
    sim.ModelList = std::move(items);
    return RunStackMachine(
        sim, [](int code) { return code <= 15 ? 10.0L * (code - 13) : 100.0L * (code - 15); },
        "Incorrect operator", v);
  }
  Simulation sim;
  std::vector<std::string> warnings;
};

TEST_F(Evaluation, ArithmeticOperators) {
  EXPECT_EQ(Op("+", 2, 5), 7);
  EXPECT_EQ(Op("-", 2, 5), 3); // B - A: B is the left operand
  EXPECT_EQ(Op("*", 2, 5), 10);
  EXPECT_EQ(Op("%", 2, 5), 2.5);
  EXPECT_EQ(Op("%", 0, 5), 1);
  EXPECT_EQ(Op("%", 0, 0), 1);
  EXPECT_NEAR(static_cast<double>(Op("%", 1e-300L, 3e-300L)), 3, 1e-15); // no protection
  EXPECT_THROW(Op("*", 1e4000L, 1e4000L), FloatError);
  EXPECT_THROW(Op("%", 1e-4000L, 1e4000L), FloatError);
}

TEST_F(Evaluation, ProtectedFunctions) {
  const long double e = std::exp(1.0L);
  EXPECT_EQ(Op("ABS", -3), 3);
  EXPECT_EQ(Op("LOG", 0), 0);
  EXPECT_NEAR(static_cast<double>(Op("LOG", -e)), 1.0, 1e-15);
  EXPECT_EQ(Op("SQRT", -4), 2);
  EXPECT_EQ(Op("EXP", 10), std::exp(5.0L)); // beyond MaxExp: e^MaxExp, whatever the sign
  EXPECT_EQ(Op("EXP", -10), std::exp(5.0L));
  EXPECT_EQ(Op("EXP", 5), std::exp(5.0L));
  EXPECT_EQ(Op("EXP", -5), std::exp(-5.0L));
  EXPECT_EQ(Op("COS", 0), 1);
  EXPECT_NEAR(static_cast<double>(Op("SIN", 0.5)), std::sin(0.5), 1e-15);
  EXPECT_EQ(Op("COS", 9223372036854775808.0L), 0); // 2^63 and beyond
  EXPECT_EQ(Op("SIN", -9223372036854775808.0L), 0);
  sim.P.MaxExp = 20000;
  EXPECT_THROW(Op("EXP", 12000), FloatError);
}

TEST_F(Evaluation, NamesWithoutAnOperationGiveZero) {
  EXPECT_EQ(Op("^", 2, 3), 0);
  EXPECT_EQ(Op("SX", 2), 0);
  EXPECT_EQ(Op("FOO", 2), 0);
  EXPECT_EQ(ApplyOp(sim, 0, 2, 3), 0);
  EXPECT_EQ(ApplyOp(sim, 20, 2, 3), 0); // beyond the table
}

TEST_F(Evaluation, WorkedExample) {
  test::TempDir dir;
  test::SetUpRunFolders(sim, dir.Path());
  BuildSymbolSet(sim.S, {"+", "-", "*", "%"}, {}, {"XP1", "XP2"}, {}, {}, "K");
  test::WriteText(ModelFileName(sim, "T", 1), "XP1K(1.25 )-XP2*");
  LoadModel(sim, 1);
  sim.M.PriceLag[1] = 10;
  sim.M.PriceLag[2] = 9;
  long double v = 0;
  ASSERT_TRUE(RunStackMachine(
      sim, [&](int code) { return sim.M.PriceLag[static_cast<size_t>(code - sim.S.NFunc)]; },
      "Incorrect operator !", v));
  EXPECT_EQ(v, 78.75);
  EXPECT_EQ(sim.ModelCursor, sim.ModelList.size());
  EXPECT_TRUE(warnings.empty());
}

TEST_F(Evaluation, StackMachineFaults) {
  long double v = -1;
  ASSERT_TRUE(Run({{17, 0}}, v)); // a single terminal
  EXPECT_EQ(v, 200);
  ASSERT_TRUE(Run({{19, 2.5}, {15, 0}, {8, 0}, {4, 0}}, v)); // K % EXP(X02): EXP capped at 5
  EXPECT_NEAR(static_cast<double>(v), 2.5 / std::exp(5.0), 1e-15);

  ASSERT_TRUE(Run({{1, 0}}, v)); // a lone operator: two empty pops of 0, one value left
  EXPECT_EQ(v, 0);
  EXPECT_EQ(warnings, (std::vector<std::string>(2, "Error: Stack underfollow. ")));

  warnings.clear();
  v = -1;
  EXPECT_FALSE(Run({{14, 0}, {15, 0}}, v));
  EXPECT_EQ(warnings, std::vector<std::string>{"Error: Data compute not match in T"});
  EXPECT_FALSE(Run({{14, 0}, {20, 0}, {1, 0}}, v)); // code beyond the table
  EXPECT_EQ(warnings.back(), "Incorrect operator");
  EXPECT_EQ(v, -1);
}

TEST_F(Evaluation, EvalModelAtReadsTheWindowsOneStepBack) {
  sim.P.Theta1 = 0.1;
  sim.P.Theta2 = 0.5;
  sim.P.MaxExp = 2;
  sim.R.DimB[109] = 2; // X01 at T = 111
  sim.R.DimC[110] = 100;
  sim.ModelList = {{14, 0}};
  long double f = 0;
  EvalModelAt(sim, 111, f);
  EXPECT_NEAR(static_cast<double>(f), 107.61594155955765, 1e-11); // |v| = MaxExp: tanh
  sim.R.DimB[109] = 3;
  EvalModelAt(sim, 111, f);
  EXPECT_NEAR(static_cast<double>(f), 110, 1e-12); // beyond MaxExp: the sign
  sim.R.DimB[109] = -3;
  EvalModelAt(sim, 111, f);
  EXPECT_NEAR(static_cast<double>(f), 90, 1e-12);

  // Y02 at T = 105 reads DimC[102]; the base is DimC[104]; EX1 is the current extra value.
  sim.P.Theta1 = 0.25;
  sim.R.DimC[102] = -1;
  sim.R.DimC[104] = 80;
  sim.R.ExtraVals[1] = 1.5;
  sim.ModelList = {{17, 0}, {18, 0}, {3, 0}};
  EvalModelAt(sim, 105, f);
  EXPECT_NEAR(static_cast<double>(f), 67.29702095225426, 1e-11);
  EXPECT_TRUE(warnings.empty());
}

TEST_F(Evaluation, EvalModelAtAbandonsAndKeepsTheForecast) {
  sim.R.DimB[109] = 12000;
  sim.R.DimC[110] = 100;
  sim.P.MaxExp = 20000;
  long double f = -7;
  sim.ModelList = {{14, 0}, {8, 0}}; // EXP overflows the extended range
  EvalModelAt(sim, 111, f);
  EXPECT_EQ(f, -7);
  sim.ModelList = {{15, 0}}; // X02 at T = 3 would read position 0
  EvalModelAt(sim, 3, f);
  EXPECT_EQ(f, -7);
  sim.ModelList = {{19, 1}};
  EvalModelAt(sim, 113, f); // the base position 112 lies beyond the window
  EXPECT_EQ(f, -7);
  EXPECT_TRUE(warnings.empty()); // all silent
  sim.ModelList = {{20, 0}};
  EvalModelAt(sim, 111, f);
  EXPECT_EQ(f, -7);
  EXPECT_EQ(warnings, std::vector<std::string>{"Incorrect operator"});
}

} // namespace
} // namespace zupo
