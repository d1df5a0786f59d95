#include "model/generate.h"

#include <algorithm>
#include <string>

#include "core/real6.h"

namespace zupo {

namespace {

int DrawFunction(Simulation& sim) {
  return sim.Rand.Random(sim.S.NFunc) + 1;
}

int DrawTerminal(Simulation& sim) {
  return sim.Rand.Random(sim.S.NTerm) + sim.S.NFunc + 1;
}

// A node with its own draws done (the constant's number for the constant symbol).
PTreeNode NewNode(Simulation& sim, int code) {
  auto node = std::make_unique<TTreeNode>();
  node->Sym = static_cast<uint8_t>(code);
  if (sim.S.IsTerminal(code) && sim.S.IsConst(code)) node->Value = RandomConstant(sim);
  return node;
}

} // namespace

double RandomConstant(Simulation& sim) {
  long double a = sim.Rand.Random(10);
  long double b = sim.Rand.Random(100);
  long double v = a + b * 0.01L;
  if (sim.Rand.Random(2) == 1) v = -v;
  return Round6(v);
}

void GenFull(Simulation& sim, PTreeNode& T, int Depth, int Limit) {
  if (Depth > Limit) return;
  PTreeNode node;
  if (Depth < Limit) {
    int code = DrawFunction(sim);
    node = std::make_unique<TTreeNode>(); // a function node draws no constant
    node->Sym = static_cast<uint8_t>(code);
    GenFull(sim, node->Left, Depth + 1, Limit);
    if (sim.S.IsBinary(code)) GenFull(sim, node->Right, Depth + 1, Limit);
  } else {
    node = NewNode(sim, DrawTerminal(sim));
  }
  T = std::move(node);
}

void GenGrow(Simulation& sim, PTreeNode& T, int Depth, int Limit) {
  if (Depth > Limit) return;
  int code = 0;
  if (Depth < Limit)
    code = sim.Rand.Random(2) == 0 ? DrawFunction(sim) : DrawTerminal(sim);
  else
    code = DrawTerminal(sim);
  if (code == 0 || code > sim.S.NSym) {
    // Only an empty function or terminal set gets here.
    sim.Warning("Data Generate Error !!  It order is " + std::to_string(code));
    T.reset();
    return;
  }
  PTreeNode node = NewNode(sim, code);
  if (sim.S.IsFunction(code)) {
    GenGrow(sim, node->Left, Depth + 1, Limit);
    if (sim.S.IsBinary(code)) GenGrow(sim, node->Right, Depth + 1, Limit);
  }
  T = std::move(node);
}

int TreeDepth(const TTreeNode* T) {
  if (!T) return 0;
  return 1 + std::max(TreeDepth(T->Left.get()), TreeDepth(T->Right.get()));
}

int TreeSize(const TTreeNode* T) {
  if (!T) return 0;
  return 1 + TreeSize(T->Left.get()) + TreeSize(T->Right.get());
}

} // namespace zupo
