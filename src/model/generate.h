#pragma once
#include "core/state.h"
#include "model/tree.h"

namespace zupo {

// Random constant: a = Random(10), b = Random(100), v = a + 0.01 b, negated when Random(2) = 1;
// returned as a 6-byte value.
double RandomConstant(Simulation& sim);
// A full tree: root at level Depth, every leaf at level Limit. Depth > Limit leaves T unchanged.
void GenFull(Simulation& sim, PTreeNode& T, int Depth, int Limit);
// A grown tree: root at level Depth, leaves at level Limit or above. Depth > Limit leaves T
// unchanged.
void GenGrow(Simulation& sim, PTreeNode& T, int Depth, int Limit);
int TreeDepth(const TTreeNode* T);
int TreeSize(const TTreeNode* T);

} // namespace zupo
