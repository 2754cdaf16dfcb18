// Text for the trace: values shown within a bound, JSON strings, places.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "trace_records.h"

class Item;

namespace trace {

// How much of a value an event shows, in characters: as a rule, and at most.
constexpr std::size_t shownCharacters = 72;
constexpr std::size_t maxShown = 80;

// The text the writer makes its lines in: a buffer whose appends are inline,
// where std::string's are calls into the library that check and copy a few
// bytes each, a dozen times a line and a hundred thousand lines a run.
class Text {
 public:
  Text() = default;
  Text(const Text&) = delete;
  Text& operator=(const Text&) = delete;
  ~Text() { delete[] data_; }

  std::size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  const char* data() const { return data_; }
  char back() const { return data_[size_ - 1]; }
  std::string_view view() const { return {data_, size_}; }
  // Takes the text after its first `size` characters off.
  void truncate(std::size_t size) { size_ = size; }
  void clear() { size_ = 0; }
  void reserve(std::size_t capacity) {
    if (capacity > capacity_) grow(capacity - size_);
  }

  VELLUMARK_HOT void append(const char* text, std::size_t length) {
    if (capacity_ - size_ < length) grow(length);
    std::memcpy(data_ + size_, text, length);
    size_ += length;
  }
  void append(std::size_t count, char c) {
    if (capacity_ - size_ < count) grow(count);
    std::memset(data_ + size_, c, count);
    size_ += count;
  }
  VELLUMARK_HOT Text& operator+=(std::string_view text) {
    append(text.data(), text.size());
    return *this;
  }
  Text& operator+=(char c) {
    if (size_ == capacity_) grow(1);
    data_[size_++] = c;
    return *this;
  }

 private:
  // Makes room for `more` characters after the text, at least doubling.
  void grow(std::size_t more);

  char* data_ = nullptr;
  std::size_t size_ = 0;
  std::size_t capacity_ = 0;
};

// The printed form of `value`, cut after `limit` characters (at most
// maxShown) with "…", never printed whole first; null is #<no value>.
std::string show(Item* value, std::size_t limit = shownCharacters);
// The same at the end of `out` (a std::string or a Text), and as a JSON
// string: the writer's way, which makes no string of its own for each value.
template <typename Out>
void appendShown(Out& out, Item* value, std::size_t limit = shownCharacters);
template <typename Out>
void appendQuotedShown(Out& out, Item* value, std::size_t limit = shownCharacters);
// Lists' texts are kept by their cells between one showing and the next;
// a process that runs many programs forgets them before each, since the
// cells of one run are those of the next.
void forgetShown();

// A JSON string of `text`: bytes above 127 are the code points U+0080-U+00FF.
std::string quoted(std::string_view text);
template <typename Out>
void appendQuoted(Out& out, std::string_view text);
// The inside of a JSON string, without its quotes.
template <typename Out>
void appendEscaped(Out& out, std::string_view text);

// A number in decimal, made without a stream.
template <typename Out>
void appendNumber(Out& out, std::uint64_t number);

// A place as "line:column-endLine:endColumn".
std::string placeText(const Place& place);
template <typename Out>
void appendPlace(Out& out, const Place& place);
// Its four numbers with `within` between a line and its column and `between`
// the start and the end: "L:C-L:C" for people, "L,C,L,C" in a JSON array.
template <typename Out>
void appendPlaceNumbers(Out& out, const Place& place, char within, char between);

}  // namespace trace
