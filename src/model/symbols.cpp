#include "model/symbols.h"

#include <string_view>

#include "core/errors.h"

namespace zupo {

namespace {

std::string Trimmed(std::string_view s) {
  while (!s.empty() && static_cast<unsigned char>(s.front()) <= ' ') s.remove_prefix(1);
  while (!s.empty() && static_cast<unsigned char>(s.back()) <= ' ') s.remove_suffix(1);
  return std::string(s);
}

std::string Upper(std::string s) {
  for (char& c : s)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return s;
}

void CheckVarCount(const std::vector<std::string>& list, const char* key) {
  if (list.size() > static_cast<size_t>(MaxVarsPerKind))
    throw RunError(std::string(key) + " names " + std::to_string(list.size()) +
                   " variables; at most " + std::to_string(MaxVarsPerKind) + " are allowed");
}

} // namespace

std::vector<std::string> ParseSymbolList(const std::string& value) {
  std::vector<std::string> items;
  std::string rest = Upper(Trimmed(value));
  while (!rest.empty()) {
    size_t bs = rest.find('\\');
    if (bs == std::string::npos) break; // text after the last backslash is no item
    items.push_back(Trimmed(std::string_view(rest).substr(0, bs)).substr(0, 4));
    rest.erase(0, bs + 1);
  }
  return items;
}

std::string ParseConstItem(const std::string& value) {
  return Upper(Trimmed(value)).substr(0, 1);
}

void BuildSymbolSet(SymbolSet& S, const std::vector<std::string>& binary,
                    const std::vector<std::string>& unary, const std::vector<std::string>& xvar,
                    const std::vector<std::string>& yvar, const std::vector<std::string>& extra,
                    const std::string& constItem) {
  CheckVarCount(xvar, "X_Var");
  CheckVarCount(yvar, "Y_Var");
  CheckVarCount(extra, "Extra_Var");
  size_t total = binary.size() + unary.size() + xvar.size() + yvar.size() + extra.size() +
                 (constItem.empty() ? 0 : 1);
  if (total > static_cast<size_t>(MaxSymbols))
    throw RunError("the symbol lists name " + std::to_string(total) + " symbols; at most " +
                   std::to_string(MaxSymbols) + " are allowed");

  S = SymbolSet{};
  int code = 1;
  auto add = [&](const std::vector<std::string>& list, uint8_t& count) {
    count = 0;
    for (const std::string& name : list) {
      S.SymTab[static_cast<size_t>(code++)] = name;
      ++count;
      ++S.NSym;
    }
  };
  add(binary, S.NBinary);
  add(unary, S.NUnary);
  S.NFunc = static_cast<uint8_t>(S.NBinary + S.NUnary);
  add(xvar, S.NXVar);
  add(yvar, S.NYVar);
  add(extra, S.NExtra);
  S.NTerm = static_cast<uint8_t>(S.NXVar + S.NYVar + S.NExtra);
  S.ConstItem = constItem.substr(0, 1);
  if (!S.ConstItem.empty()) {
    S.SymTab[static_cast<size_t>(code)] = S.ConstItem;
    ++S.NSym;
    ++S.NTerm;
  }
  for (int c = 1; c <= S.NSym; ++c)
    S.Op[static_cast<size_t>(c)] = OpOfName(S.SymTab[static_cast<size_t>(c)]);
}

SymOp OpOfName(const std::string& name) {
  if (name.empty()) return SymOp::None;
  switch (name[0]) {
  case '+':
    return SymOp::Add;
  case '-':
    return SymOp::Sub;
  case '*':
    return SymOp::Mul;
  case '%':
    return SymOp::Div;
  case 'A':
    return SymOp::Abs;
  case 'C':
    return SymOp::Cos;
  case 'E':
    return SymOp::Exp;
  case 'L':
    return SymOp::Log;
  case 'S':
    if (name.size() > 1 && name[1] == 'I') return SymOp::Sin;
    if (name.size() > 1 && name[1] == 'Q') return SymOp::Sqrt;
    return SymOp::None;
  default:
    return SymOp::None;
  }
}

int LookupSym(const SymbolSet& S, const std::string& token) {
  std::string t = Trimmed(token);
  for (int c = 1; c <= S.NSym; ++c)
    if (S.SymTab[static_cast<size_t>(c)] == t) return c;
  return 0;
}

} // namespace zupo
