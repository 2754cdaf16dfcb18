#include "arena.h"

#include <sys/mman.h>

#include <cstdint>
#include <utility>
#include <vector>

#include "fail.h"

namespace arena {
namespace {

constexpr std::size_t firstBlockSize = std::size_t{64} << 10;
constexpr std::size_t largestBlockSize = std::size_t{64} << 20;
// Blocks this large are backed by huge pages where the system offers them:
// filling memory one small page fault at a time costs more than the values.
constexpr std::size_t hugePageSize = std::size_t{2} << 20;

// A small run fits in the first block, of small pages. Any larger run moves
// straight on to huge pages, since each small page fault costs about as much
// as clearing a whole huge page; blocks then double so that large runs make
// few requests.
std::size_t nextBlockSize = firstBlockSize;

#ifdef VELLUMARK_IN_PROCESS
// Every block taken, oldest first, so that rewind() can give back the newer.
std::vector<std::pair<char*, std::size_t>> blocks;
#endif

// A block of `size` bytes from the system; large blocks start at a huge-page
// boundary so that all of them can be huge pages.
char* newBlock(std::size_t size) {
  const std::size_t slack = size >= hugePageSize ? hugePageSize : 0;
  void* mapped = mmap(nullptr, size + slack, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (mapped == MAP_FAILED) failOutOfMemory();
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

void* allocateInNewBlock(std::size_t size) {
  // The rest of the old block is simply left unused.
  while (nextBlockSize < size) nextBlockSize *= 2;
  char* block = newBlock(nextBlockSize);
#ifdef VELLUMARK_IN_PROCESS
  blocks.emplace_back(block, nextBlockSize);
#endif
  region.next = block + size;
  region.end = block + nextBlockSize;
  if (nextBlockSize < hugePageSize) {
    nextBlockSize = hugePageSize;
  } else if (nextBlockSize < largestBlockSize) {
    nextBlockSize *= 2;
  }
  return block;
}

#ifdef VELLUMARK_IN_PROCESS
Mark mark() { return {region, blocks.size(), nextBlockSize}; }

void rewind(const Mark& to) {
  for (std::size_t newer = to.blocks; newer < blocks.size(); ++newer) munmap(blocks[newer].first, blocks[newer].second);
  blocks.resize(to.blocks);
  region = to.region;
  nextBlockSize = to.nextBlockSize;
}
#endif

}  // namespace arena
