#include "frames.h"

#include <sys/mman.h>

#include <algorithm>

#include "fail.h"

void EvaluationStack::tooDeep() { fail("Error: recursion too deep."); }

namespace {

// The room a stack of values takes, in bytes.
constexpr std::size_t bytesFor(std::size_t values) { return values * sizeof(void*); }

}  // namespace

ValueStack::~ValueStack() {
  if (bottom_ != nullptr) munmap(bottom_, bytesFor(static_cast<std::size_t>(end_ - bottom_)));
}

void ValueStack::grow() {
  const std::size_t used = size();
  const std::size_t oldBytes = bytesFor(static_cast<std::size_t>(end_ - bottom_));
  const std::size_t bytes = std::max(bytesFor(std::size_t{8} << 10), 2 * oldBytes);
  // Where the system can move a mapping, growing costs neither a copy nor
  // touching the old pages again; elsewhere the values are copied over.
  void* grown = bottom_ == nullptr ? MAP_FAILED : mremap(bottom_, oldBytes, bytes, MREMAP_MAYMOVE);
  if (grown == MAP_FAILED) {
    grown = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (grown == MAP_FAILED) failOutOfMemory();
    if (bottom_ != nullptr) {
      std::copy(bottom_, top_, static_cast<Item**>(grown));
      munmap(bottom_, oldBytes);
    }
  }
  bottom_ = static_cast<Item**>(grown);
  top_ = bottom_ + used;
  end_ = bottom_ + bytes / bytesFor(1);
}
