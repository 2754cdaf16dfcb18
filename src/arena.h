// Storage for values. Values are never freed, and a run may create tens of
// millions of them, so they are carved out of large blocks instead of taking
// one heap allocation (and its bookkeeping) each. The one thing ever given
// back is a cell the binding stack pops; it is kept for the next value of the
// same size.
#pragma once

#include <cstddef>

namespace arena {

// Returns `size` bytes, aligned for a pointer (enough for every value). Ends the run with
// "Error: out of memory." when no more memory can be had.
void* allocate(std::size_t size);

// Takes back `size` bytes that allocate() returned, for reuse by a later
// allocate() of the same size.
void release(void* storage, std::size_t size) noexcept;

}  // namespace arena
