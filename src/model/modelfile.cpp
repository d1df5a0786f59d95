#include "model/modelfile.h"

#include <algorithm>
#include <cstdio>

#include "core/errors.h"
#include "core/format.h"
#include "core/real6.h"
#include "model/symbols.h"

namespace zupo {

namespace {

// An unknown code (0 included) is never the constant symbol, even with an empty symbol set.
bool IsConstCode(const SymbolSet& S, int code) {
  return code != 0 && S.IsConst(code);
}

const std::string& NameOf(const SymbolSet& S, int code) {
  static const std::string none;
  if (code < 1 || code > S.NSym) return none;
  return S.SymTab[static_cast<size_t>(code)];
}

void AppendToken(std::string& out, const SymbolSet& S, int code, double value) {
  out += NameOf(S, code);
  if (IsConstCode(S, code)) AppendConstToken(out, value);
}

void AppendPostfix(std::string& out, const SymbolSet& S, const TTreeNode* T) {
  if (!T) return;
  AppendPostfix(out, S, T->Left.get());
  AppendPostfix(out, S, T->Right.get());
  AppendToken(out, S, T->Sym, T->Value);
}

void AppendInOrder(std::string& out, const SymbolSet& S, const TTreeNode* T) {
  if (!T) return;
  if (S.IsBinary(T->Sym)) {
    out += '(';
    AppendInOrder(out, S, T->Left.get());
    out += NameOf(S, T->Sym);
    AppendInOrder(out, S, T->Right.get());
    out += ')';
  } else if (S.IsUnary(T->Sym)) {
    out += NameOf(S, T->Sym);
    AppendInOrder(out, S, T->Left.get());
  } else if (IsConstCode(S, T->Sym)) {
    AppendFixed(out, T->Value, 4, 2);
  } else {
    out += NameOf(S, T->Sym);
  }
}

// The number of a constant: "(" number " )". The blank that ends the number stays unread by
// the number reader and is skipped with the ")".
double ReadConstNumber(TextReader& in) {
  in.ReadChar();
  long double v = in.ReadReal(); // names the file on a bad number or at end of file
  double stored = 0;
  try {
    stored = Round6(v);
  } catch (const FloatError&) {
    throw RunError(in.Name() + ": the constant " + FormatGeneral(v) + " is out of range");
  }
  in.ReadChar();
  in.ReadChar();
  return stored;
}

PTreeNode PopOperand(Simulation& sim, std::vector<PTreeNode>& stack) {
  if (stack.empty()) {
    sim.Warning("Stack underfollow !! ");
    return nullptr; // the missing operand is an empty subtree
  }
  PTreeNode t = std::move(stack.back());
  stack.pop_back();
  return t;
}

// Cache slot of model n, growing the cache to cover it. Room for both halves is made at once,
// so references returned by ModelFileText stay valid while the run's own numbers are used.
size_t CacheSlot(ModelTextCache& cache, int n) {
  size_t need = std::max<size_t>(static_cast<size_t>(n) + 1, 2 * MaxTraders + 1);
  if (cache.Text.size() < need) {
    cache.Text.resize(need);
    cache.Known.resize(need, 0);
  }
  return static_cast<size_t>(n);
}

} // namespace

std::string ModelFileName(const Simulation& sim, std::string_view filePrefix, int n, bool library) {
  if (n < 0) throw RunError("model file number " + std::to_string(n) + " is out of range");
  // Numbers from 900 on all live in folder 9; the name keeps every digit.
  int digit = std::min(n / 100, 9);
  char num[16];
  std::snprintf(num, sizeof num, "%04d", n);
  std::string name = library ? sim.P.Tree_Path2 : sim.P.Tree_Path1;
  name += static_cast<char>('0' + digit);
  name += '/';
  name += filePrefix;
  name += num;
  name += ".dat";
  return name;
}

std::string ReadToken(TextReader& in) {
  auto up = [](char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; };
  std::string tok(1, in.ReadChar());
  switch (up(tok[0])) {
  case 'A':
  case 'C':
  case 'E':
  case 'L':
  case 'X':
  case 'Y':
  case 'Z':
    tok += in.ReadChar();
    tok += in.ReadChar();
    break;
  case 'S': {
    char d = in.ReadChar();
    if (up(d) == 'I') {
      tok += d;
      tok += in.ReadChar();
    } else if (up(d) == 'Q') {
      tok += d;
      tok += in.ReadChar();
      tok += in.ReadChar();
    } // otherwise d is consumed and lost
    break;
  }
  default:
    break;
  }
  return tok;
}

void AppendConstToken(std::string& out, double value) {
  out += '(';
  AppendFixed(out, value, 4, 2);
  out += " )";
}

std::string TreeText(const SymbolSet& S, const TTreeNode* T) {
  std::string out;
  AppendPostfix(out, S, T);
  return out;
}

std::string ItemsText(const SymbolSet& S, const std::vector<TPostfixItem>& items) {
  std::string out;
  for (const TPostfixItem& it : items) AppendToken(out, S, it.Sym, it.Value);
  return out;
}

std::string ListText(const Simulation& sim) {
  return ItemsText(sim.S, sim.ModelList);
}

const std::string& ModelFileText(Simulation& sim, int n) {
  std::string name = ModelFileName(sim, "T", n);
  size_t k = CacheSlot(sim.ModelTexts, n);
  if (!sim.ModelTexts.Known[k]) {
    sim.ModelTexts.Text[k] = ReadWholeFile(name);
    sim.ModelTexts.Known[k] = 1;
  }
  return sim.ModelTexts.Text[k];
}

void StoreModelText(Simulation& sim, int n, std::string text) {
  std::string name = ModelFileName(sim, "T", n);
  size_t k = CacheSlot(sim.ModelTexts, n);
  if (sim.ModelTexts.Known[k] && sim.ModelTexts.Text[k] == text) return;
  sim.ModelTexts.Known[k] = 0; // unknown until the write has succeeded
  WriteFileInPlace(name, text);
  sim.ModelTexts.Text[k] = std::move(text);
  sim.ModelTexts.Known[k] = 1;
}

void SaveModel(Simulation& sim, PTreeNode& T, int n) {
  std::string text = TreeText(sim.S, T.get());
  DisposeTree(T);
  StoreModelText(sim, n, std::move(text));
}

std::vector<TPostfixItem> ParseModelText(const SymbolSet& S, const std::string& name,
                                         const std::string& text) {
  if (text.empty()) throw RunError(name + ": the model file is empty");
  std::vector<TPostfixItem> items;
  // The depth of each subtree on the postfix stack: the tree walks recurse once per level, so
  // the nesting is bounded here, where the file is read.
  std::vector<int> depths;
  TextReader in(name, text);
  while (!in.Eof()) {
    TPostfixItem it;
    it.Sym = static_cast<uint8_t>(LookupSym(S, ReadToken(in)));
    if (IsConstCode(S, it.Sym)) it.Value = ReadConstNumber(in);
    items.push_back(it);
    int arity = S.IsTerminal(it.Sym) ? 0 : S.IsBinary(it.Sym) ? 2 : 1;
    int d = 0;
    for (int k = 0; k < arity && !depths.empty(); ++k) {
      d = std::max(d, depths.back());
      depths.pop_back();
    }
    if (d + 1 > MaxModelFileDepth)
      throw RunError(name + ": the model is nested deeper than " +
                     std::to_string(MaxModelFileDepth) + " levels");
    depths.push_back(d + 1);
  }
  return items;
}

void LoadModel(Simulation& sim, int n) {
  const std::string& text = ModelFileText(sim, n);
  sim.ModelList = ParseModelText(sim.S, ModelFileName(sim, "T", n), text);
  sim.ModelCursor = 0;
}

void LoadModel2(Simulation& sim, int n) {
  std::string name = ModelFileName(sim, "T", n, true);
  sim.ModelList = ParseModelText(sim.S, name, ReadWholeFile(name));
  sim.ModelCursor = 0;
}

PTreeNode ReadTree(Simulation& sim, int n, int& NodeCount, int& TermCount) {
  std::vector<TPostfixItem> items;
  if (n >= 0) {
    items = ParseModelText(sim.S, ModelFileName(sim, "T", n), ModelFileText(sim, n));
  } else {
    std::string name = ModelFileName(sim, "T", -n, true);
    items = ParseModelText(sim.S, name, ReadWholeFile(name));
  }
  NodeCount = 0;
  TermCount = 0;
  std::vector<PTreeNode> stack;
  for (const TPostfixItem& it : items) {
    ++NodeCount;
    auto node = std::make_unique<TTreeNode>();
    node->Sym = it.Sym;
    if (sim.S.IsTerminal(it.Sym)) {
      ++TermCount;
      node->Value = it.Value;
    } else if (sim.S.IsBinary(it.Sym)) {
      node->Right = PopOperand(sim, stack);
      node->Left = PopOperand(sim, stack);
    } else {
      node->Left = PopOperand(sim, stack);
    }
    stack.push_back(std::move(node));
  }
  // A file is never empty here, so one node at least was pushed. Nodes below the top belong
  // to no tree and are released with the stack.
  return std::move(stack.back());
}

void WriteList(Simulation& sim, int n) {
  StoreModelText(sim, n, ListText(sim));
  sim.ModelCursor = sim.ModelList.size();
}

std::string InOrderText(const SymbolSet& S, const TTreeNode* T) {
  std::string out;
  AppendInOrder(out, S, T);
  return out;
}

void DisposeList(Simulation& sim) {
  sim.ModelList.clear();
  sim.ModelCursor = 0;
}

} // namespace zupo
