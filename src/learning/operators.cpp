// The genetic operators: tournament selection, reproduction, point and subtree mutation and
// crossover. Each makes one candidate model CurBase + i in memory (the search writes the file of
// the model the trader ends with); an offspring deeper than DepthLimit is never taken, the first
// parent is copied instead.
#include "learning/operators.h"

#include <algorithm>
#include <utility>

#include "model/generate.h"
#include "model/modelfile.h"

namespace zupo {

namespace {

// Copies model PrevBase + w unchanged into model CurBase + i.
void CopyParent(Simulation& sim, int i, int w) {
  CopyModel(sim, sim.T.PrevBase + w, sim.T.CurBase + i);
}

int CappedDepthAt(int limit, const TTreeNode* node, int level) {
  if (!node) return level;
  if (level >= limit) return level;
  return std::max(CappedDepthAt(limit, node->Left.get(), level + 1),
                  CappedDepthAt(limit, node->Right.get(), level + 1));
}

// Walks the tree in preorder and stops at the k-th node that counts. Nodes that do not count
// are passed through (enter = true) or skipped with their subtrees (enter = false).
template <class Counts> struct PreorderPick {
  Counts counts;
  bool enter;
  int k;
  Link found;
  bool done = false;

  void Visit(TTreeNode* parent, bool rightSide) {
    TTreeNode* node = (rightSide ? parent->Right : parent->Left).get();
    if (!node || done) return;
    bool counted = counts(node);
    if (counted && --k == 0) {
      found = Link{nullptr, parent, rightSide};
      done = true;
      return;
    }
    if (!counted && !enter) return;
    Visit(node, false);
    Visit(node, true);
  }
};
// Spelled out for compilers without deduction for aggregates (clang 14 builds the fuzzers).
template <class Counts> PreorderPick(Counts, bool, int, Link) -> PreorderPick<Counts>;

// The k-th counted node in preorder, the root counting as the first. A k beyond the counted
// nodes (only with a malformed model file) falls back to the root link.
template <class Counts> Link Pick(PTreeNode& T, int k, bool enter, Counts counts) {
  Link root{&T, nullptr, false};
  if (!T || k <= 1) return root;
  PreorderPick<Counts> p{counts, enter, k - 1, root};
  p.Visit(T.get(), false);
  p.Visit(T.get(), true);
  return p.found;
}

// Crossover point: a terminal with probability LeaveProb / 10, otherwise a function node.
Link CrossoverPoint(Simulation& sim, PTreeNode& T, int Size, int Leaves) {
  if (sim.Rand.Random(10) < sim.P.LeaveProb) {
    int k = sim.Rand.Random(Leaves) + 1;
    return PickLeaf(sim, T, k);
  }
  int k = sim.Rand.Random(Size - Leaves) + 1;
  return PickInner(sim, T, k);
}

// Redraws the symbol of one postfix item within its class (binary, unary, terminal). A class
// without members keeps the symbol, so that the item's arity never changes.
void RedrawSymbol(Simulation& sim, TPostfixItem& item) {
  const SymbolSet& S = sim.S;
  if (S.IsBinary(item.Sym)) {
    int code = sim.Rand.Random(S.NBinary) + 1;
    if (S.NBinary > 0) item.Sym = static_cast<uint8_t>(code);
  } else if (S.IsUnary(item.Sym)) {
    int code = S.NBinary + sim.Rand.Random(S.NUnary) + 1;
    if (S.NUnary > 0) item.Sym = static_cast<uint8_t>(code);
  } else {
    int code = S.NFunc + sim.Rand.Random(S.NTerm) + 1;
    if (S.NTerm == 0) return;
    item.Sym = static_cast<uint8_t>(code);
    item.Value = S.IsConst(code) ? RandomConstant(sim) : 111.0;
  }
}

} // namespace

int SelectParent(Simulation& sim) {
  int a = sim.Rand.Random(MaxTraders) + 1;
  int b = sim.Rand.Random(MaxTraders) + 1;
  return sim.T.GapProfit[b] > sim.T.GapProfit[a] ? b : a;
}

int SelectLibrary(Simulation& sim) {
  int a = sim.Rand.Random(MaxTraders) + 1;
  int b = sim.Rand.Random(MaxTraders) + 1;
  return sim.R.Mape[a] > sim.R.Mape[b] ? b : a;
}

int Reproduce(Simulation& sim, int i, bool library) {
  int w;
  if (library) {
    w = SelectLibrary(sim);
    SetModel(sim, sim.T.CurBase + i, LibraryModelAt(sim, sim.T.PrevBase + w).Items);
  } else {
    w = SelectParent(sim);
    CopyParent(sim, i, w);
  }
  return w;
}

void PointMutation(Simulation& sim, int i) {
  int w = SelectParent(sim);
  LoadModel(sim, sim.T.PrevBase + w);
  for (TPostfixItem& item : sim.ModelList) {
    int r = sim.Rand.Random(1000) + 1;
    if (r <= sim.P.MutProb) RedrawSymbol(sim, item);
  }
  SetModel(sim, sim.T.CurBase + i, sim.ModelList);
  DisposeList(sim);
}

void SubtreeMutation(Simulation& sim, int i) {
  int w = SelectParent(sim);
  int Size = 0, Leaves = 0;
  PTreeNode T = ReadTree(sim, sim.T.PrevBase + w, Size, Leaves);
  int r = sim.Rand.Random(1000) + 1;
  if (r > sim.P.MutProb) {
    CopyParent(sim, i, w);
    return;
  }
  PTreeNode S;
  GenGrow(sim, S, 1, 6);
  int k = sim.Rand.Random(Size) + 1;
  Link L = PickNode(T, k);
  // An empty subtree (only with an empty symbol class) would leave an operator without its
  // operand: keep the parent instead.
  if (!S) {
    CopyParent(sim, i, w);
    return;
  }
  L.Ref() = std::move(S); // the replaced subtree is released here
  if (CappedDepth(sim, T.get()) > sim.P.DepthLimit) {
    DisposeTree(T);
    CopyParent(sim, i, w);
    return;
  }
  SaveCandidate(sim, T, sim.T.CurBase + i);
}

void Crossover(Simulation& sim, int i) {
  int w1 = SelectParent(sim);
  int Size1 = 0, Leaves1 = 0;
  PTreeNode T1 = ReadTree(sim, sim.T.PrevBase + w1, Size1, Leaves1);
  int w2 = SelectParent(sim);
  int Size2 = 0, Leaves2 = 0;
  PTreeNode T2 = ReadTree(sim, sim.T.PrevBase + w2, Size2, Leaves2);

  Link L1 = CrossoverPoint(sim, T1, Size1, Leaves1);
  Link L2 = CrossoverPoint(sim, T2, Size2, Leaves2);
  // The two links lie in different trees, so the swap never moves a subtree into itself.
  std::swap(L1.Ref(), L2.Ref());

  int d1 = CappedDepth(sim, T1.get());
  int d2 = CappedDepth(sim, T2.get());
  if (d1 <= sim.P.DepthLimit) {
    SaveCandidate(sim, T1, sim.T.CurBase + i);
  } else if (d2 <= sim.P.DepthLimit) {
    SaveCandidate(sim, T2, sim.T.CurBase + i);
  } else {
    CopyParent(sim, i, w1);
  }
  DisposeTree(T1);
  DisposeTree(T2);
}

int CappedDepth(const Simulation& sim, const TTreeNode* T) {
  return CappedDepthAt(sim.P.DepthLimit + 2, T, 0);
}

Link PickNode(PTreeNode& T, int k) {
  return Pick(T, k, true, [](const TTreeNode*) { return true; });
}

Link PickLeaf(const Simulation& sim, PTreeNode& T, int k) {
  Link root{&T, nullptr, false};
  if (!T || sim.S.IsTerminal(T->Sym)) return root;
  const SymbolSet& S = sim.S;
  // k = 1 must reach the first terminal below the root, so the root does not count.
  PreorderPick p{[&S](const TTreeNode* n) { return S.IsTerminal(n->Sym); }, true, k, root};
  p.Visit(T.get(), false);
  p.Visit(T.get(), true);
  return p.found;
}

Link PickInner(const Simulation& sim, PTreeNode& T, int k) {
  const SymbolSet& S = sim.S;
  return Pick(T, k, false, [&S](const TTreeNode* n) { return S.IsFunction(n->Sym); });
}

} // namespace zupo
