#include "model/tree.h"

#include <mutex>
#include <new>
#include <vector>

#if defined(__SANITIZE_ADDRESS__)
#define ZUPO_NODE_POOL 0
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ZUPO_NODE_POOL 0
#endif
#endif
#ifndef ZUPO_NODE_POOL
#define ZUPO_NODE_POOL 1
#endif

namespace zupo {

namespace {

struct FreeNode {
  FreeNode* Next;
};
static_assert(sizeof(TTreeNode) >= sizeof(FreeNode));

thread_local FreeNode* freeNodes = nullptr;

// Blocks of nodes are never given back: the lists only hold as many as were ever in use at once.
FreeNode* NewBlock() {
  constexpr size_t PerBlock = 1024;
  static std::mutex lock;
  static auto* blocks = new std::vector<void*>; // kept reachable for leak checkers
  void* mem = ::operator new(PerBlock * sizeof(TTreeNode));
  {
    std::lock_guard guard(lock);
    blocks->push_back(mem);
  }
  auto* base = static_cast<unsigned char*>(mem);
  FreeNode* head = nullptr;
  for (size_t k = PerBlock; k-- > 0;) {
    auto* n = reinterpret_cast<FreeNode*>(base + k * sizeof(TTreeNode));
    n->Next = head;
    head = n;
  }
  return head;
}

} // namespace

void* TTreeNode::operator new(std::size_t size) {
  if (!ZUPO_NODE_POOL || size != sizeof(TTreeNode)) return ::operator new(size);
  if (!freeNodes) freeNodes = NewBlock();
  FreeNode* n = freeNodes;
  freeNodes = n->Next;
  return n;
}

void TTreeNode::operator delete(void* p, std::size_t size) noexcept {
  if (!p) return;
  if (!ZUPO_NODE_POOL || size != sizeof(TTreeNode)) return ::operator delete(p);
  auto* n = static_cast<FreeNode*>(p);
  n->Next = freeNodes;
  freeNodes = n;
}

void DisposeTree(PTreeNode& T) {
  if (!T) return;
  // Post-order, Left before Right, so the release order matches every other walk.
  DisposeTree(T->Left);
  DisposeTree(T->Right);
  T.reset();
}

} // namespace zupo
