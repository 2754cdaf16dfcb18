#include "arena.h"

#include <sys/mman.h>

#include <array>
#include <cstdint>
#include <new>

#include "budget.h"
#include "fail.h"

namespace arena {
namespace {

// Values hold only pointers, ints and strings, so pointer alignment is enough;
// rounding a 24-byte pair up to 32 would waste a quarter of a long list.
constexpr std::size_t alignment = alignof(void*);
constexpr std::size_t firstBlockSize = std::size_t{64} << 10;
constexpr std::size_t largestBlockSize = std::size_t{64} << 20;
// Blocks this large are backed by huge pages where the system offers them:
// filling memory one small page fault at a time costs more than the values.
constexpr std::size_t hugePageSize = std::size_t{2} << 20;
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

constexpr std::size_t roundUp(std::size_t size) { return (size + alignment - 1) / alignment * alignment; }

[[noreturn]] void outOfMemory() { fail("Error: out of memory."); }

// A block of `size` bytes from the system; large blocks start at a huge-page
// boundary so that all of them can be huge pages.
char* newBlock(std::size_t size) {
  const std::size_t slack = size >= hugePageSize ? hugePageSize : 0;
  void* mapped = mmap(nullptr, size + slack, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (mapped == MAP_FAILED) outOfMemory();
  auto* block = static_cast<char*>(mapped);
  if (slack != 0) {
    const auto address = reinterpret_cast<std::uintptr_t>(block);
    const std::size_t skip = (hugePageSize - address % hugePageSize) % hugePageSize;
    if (skip != 0) munmap(block, skip);
    if (slack - skip != 0) munmap(block + skip + size, slack - skip);
    block += skip;
    madvise(block, size, MADV_HUGEPAGE);
  }
  return block;
}

}  // namespace

void* allocate(std::size_t size) {
  budget::spend();
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
    char* block = newBlock(s.blockSize);
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
