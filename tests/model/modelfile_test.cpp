#include "model/modelfile.h"

#include <gtest/gtest.h>

#include "core/errors.h"
#include "model/report.h"
#include "model/symbols.h"
#include "testutil.h"

namespace zupo {
namespace {

struct ModelFiles : ::testing::Test, test::RunFolder {
  std::string Path(int n, bool lib = false) { return ModelFileName(sim, "T", n, lib); }
  int nodes = 0, terms = 0;
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
  // The library is read once in each generation that uses it: the companion changes it between
  // generations.
  for (const auto& [gen, text, seen] :
       {std::tuple{3, "XP1", "XP1"}, {3, "XP2", "XP1"}, {4, "XP2", "XP2"}, {5, "XP1", "XP1"}}) {
    sim.R.RunGen = gen;
    test::WriteText(Path(9, true), text);
    LoadModel2(sim, 9);
    EXPECT_EQ(ListText(sim), seen) << gen << " " << text;
  }
}

TEST_F(ModelFiles, TokensAndFaultyFiles) {
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
  std::vector<std::string> warnings;
  sim.Warn = [&](const std::string& m) { warnings.push_back(m); };
  test::WriteText(Path(12, true), "+");
  EXPECT_EQ(InOrderText(sim.S, ReadTree(sim, -12, nodes, terms).get()), "(+)");
  EXPECT_EQ(warnings, std::vector<std::string>(2, "Stack underfollow !! "));
}

// A copy writes the model as read (two decimals), a second copy nothing; measures are kept, except
// of a model with a missing operand, which warns at every reading as its file would.
TEST_F(ModelFiles, CopiesWriteTheModelAsReadAndMeasuresAreKept) {
  test::WriteText(Path(507), "X01R(1.5 )+");
  for (int k = 0; k < 2; ++k) CopyModel(sim, 507, 7), FlushModel(sim, 7);
  EXPECT_EQ(test::ReadText(Path(7)), "X01R(1.50 )+");
  EXPECT_EQ(sim.Models.Writes, 1L);
  int32_t depth = 0, size = 0;
  ModelMeasures(sim, 7, depth, size);
  EXPECT_EQ(std::pair(depth, size), std::pair(2, 3));

  std::vector<std::string> warnings;
  sim.Warn = [&](const std::string& m) { warnings.push_back(m); };
  test::WriteText(Path(8), "+");
  for (int k = 0; k < 2; ++k) ModelMeasures(sim, 8, depth, size);
  EXPECT_EQ(std::tuple(depth, size, warnings.size()), std::tuple(1, 1, size_t{4}));
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

} // namespace
} // namespace zupo
