#pragma once
#include <string>
#include <vector>

#include "core/state.h"

namespace zupo {

// Splits a configured symbol list: trimmed, upper-cased; every item ends with '\', is trimmed
// and cut to 4 characters; text after the last '\' is dropped.
std::vector<std::string> ParseSymbolList(const std::string& value);
// Const_Item: trimmed, upper-cased, cut to its first character ("" = no constant symbol).
std::string ParseConstItem(const std::string& value);

// Builds SymTab, ConstItem and the counts from the five lists and the constant item.
// RunError when there are more than 75 symbols or more than 15 variables of one kind.
void BuildSymbolSet(SymbolSet& S, const std::vector<std::string>& binary,
                    const std::vector<std::string>& unary, const std::vector<std::string>& xvar,
                    const std::vector<std::string>& yvar, const std::vector<std::string>& extra,
                    const std::string& constItem);

// The operation of a function name, by its first character (S by its second); None for a name
// outside the table. BuildSymbolSet fills SymbolSet::Op with it.
SymOp OpOfName(const std::string& name);

// Code of a token (blanks and control characters around it stripped, exact comparison),
// 1..NSym; 0 when unknown.
int LookupSym(const SymbolSet& S, const std::string& token);

} // namespace zupo
