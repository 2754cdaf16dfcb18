#include "arena.h"

#include <utility>
#include <vector>

#include "fail.h"
#include "platform.h"

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

}  // namespace

void* allocateInNewBlock(std::size_t size) {
  // The rest of the old block is simply left unused.
  while (nextBlockSize < size) nextBlockSize *= 2;
  auto* block = static_cast<char*>(platform::newBlock(nextBlockSize, nextBlockSize >= hugePageSize));
  if (block == nullptr) failOutOfMemory();
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
  for (std::size_t newer = to.blocks; newer < blocks.size(); ++newer)
    platform::releaseBlock(blocks[newer].first, blocks[newer].second);
  blocks.resize(to.blocks);
  region = to.region;
  nextBlockSize = to.nextBlockSize;
}
#endif

}  // namespace arena
