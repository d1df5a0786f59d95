#include "model/symbols.h"

#include <gtest/gtest.h>

#include "core/errors.h"

namespace zupo {
namespace {

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

} // namespace
} // namespace zupo
