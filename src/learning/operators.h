#pragma once
#include "core/state.h"
#include "model/tree.h"

namespace zupo {

// A place of a subtree: the tree's root, or a parent node and one of its sides.
struct Link {
  PTreeNode* Root = nullptr;   // set for the root link
  TTreeNode* Parent = nullptr; // set otherwise
  bool RightSide = false;      // which side of Parent
  PTreeNode& Ref() const { return Root ? *Root : (RightSide ? Parent->Right : Parent->Left); }
};

// Tournament of two among the traders by GapProfit (ties: the first draw). Returns w.
int SelectParent(Simulation& sim);
// Tournament of two among the library entries by Mape (smaller wins; ties: the first draw).
int SelectLibrary(Simulation& sim);
// Copies the selected model (population or library) unchanged into model CurBase + i.
int Reproduce(Simulation& sim, int i, bool library);
void PointMutation(Simulation& sim, int i);
void SubtreeMutation(Simulation& sim, int i);
void Crossover(Simulation& sim, int i);

// Levels of T, walking no deeper than DepthLimit + 2.
int CappedDepth(const Simulation& sim, const TTreeNode* T);
// Link of the k-th node in preorder (k = 1: the root).
Link PickNode(PTreeNode& T, int k);
// Link of the k-th terminal in preorder (a terminal root: the root).
Link PickLeaf(const Simulation& sim, PTreeNode& T, int k);
// Link of the k-th function node in preorder (k = 1: the root).
Link PickInner(const Simulation& sim, PTreeNode& T, int k);

} // namespace zupo
