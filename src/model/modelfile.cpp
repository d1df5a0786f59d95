#include "model/modelfile.h"

#include <algorithm>
#include <cstdio>
#include <span>

#include "core/errors.h"
#include "core/format.h"
#include "core/real6.h"
#include "model/generate.h"
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

// The slot of model n, growing the store to cover it. Room for both halves is made at once, so
// references to stored models stay valid while the run's own numbers are used.
template <class Slot> Slot& SlotOf(std::vector<Slot>& v, int n) {
  if (n < 0) throw RunError("model number " + std::to_string(n) + " is out of range");
  size_t need = std::max<size_t>(static_cast<size_t>(n) + 1, 2 * MaxTraders + 1);
  if (v.size() < need) v.resize(need);
  return v[static_cast<size_t>(n)];
}

bool SameItems(std::span<const TPostfixItem> a, std::span<const TPostfixItem> b) {
  if (a.size() != b.size()) return false;
  for (size_t k = 0; k < a.size(); ++k)
    if (a[k].Sym != b[k].Sym || a[k].Value != b[k].Value) return false;
  return true;
}

// Takes text as model m's text: its items are what reading the text gives.
void TakeText(const SymbolSet& S, StoredModel& m, const std::string& name, std::string text) {
  std::vector<TPostfixItem> items = ParseModelText(S, name, text);
  std::string again = ItemsText(S, items);
  m.Canonical = again == text;
  m.Items = std::move(items);
  m.Text = std::move(text);
  m.Known = true;
  m.Measured = false;
}

// The tree of a list of items, built the way a model file is read. underflows counts the
// operands that were missing (each warned "Stack underfollow !! ").
PTreeNode BuildTree(Simulation& sim, std::span<const TPostfixItem> items, int& NodeCount,
                    int& TermCount, int& underflows) {
  NodeCount = 0;
  TermCount = 0;
  underflows = 0;
  std::vector<PTreeNode> stack;
  auto pop = [&]() {
    if (stack.empty()) ++underflows;
    return PopOperand(sim, stack);
  };
  for (const TPostfixItem& it : items) {
    ++NodeCount;
    auto node = std::make_unique<TTreeNode>();
    node->Sym = it.Sym;
    if (sim.S.IsTerminal(it.Sym)) {
      ++TermCount;
      node->Value = it.Value;
    } else if (sim.S.IsBinary(it.Sym)) {
      node->Right = pop();
      node->Left = pop();
    } else {
      node->Left = pop();
    }
    stack.push_back(std::move(node));
  }
  // A stored model is never empty, so one node at least was pushed. Nodes below the top belong
  // to no tree and are released with the stack.
  if (stack.empty()) return nullptr;
  return std::move(stack.back());
}

