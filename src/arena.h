// Storage for values. A run may create tens of millions of values, and none
// is given back before the run ends (what can be recycled, the operands of a
// finished call and popped bindings, lives on the evaluation and binding
// stacks instead), so values are carved out of large blocks rather than
// taking one heap allocation and its bookkeeping each. Allocation is inline:
// it is the most frequent thing a run does.
#pragma once

#include <cstddef>

#include "budget.h"

namespace arena {

// Values hold only pointers, ints and strings, so pointer alignment is enough;
// rounding a 24-byte pair up to 32 would waste a quarter of a long list.
constexpr std::size_t alignment = alignof(void*);

constexpr std::size_t roundUp(std::size_t size) {
  return size == 0 ? alignment : (size + alignment - 1) / alignment * alignment;
}

// The block being filled.
struct Region {
  char* next = nullptr;
  char* end = nullptr;
};
inline Region region;

// Starts a new block and returns `size` bytes of it. Ends the run with
// "Error: out of memory." when no more memory can be had.
void* allocateInNewBlock(std::size_t size);

// What the arena holds at one moment, to go back to later: every value made
// since is gone then. Only for a process that runs many programs (run.h).
struct Mark {
  Region region;
  std::size_t blocks;
  std::size_t nextBlockSize;
};
Mark mark();
void rewind(const Mark& to);

// Returns `size` bytes, aligned for a pointer (enough for every value). Ends
// the run with "Error: out of memory." when no more memory can be had.
inline void* allocate(std::size_t size) {
  budget::spend();
  size = roundUp(size);
  if (static_cast<std::size_t>(region.end - region.next) < size) return allocateInNewBlock(size);
  void* storage = region.next;
  region.next += size;
  return storage;
}

}  // namespace arena
