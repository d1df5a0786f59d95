#include "model/modelfile.h"

#include <cmath>
#include <cstring>
#include <gtest/gtest.h>

#include "core/errors.h"
#include "core/random.h"
#include "market/evalmodel.h"
#include "model/evaluate.h"
#include "model/report.h"
#include "model/symbols.h"
#include "testutil.h"

namespace zupo {
namespace {

struct ModelFiles : ::testing::Test, test::RunFolder {
  ModelFiles() {
    sim.Warn = [this](const std::string& m) { warnings.push_back(m); };
  }
  std::string Path(int n, bool lib = false) { return ModelFileName(sim, "T", n, lib); }
  int nodes = 0, terms = 0;
  std::vector<std::string> warnings;
};
using BestReport = ModelFiles;

TEST_F(ModelFiles, NamesRoundTripAndCache) {
  const std::tuple<const char*, int, bool, const char*> names[] = {
      {"T", 7, false, "run0/T0007.dat"},          {"T", 100, false, "run1/T0100.dat"},
      {"T", 1000, false, "run9/T1000.dat"},       {"T", 523, true, "lib5/T0523.dat"},
      {"Best", 1100, false, "run9/Best1100.dat"}, {"Best", 12345, false, "run9/Best12345.dat"}};
  for (const auto& [prefix, n, lib, name] : names) // the folder digit is n / 100, at most 9
    EXPECT_EQ(ModelFileName(sim, prefix, n, lib), dir / name);

  BuildSymbolSet(sim.S, {"+", "-", "*", "%"}, {}, {"XP1", "XP2"}, {}, {}, "K");
  const std::string text = "XP1K(1.25 )-XP2*";
  test::WriteText(Path(7), text);
  PTreeNode t = ReadTree(sim, 7, nodes, terms);
  EXPECT_EQ(InOrderText(sim.S, t.get()), "((XP1-1.25)*XP2)"); // Left is the first operand
  EXPECT_EQ(std::pair(nodes, terms), std::pair(5, 3));
  SaveModel(sim, t, 523);
  EXPECT_EQ(test::ReadText(dir / "run5/T0523.dat"), text);
  LoadModel(sim, 523);
  EXPECT_EQ(ListText(sim), text);
  t.reset(new TTreeNode{7, 3.456, {}, {}}); // a constant is stored with two decimals
  SaveModel(sim, t, 8);
  EXPECT_EQ(test::ReadText(Path(8)), "K(3.46 )");
  EXPECT_NEAR(ReadTree(sim, 8, nodes, terms)->Value, 3.46, 1e-11);

  StoreModelText(sim, 9, "XP1");
  test::WriteText(Path(9), "XP2"); // only the program writes these: the cache ignores this
  StoreModelText(sim, 9, "XP1");   // an equal save leaves the disk alone
  EXPECT_EQ(test::ReadText(Path(9)), "XP2");
  EXPECT_EQ(ModelFileText(sim, 9), "XP1"); // a known file is not read again
  StoreModelText(sim, 9, "K(1.00 )");
  StoreModelText(sim, 9, "XP2"); // a shorter text over a longer one leaves no tail
  EXPECT_EQ(test::ReadText(Path(9)), "XP2");
  // The library is read once in each generation that uses it (the companion changes it between).
  for (const auto& [gen, text, seen] :
       {std::tuple{3, "XP1", "XP1"}, {3, "XP2", "XP1"}, {4, "XP2", "XP2"}, {5, "XP1", "XP1"}}) {
    sim.R.RunGen = gen;
    test::WriteText(Path(9, true), text);
    LoadModel2(sim, 9);
    EXPECT_EQ(ListText(sim), seen) << gen << " " << text;
  }
}

// A copy writes the model as read (two decimals), a second copy nothing; measures are kept, except
// of a model with a missing operand, which warns at every reading as its file would.
TEST_F(ModelFiles, TokensFaultyFilesCopiesAndMeasures) {
  TextReader in("t", "XP1K(-SINSQRTSIXSXY01sqrtabsLO"); // "SX" loses the X; the end reads as ^Z
  std::string out;
  while (!in.Eof()) out += ReadToken(in) + " ";
  EXPECT_EQ(out, "XP1 K ( - SIN SQRT SIX S Y01 sqrt abs LO\x1a ");
  const auto items = ParseModelText(sim.S, "t", "x01Q"); // lower case, unknown: code 0
  EXPECT_EQ(std::pair(items.size(), items.at(0).Sym + items.at(1).Sym), std::pair(size_t{2}, 0));

  const char* texts[] = {"", "X01R(1.2x )+", "R(", "R(1e99 )"}; // file 4 is missing
  for (int n = 0; n <= 4; ++n) {
    if (n < 4) test::WriteText(Path(n), texts[n]);
    EXPECT_TRUE(test::FailsNaming([&] { LoadModel(sim, n); }, Path(n))) << n;
  }
  test::WriteText(Path(12, true), "+");
  EXPECT_EQ(InOrderText(sim.S, ReadTree(sim, -12, nodes, terms).get()), "(+)");
  EXPECT_EQ(warnings, std::vector<std::string>(2, "Stack underfollow !! "));

  test::WriteText(Path(507), "X01R(1.5 )+");
  for (int k = 0; k < 2; ++k) CopyModel(sim, 507, 7), FlushModel(sim, 7);
  EXPECT_EQ(test::ReadText(Path(7)), "X01R(1.50 )+");
  EXPECT_EQ(sim.Models.Writes, 1L);
  int32_t depth = 0, size = 0;
  ModelMeasures(sim, 7, depth, size);
  EXPECT_EQ(std::pair(depth, size), std::pair(2, 3));

  test::WriteText(Path(8), "+");
  for (int k = 0; k < 2; ++k) ModelMeasures(sim, 8, depth, size);
  EXPECT_EQ(std::tuple(depth, size, warnings.size()), std::tuple(1, 1, size_t{2 + 4}));
}

// A tree walk recurses once per level: a deeper file is refused by name, the deepest allowed kept.
TEST_F(ModelFiles, NestingIsBoundedWhenReading) {
  auto chain = [](int unary, const std::string& tail) {
    std::string t = "X01";
    for (int k = 0; k < unary; ++k) t += "ABS";
    return t + tail;
  };
  const std::pair<std::string, bool> files[] = {
      {chain(MaxModelFileDepth - 1, ""), true},
      {chain(MaxModelFileDepth, ""), false},
      {"X02" + chain(MaxModelFileDepth - 2, "*"), true}, // the binary node is level MaxDepth
      {"X02" + chain(MaxModelFileDepth - 1, "*"), false},
      {chain(200000, ""), false}}; // about 600 kB
  for (const auto& [text, ok] : files) {
    test::WriteText(Path(7), text);
    sim.Models.Clear();
    std::string back;
    EXPECT_EQ(!ok, test::FailsNaming(
                       [&] { back = TreeText(sim.S, ReadTree(sim, 7, nodes, terms).get()); },
                       Path(7) + ": the model is nested deeper than 4096"))
        << text.size();
    EXPECT_EQ(back, ok ? text : "");
  }
}

using Items = std::vector<std::string>;

TEST(SymbolList, SyntaxCornerCasesAndTableLimits) {
  // No final backslash drops the tail; an empty item is an item; names are cut to 4.
  EXPECT_EQ(ParseSymbolList("+\\-\\*\\%\\"), (Items{"+", "-", "*", "%"}));
  EXPECT_EQ(ParseSymbolList("+\\-\\*\\%"), (Items{"+", "-", "*"}));
  EXPECT_EQ(ParseSymbolList(""), Items{});
  EXPECT_EQ(ParseSymbolList("+\\\\-\\"), (Items{"+", "", "-"}));
  EXPECT_EQ(ParseSymbolList("  sqrtx\\ sin \\abcde\\"), (Items{"SQRT", "SIN", "ABCD"}));
  EXPECT_EQ(ParseConstItem("abc"), "A");

  SymbolSet S; // at most 75 symbols and 15 variables of each kind
  Items sixteen(16, "X"), fifteen(15, "X"), sixty(60, "+");
  BuildSymbolSet(S, sixty, {}, fifteen, {}, {}, ""); // the last variable is the constant
  EXPECT_EQ(S.NSym, 75);
  EXPECT_THROW(BuildSymbolSet(S, sixty, {}, fifteen, {}, {}, "K"), RunError);
  EXPECT_THROW(BuildSymbolSet(S, {"+"}, {}, sixteen, {}, {}, "K"), RunError);
  EXPECT_THROW(BuildSymbolSet(S, {"+"}, {}, {}, sixteen, {}, "K"), RunError);
  EXPECT_THROW(BuildSymbolSet(S, {"+"}, {}, {}, {}, sixteen, ""), RunError);
}

TEST_F(BestReport, SixLinesForTheMostProfitableTrader) {
  BuildSymbolSet(sim.S, {"+", "-", "*", "%"}, {}, {"XP1", "XP2"}, {}, {}, "K");
  sim.T.Profit.fill(-1.5e-7L); // all equal: trader 1 of the current half; the wealth too wide
  std::tie(sim.T.CurBase, sim.R.RunGen, sim.T.Wealth[501], sim.T.Money[501], sim.T.Shares[501]) =
      std::tuple(500, 99, 123456789012.25L, -12.125, 3);
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

TEST(Evaluation, StackMachineOperatorsAndForecasts) {
  Simulation sim;
  std::string warned;
  sim.Warn = [&](const std::string& m) { warned += m; };
  BuildSymbolSet(sim.S, {"+", "-", "*", "%"}, {}, {"XP1", "XP2"}, {}, {}, "K");
  auto lag = [](int code) -> long double { return code == 5 ? 10 : 9; }; // XP1 = 10, XP2 = 9
  long double v = 0;
  const std::tuple<std::vector<TPostfixItem>, bool, long double, const char*> runs[] = {
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
  for (auto list : {std::vector<TPostfixItem>{{11, 0}, {7, 0}}, {{20, 0}}})
    sim.ModelList = list, EvalModelAt(sim, 111, v);
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