void AppendTreeItems(std::vector<TPostfixItem>& out, const TTreeNode* T) {
  if (!T) return;
  AppendTreeItems(out, T->Left.get());
  AppendTreeItems(out, T->Right.get());
  out.push_back(TPostfixItem{T->Sym, T->Value});
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

std::string ItemsText(const SymbolSet& S, std::span<const TPostfixItem> items) {
  std::string out;
  for (const TPostfixItem& it : items) AppendToken(out, S, it.Sym, it.Value);
  return out;
}

std::string ListText(const Simulation& sim) {
  return ItemsText(sim.S, sim.ModelList);
}

const StoredModel& OwnModel(Simulation& sim, int n) {
  StoredModel& m = SlotOf(sim.Models.Own, n);
  if (!m.Known) {
    std::string name = ModelFileName(sim, "T", n);
    std::string text = ReadWholeFile(name);
    TakeText(sim.S, m, name, text);
    m.OnDisk = std::move(text);
    m.OnDiskKnown = true;
  }
  return m;
}

const StoredModel& LibraryModelAt(Simulation& sim, int n) {
  LibraryModel& lib = SlotOf(sim.Models.Lib, n);
  if (lib.CheckedGen != sim.R.RunGen || !lib.M.Known) {
    // The companion rewrites library files between generations: the file is read once in each
    // generation that uses it, and parsed again only when its text changed.
    std::string name = ModelFileName(sim, "T", n, true);
    std::string text = ReadWholeFile(name);
    lib.CheckedGen = -1;
    if (!lib.M.Known || text != lib.M.Text) TakeText(sim.S, lib.M, name, std::move(text));
    lib.CheckedGen = sim.R.RunGen;
  }
  return lib.M;
}

const std::string& ModelFileText(Simulation& sim, int n) {
  return OwnModel(sim, n).Text;
}

void SetModel(Simulation& sim, int n, std::span<const TPostfixItem> items) {
  StoredModel& m = SlotOf(sim.Models.Own, n);
  if (m.Known && m.Canonical && SameItems(m.Items, items)) return;
  std::string text = ItemsText(sim.S, items);
  if (m.Known && text == m.Text) return; // the items already are what the text reads as
  TakeText(sim.S, m, ModelFileName(sim, "T", n), std::move(text));
}

void CopyModel(Simulation& sim, int from, int to) {
  SlotOf(sim.Models.Own, std::max(from, to));
  const StoredModel& src = OwnModel(sim, from);
  if (from == to) return;
  StoredModel& dst = sim.Models.Own[static_cast<size_t>(to)];
  if (!src.Canonical) return SetModel(sim, to, src.Items);
  if (dst.Known && dst.Text == src.Text) return;
  dst.Items = src.Items;
  dst.Text = src.Text;
  dst.Canonical = true;
  dst.Known = true;
  dst.Measured = src.Measured;
  dst.Depth = src.Depth;
  dst.Size = src.Size;
}

void FlushModel(Simulation& sim, int n) {
  StoredModel& m = SlotOf(sim.Models.Own, n);
  if (!m.Known || (m.OnDiskKnown && m.OnDisk == m.Text)) return;
  const size_t present = m.OnDiskKnown ? m.OnDisk.size() : std::string::npos;
  m.OnDiskKnown = false; // unknown until the write has succeeded
  if (sim.Models.KeepOpen) {
    if (!sim.Models.OpenFiles)
      sim.Models.OpenFiles = std::make_unique<RewrittenFile[]>(2 * MaxTraders + 1);
    sim.Files.Rewrite(sim.Models.OpenFiles[static_cast<size_t>(n)], ModelFileName(sim, "T", n),
                      m.Text);
  } else {
    sim.Files.InPlace(ModelFileName(sim, "T", n), m.Text, present);
  }
  ++sim.Models.Writes;
  m.OnDisk = m.Text;
  m.OnDiskKnown = true;
}

void CloseModelFiles(Simulation& sim) {
  if (!sim.Models.OpenFiles) return;
  std::string failure;
  for (int n = 0; n <= 2 * MaxTraders; ++n) {
    try {
      sim.Models.OpenFiles[static_cast<size_t>(n)].Close();
    } catch (const std::exception& e) {
      if (failure.empty()) failure = e.what();
    }
  }
  if (!failure.empty()) throw RunError(failure);
}

void StoreModelText(Simulation& sim, int n, std::string text) {
  StoredModel& m = SlotOf(sim.Models.Own, n);
  if (!m.Known || text != m.Text) TakeText(sim.S, m, ModelFileName(sim, "T", n), std::move(text));
  FlushModel(sim, n);
}

void SaveCandidate(Simulation& sim, PTreeNode& T, int n) {
  std::vector<TPostfixItem>& items = sim.Models.Scratch;
  items.clear();
  AppendTreeItems(items, T.get());
  DisposeTree(T);
  SetModel(sim, n, items);
}

void SaveModel(Simulation& sim, PTreeNode& T, int n) {
  SaveCandidate(sim, T, n);
  FlushModel(sim, n);
}

void ModelMeasures(Simulation& sim, int n, int32_t& depth, int32_t& size) {
  const StoredModel& m = OwnModel(sim, n);
  if (m.Measured) {
    depth = m.Depth;
    size = m.Size;
    return;
  }
  int nodes = 0, terms = 0, underflows = 0;
  PTreeNode T = BuildTree(sim, m.Items, nodes, terms, underflows);
  depth = TreeDepth(T.get());
  size = TreeSize(T.get());
  DisposeTree(T);
  // A tree with missing operands warns each time it is read, so it is not remembered.
  if (underflows == 0) {
    StoredModel& w = sim.Models.Own[static_cast<size_t>(n)];
    w.Measured = true;
    w.Depth = depth;
    w.Size = size;
  }
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
  sim.ModelList = OwnModel(sim, n).Items;
  sim.ModelCursor = 0;
}

void LoadModel2(Simulation& sim, int n) {
  sim.ModelList = LibraryModelAt(sim, n).Items;
  sim.ModelCursor = 0;
}

PTreeNode ReadTree(Simulation& sim, int n, int& NodeCount, int& TermCount) {
  const StoredModel& m = n >= 0 ? OwnModel(sim, n) : LibraryModelAt(sim, -n);
  int underflows = 0;
  return BuildTree(sim, m.Items, NodeCount, TermCount, underflows);
}

void WriteList(Simulation& sim, int n) {
  SetModel(sim, n, sim.ModelList);
  FlushModel(sim, n);
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
