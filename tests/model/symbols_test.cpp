#include "model/symbols.h"

#include <gtest/gtest.h>

#include "core/errors.h"
#include "model/tree.h"
#include "testutil.h"

namespace zupo {
namespace {

using Items = std::vector<std::string>;

TEST(SymbolList, EveryItemEndsWithABackslash) {
  EXPECT_EQ(ParseSymbolList("+\\-\\*\\%\\"), (Items{"+", "-", "*", "%"}));
  EXPECT_EQ(ParseSymbolList("+\\-\\*\\%"), (Items{"+", "-", "*"})); // no final backslash
  EXPECT_EQ(ParseSymbolList(""), Items{});
  EXPECT_EQ(ParseSymbolList("   \t"), Items{});
}

TEST(SymbolList, ItemsAreTrimmedUpperCasedAndCut) {
  EXPECT_EQ(ParseSymbolList("  sqrtx\\ sin \\Log\\"), (Items{"SQRT", "SIN", "LOG"}));
  EXPECT_EQ(ParseSymbolList("abcde\\"), Items{"ABCD"});
  EXPECT_EQ(ParseSymbolList("+\\\\-\\"), (Items{"+", "", "-"})); // an empty item is an item
}

TEST(SymbolList, ConstItemKeepsOneUpperCaseCharacter) {
  EXPECT_EQ(ParseConstItem("abc"), "A");
  EXPECT_EQ(ParseConstItem("  k \r"), "K");
  EXPECT_EQ(ParseConstItem(""), "");
}

TEST(SymbolSet, CodesAreDenseAndGroupedByKind) {
  Simulation sim;
  test::DefaultSymbols(sim);
  const SymbolSet& S = sim.S;
  EXPECT_EQ(S.NBinary, 4);
  EXPECT_EQ(S.NUnary, 6);
  EXPECT_EQ(S.NFunc, 10);
  EXPECT_EQ(S.NXVar, 3);
  EXPECT_EQ(S.NYVar, 2);
  EXPECT_EQ(S.NExtra, 0);
  EXPECT_EQ(S.NTerm, 6);
  EXPECT_EQ(S.NSym, 16);
  EXPECT_EQ(S.SymTab[1], "+");
  EXPECT_EQ(S.SymTab[10], "SQRT");
  EXPECT_EQ(S.SymTab[11], "X01");
  EXPECT_EQ(S.SymTab[15], "Y02");
  EXPECT_EQ(S.SymTab[16], "R");
  EXPECT_EQ(S.ConstItem, "R");
  EXPECT_TRUE(S.IsBinary(0)); // an unknown name counts as a binary operator
  EXPECT_TRUE(S.IsUnary(5) && !S.IsBinary(5));
  EXPECT_TRUE(S.IsTerminal(11) && !S.IsConst(11) && S.IsConst(16));
}

TEST(SymbolSet, WithoutConstItemTheLastVariableIsTheConstant) {
  SymbolSet S;
  BuildSymbolSet(S, {"+"}, {}, {"X01", "X02"}, {}, {"EX1", "EX2"}, "");
  EXPECT_EQ(S.NSym, 5);
  EXPECT_EQ(S.NTerm, 4);
  EXPECT_EQ(S.NExtra, 2);
  EXPECT_EQ(S.ConstItem, "");
  EXPECT_TRUE(S.IsConst(5));
  EXPECT_EQ(S.SymTab[5], "EX2");
  EXPECT_EQ(S.SymTab[6], ""); // a rebuilt set leaves nothing of an earlier one
}

TEST(SymbolSet, RefusesMoreThanTheTablesHold) {
  SymbolSet S;
  Items sixteen(16, "X"), fifteen(15, "X"), sixty(60, "+");
  EXPECT_NO_THROW(BuildSymbolSet(S, sixty, {}, fifteen, {}, {}, ""));         // 75 symbols
  EXPECT_THROW(BuildSymbolSet(S, sixty, {}, fifteen, {}, {}, "K"), RunError); // 76
  try {
    BuildSymbolSet(S, {"+"}, {}, {}, sixteen, {}, "K");
    FAIL() << "16 Y variables accepted";
  } catch (const RunError& e) {
    EXPECT_NE(std::string(e.what()).find("Y_Var"), std::string::npos) << e.what();
  }
  EXPECT_THROW(BuildSymbolSet(S, {}, {}, {}, {}, sixteen, ""), RunError);
}

TEST(SymbolSet, LookupIsExactAfterTrimming) {
  SymbolSet S;
  BuildSymbolSet(S, {"+", "+"}, {"SIN"}, {"X01"}, {}, {}, "K");
  EXPECT_EQ(LookupSym(S, "+"), 1); // the first of two equal names
  EXPECT_EQ(LookupSym(S, " X01\r"), 4);
  EXPECT_EQ(LookupSym(S, "x01"), 0);
  EXPECT_EQ(LookupSym(S, "SI"), 0);
  EXPECT_EQ(LookupSym(S, "K"), 5);
}

TEST(Tree, DisposeLeavesTheReferenceEmpty) {
  PTreeNode t;
  DisposeTree(t);
  EXPECT_EQ(t, nullptr);
  t = std::make_unique<TTreeNode>();
  t->Left = std::make_unique<TTreeNode>();
  t->Right = std::make_unique<TTreeNode>();
  t->Left->Left = std::make_unique<TTreeNode>();
  DisposeTree(t);
  EXPECT_EQ(t, nullptr);
}

} // namespace
} // namespace zupo
