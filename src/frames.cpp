#include "frames.h"

#include <algorithm>

#include "fail.h"

void EvaluationStack::tooDeep() { fail("Error: recursion too deep."); }

void ValueStack::grow() {
  const std::size_t used = size();
  const std::size_t capacity = std::max<std::size_t>(1024, 2 * used);
  std::unique_ptr<Item*[]> larger(new Item*[capacity]);
  std::copy(bottom_.get(), top_, larger.get());
  bottom_ = std::move(larger);
  top_ = bottom_.get() + used;
  end_ = bottom_.get() + capacity;
}
