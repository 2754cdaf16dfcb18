#include "frames.h"

#include <algorithm>

#include "fail.h"
#include "platform.h"

void EvaluationStack::tooDeep() { fail(Error::tooDeep); }

namespace {

// The room a stack of values takes, in bytes.
constexpr std::size_t bytesFor(std::size_t values) { return values * sizeof(void*); }

constexpr std::size_t firstBytes = bytesFor(std::size_t{8} << 10);
constexpr std::size_t largeBytes = std::size_t{2} << 20;

}  // namespace

ValueStack::~ValueStack() { platform::releaseBlock(bottom_, bytesFor(static_cast<std::size_t>(end_ - bottom_))); }

void ValueStack::grow() {
  const std::size_t used = size();
  const std::size_t oldBytes = bytesFor(static_cast<std::size_t>(end_ - bottom_));
  // A stack that outgrows its first block goes straight on to a size huge
  // pages can back (platform::growBlock), as the arena does.
  const std::size_t bytes = oldBytes == 0 ? firstBytes : std::max(largeBytes, 2 * oldBytes);
  void* grown = platform::growBlock(bottom_, oldBytes, bytesFor(used), bytes);
  if (grown == nullptr) failOutOfMemory();
  bottom_ = static_cast<Item**>(grown);
  top_ = bottom_ + used;
  end_ = bottom_ + bytes / bytesFor(1);
}
