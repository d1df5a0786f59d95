#pragma once
#include <cstddef>
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

  // A learning generation builds and releases tens of thousands of nodes: they come from a
  // free list kept by each thread rather than from the general heap (except in sanitizer
  // builds, whose checks must see every node).
  static void* operator new(std::size_t size);
  static void operator delete(void* p, std::size_t size) noexcept;
};

// Releases every node of T and leaves T empty; T empty does nothing.
void DisposeTree(PTreeNode& T);

} // namespace zupo
