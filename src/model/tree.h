#pragma once
#include <cstdint>
#include <memory>

namespace zupo {

struct TTreeNode;
using PTreeNode = std::unique_ptr<TTreeNode>;

// One node of a model tree. A binary node has Left and Right, a unary node only Left, a
// terminal neither. Value is the number of a constant node (6-byte).
struct TTreeNode {
  uint8_t Sym = 0;
  double Value = 0;
  PTreeNode Right;
  PTreeNode Left;
};

// Releases every node of T and leaves T empty; T empty does nothing.
void DisposeTree(PTreeNode& T);

} // namespace zupo
