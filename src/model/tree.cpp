#include "model/tree.h"

namespace zupo {

void DisposeTree(PTreeNode& T) {
  if (!T) return;
  // Post-order, Left before Right, so the release order matches every other walk.
  DisposeTree(T->Left);
  DisposeTree(T->Right);
  T.reset();
}

} // namespace zupo
