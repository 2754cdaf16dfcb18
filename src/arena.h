// Storage for values. Values are never freed, and a run may create tens of
// millions of them, so they are carved out of large blocks instead of taking
// one heap allocation (and its bookkeeping) each. The one thing ever given
// back is a cell the binding stack pops; it is kept for the next value of the
// same size. Allocation is inline: it is the most frequent thing a run does.
#pragma once

#include <array>
#include <cstddef>
#include <new>

#include "budget.h"

namespace arena {

// Values hold only pointers, ints and strings, so pointer alignment is enough;
// rounding a 24-byte pair up to 32 would waste a quarter of a long list.
constexpr std::size_t alignment = alignof(void*);
// Sizes up to this many bytes are kept on free lists when released.
constexpr std::size_t largestRecycledSize = 128;

constexpr std::size_t roundUp(std::size_t size) {
  return size == 0 ? alignment : (size + alignment - 1) / alignment * alignment;
}

struct FreeCell {
  FreeCell* next;
};

// The block being filled and the released storage, by size.
struct Region {
  char* next = nullptr;
  char* end = nullptr;
  std::array<FreeCell*, largestRecycledSize / alignment + 1> released{};
};
inline Region region;

// Starts a new block and returns `size` bytes of it. Ends the run with
// "Error: out of memory." when no more memory can be had.
void* allocateInNewBlock(std::size_t size);

// Returns `size` bytes, aligned for a pointer (enough for every value). Ends
// the run with "Error: out of memory." when no more memory can be had.
inline void* allocate(std::size_t size) {
  budget::spend();
  size = roundUp(size);
  if (size <= largestRecycledSize) {
    FreeCell*& list = region.released[size / alignment];
    if (list != nullptr) {
      FreeCell* cell = list;
      list = cell->next;
      return cell;
    }
  }
  if (static_cast<std::size_t>(region.end - region.next) < size) return allocateInNewBlock(size);
  void* storage = region.next;
  region.next += size;
  return storage;
}

// Takes back `size` bytes that allocate() returned, for reuse by a later
// allocate() of the same size.
inline void release(void* storage, std::size_t size) noexcept {
  size = roundUp(size);
  if (storage == nullptr || size > largestRecycledSize) return;
  FreeCell*& list = region.released[size / alignment];
  list = new (storage) FreeCell{list};
}

}  // namespace arena
