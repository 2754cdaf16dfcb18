#include "arena.h"

#include <array>
#include <cstdlib>
#include <new>

#include "fail.h"

namespace arena {
namespace {

// Values hold only pointers, ints and strings, so pointer alignment is enough;
// rounding a 24-byte pair up to 32 would waste a quarter of a long list.
constexpr std::size_t alignment = alignof(void*);
constexpr std::size_t firstBlockSize = std::size_t{64} << 10;
constexpr std::size_t largestBlockSize = std::size_t{16} << 20;
// Sizes up to this many bytes are kept on free lists when released.
constexpr std::size_t largestRecycledSize = 128;

struct FreeCell {
  FreeCell* next;
};

struct State {
  char* next = nullptr;
  char* end = nullptr;
  std::size_t blockSize = firstBlockSize;
  std::array<FreeCell*, largestRecycledSize / alignment + 1> freeLists{};
};

State& state() {
  static State instance;
  return instance;
}

constexpr std::size_t roundUp(std::size_t size) {
  return (size + alignment - 1) / alignment * alignment;
}

[[noreturn]] void outOfMemory() { fail("Error: out of memory."); }

}  // namespace

void* allocate(std::size_t size) {
  State& s = state();
  size = roundUp(size == 0 ? 1 : size);
  if (size <= largestRecycledSize) {
    FreeCell*& list = s.freeLists[size / alignment];
    if (list != nullptr) {
      FreeCell* cell = list;
      list = cell->next;
      return cell;
    }
  }
  if (static_cast<std::size_t>(s.end - s.next) < size) {
    // Blocks grow so that small runs stay small and large ones make few
    // requests; the rest of the old block is simply left unused.
    while (s.blockSize < size) s.blockSize *= 2;
    auto* block = static_cast<char*>(std::malloc(s.blockSize));
    if (block == nullptr) outOfMemory();
    s.next = block;
    s.end = block + s.blockSize;
    if (s.blockSize < largestBlockSize) s.blockSize *= 2;
  }
  void* storage = s.next;
  s.next += size;
  return storage;
}

void release(void* storage, std::size_t size) noexcept {
  size = roundUp(size == 0 ? 1 : size);
  if (storage == nullptr || size > largestRecycledSize) return;
  FreeCell*& list = state().freeLists[size / alignment];
  list = new (storage) FreeCell{list};
}

}  // namespace arena
