#include "arena.h"

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

}  // namespace

void* allocateInNewBlock(std::size_t size) {
  // The rest of the old block is simply left unused.
  while (nextBlockSize < size) nextBlockSize *= 2;
  auto* block = static_cast<char*>(platform::newBlock(nextBlockSize, nextBlockSize >= hugePageSize));
  if (block == nullptr) failOutOfMemory();
  region.next = block + size;
  region.end = block + nextBlockSize;
  if (nextBlockSize < hugePageSize) {
    nextBlockSize = hugePageSize;
  } else if (nextBlockSize < largestBlockSize) {
    nextBlockSize *= 2;
  }
  return block;
}

}  // namespace arena
