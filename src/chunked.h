// A stack that grows a chunk at a time. Growing never moves what is already
// on it, so references to its elements stay valid while more are pushed, and
// it never holds a second copy of itself the way a doubling array does while
// it grows: a deep evaluation keeps millions of entries on such stacks.
// Chunks are kept when the stack shrinks, ready for the next growth.
#pragma once

#include <cstddef>
#include <memory>
#include <vector>

#include "arena.h"

// Chunks hold 2^ChunkShift elements each: a stack that is usually shallow
// takes a smaller first chunk.
template <typename T, std::size_t ChunkShift = 12>
class ChunkedStack {
 public:
  bool empty() const { return size_ == 0; }
  std::size_t size() const { return size_; }

  // The newest element; the stack must not be empty.
  T& top() { return top_[-1]; }

  // The element `index` places above the bottom; it must be on the stack.
  T& operator[](std::size_t index) { return chunks_[index >> chunkShift][index & (chunkSize - 1)]; }
  const T& operator[](std::size_t index) const { return chunks_[index >> chunkShift][index & (chunkSize - 1)]; }

  void push(const T& element) {
    if (top_ == end_) nextChunk();
    *top_++ = element;
    ++size_;
  }

  // Whether the next push fits in the current chunk, as pushInRoom() needs:
  // a caller that pushes millions of times can keep the rare growth out of
  // its own way.
  bool roomy() const { return top_ != end_; }
  void pushInRoom(const T& element) {
    *top_++ = element;
    ++size_;
  }

  // Takes every element off and lets go of the chunks from the arena, for a
  // process that empties the arena between runs (see run.h).
  void clear() {
    chunks_.resize(first_ ? 1 : 0);
    current_ = 0;
    size_ = 0;
    begin_ = top_ = end_ = nullptr;
  }

  // Takes the newest element off; the stack must not be empty.
  void pop() {
    --top_;
    --size_;
    if (top_ == begin_ && current_ > 0) previousChunk();
  }

 private:
  static constexpr std::size_t chunkShift = ChunkShift;
  static constexpr std::size_t chunkSize = std::size_t{1} << chunkShift;

  // Moves on to the chunk after the current one (the first one on first use),
  // making it if the stack has never been this large.
  void nextChunk() {
    if (begin_ != nullptr) ++current_;
    if (current_ == chunks_.size()) {
      // The first chunk, all that most runs need, comes from the heap; deep
      // runs take the rest from the arena's large blocks, which fill with far
      // fewer page faults.
      // A stack of pointers takes chunks of pointers.
      chunks_.push_back(chunks_.empty() ? (first_ = std::unique_ptr<T[]>(new T[chunkSize])).get()
                                        // NOLINTNEXTLINE(bugprone-sizeof-expression)
                                        : static_cast<T*>(arena::allocate(chunkSize * sizeof(T))));
    }
    begin_ = top_ = chunks_[current_];
    end_ = begin_ + chunkSize;
  }

  // Moves back to the full chunk before the current one, so that top() always
  // lies in the current chunk.
  void previousChunk() {
    --current_;
    begin_ = chunks_[current_];
    top_ = end_ = begin_ + chunkSize;
  }

  std::unique_ptr<T[]> first_;
  std::vector<T*> chunks_;
  std::size_t current_ = 0;  // the chunk that holds the top
  std::size_t size_ = 0;
  T* begin_ = nullptr;
  T* top_ = nullptr;
  T* end_ = nullptr;
};
