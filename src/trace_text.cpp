#include "trace_text.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <ostream>
#include <streambuf>

#include "cons.h"
#include "empty.h"
#include "integer.h"
#include "item.h"
#include "symbol.h"

namespace trace {

namespace {

// Takes at most `room` characters and refuses the rest, so that a value is
// never printed whole only to be cut: a name of a million characters costs
// what a short one does.
class Bounded final : public std::streambuf {
 public:
  // Empties the buffer and gives it room for `room` characters.
  void reset(std::size_t room) { setp(text_.data(), text_.data() + std::min(room, text_.size())); }
  std::size_t size() const { return static_cast<std::size_t>(pptr() - pbase()); }
  std::string_view text() const { return {pbase(), size()}; }
  // What the walk writes itself, and the commonest atoms, go in directly: a
  // stream's sentry for each character cost more than the character.
  void add(char c) {
    if (pptr() < epptr()) {
      *pptr() = c;
      pbump(1);
    }
  }
  void add(std::string_view text) { xsputn(text.data(), static_cast<std::streamsize>(text.size())); }

 protected:
  int_type overflow(int_type /*c*/) override { return traits_type::eof(); }
  std::streamsize xsputn(const char* s, std::streamsize count) override {
    const std::streamsize taken = std::min<std::streamsize>(count, epptr() - pptr());
    std::memcpy(pptr(), s, static_cast<std::size_t>(taken));
    pbump(static_cast<int>(taken));
    return taken;
  }

 private:
  std::array<char, maxShown + 1> text_{};
};

// One buffer and one stream over it for every value shown: a stream costs
// more to make (its locale) than most values cost to print.
struct Shown {
  Bounded buffer;
  std::ostream text{&buffer};
};

// The printed form of `value`, cut after `limit` characters with "…". The
// walk keeps one rest for each list it is inside, and each list it enters
// writes a "(", so it is never more than `limit` deep.
// The text is left in the shared buffer, of which `limit` characters at most
// are the value's; *cut tells whether more would have followed.
std::string_view walkShown(Item* value, std::size_t limit, bool* cut) {
  static Shown shown;
  Bounded& buffer = shown.buffer;
  std::ostream& text = shown.text;
  buffer.reset(limit + 1);
  text.clear();
  // The rest of each list being written, innermost last; each is set before
  // it is read, so the array is not cleared first, which cost as much as a
  // short value's whole walk.
  std::array<Item*, maxShown + 2> rests;  // NOLINT(cppcoreguidelines-pro-type-member-init)
  std::size_t open = 0;
  Item* next = value;
  auto full = [&] { return buffer.size() > limit; };
  for (;;) {
    if (full()) break;
    if (next == nullptr) {
      buffer.add("#<no value>");
    } else if (isA<Cons>(*next)) {
      buffer.add('(');
      const auto* cell = static_cast<const Cons*>(next);
      rests[open++] = cell->cdr();
      next = cell->car();
      continue;
    } else if (isA<Integer>(*next)) {
      char digits[12];
      const auto end = std::to_chars(digits, digits + sizeof digits, static_cast<const Integer&>(*next).getInt()).ptr;
      buffer.add(std::string_view(digits, static_cast<std::size_t>(end - digits)));
    } else if (isA<Symbol>(*next)) {
      buffer.add(static_cast<const Symbol&>(*next).name());
    } else {
      next->print(text);
    }
    // An element is written: go on with the rest of its list.
    bool descended = false;
    while (open > 0 && !descended && !full()) {
      Item*& rest = rests[open - 1];
      if (rest == getEmpty()) {
        buffer.add(')');
        --open;
      } else if (rest != nullptr && isA<Cons>(*rest)) {
        const auto* cell = static_cast<const Cons*>(rest);
        buffer.add(' ');
        rest = cell->cdr();
        next = cell->car();
        descended = true;
      } else {
        buffer.add("  . ");
        next = rest;
        rest = getEmpty();
        descended = true;
        // The tail is written, then the ")" the empty rest stands for.
      }
    }
    if (!descended) break;
  }
  // The loop stops short of the end of a list only once the text is past
  // `limit`.
  *cut = buffer.size() > limit;
  return buffer.text().substr(0, limit);
}

// The texts of the lists shown lately. A trace shows the same few forms of
// the program again and again (the body of a loop at every turn, a procedure
// at every lookup of its name), and a value never changes once made, so a
// list's text is kept by its first cell and the limit it was shown within.
struct Kept {
  const Item* list = nullptr;
  std::uint8_t limit = 0;
  std::uint8_t length = 0;
  bool cut = false;
  bool plain = false;               // nothing in it to escape in JSON
  std::array<char, maxShown> text;  // NOLINT(cppcoreguidelines-pro-type-member-init)
};
constexpr std::size_t keptShift = 10;
std::array<Kept, std::size_t{1} << keptShift> kept;

bool needsNoEscape(std::string_view text);

// *plain, when asked for, tells that the text holds no character a JSON
// string must escape, so that it can go in as it is.
std::string_view shownText(Item* value, std::size_t limit, bool* cut, bool* plain = nullptr) {
  if (plain != nullptr) *plain = false;
  limit = std::min(limit, maxShown);
  if (value == nullptr) return walkShown(value, limit, cut);
  // The commonest atoms need no walk: a number's digits, a name as it is.
  if (isA<Integer>(*value)) {
    static std::array<char, 12> digits;
    const auto end =
        std::to_chars(digits.data(), digits.data() + digits.size(), static_cast<const Integer&>(*value).getInt()).ptr;
    const auto length = static_cast<std::size_t>(end - digits.data());
    if (length <= limit) {
      *cut = false;
      if (plain != nullptr) *plain = true;
      return {digits.data(), length};
    }
  } else if (isA<Symbol>(*value)) {
    const std::string_view name = static_cast<const Symbol&>(*value).name();
    if (name.size() <= limit) {
      *cut = false;
      return name;
    }
  }
  if (!isA<Cons>(*value)) return walkShown(value, limit, cut);
  // Fibonacci hashing of the cell's address: cells are 8-byte aligned and
  // laid out in order, so the middle bits tell them apart.
  const auto address = reinterpret_cast<std::uintptr_t>(value);  // NOLINT(cppcoreguidelines-pro-type-reinterpret-cast)
  // The same list is shown within several limits (a form, and the same
  // form waiting), each kept in its own entry.
  const std::uint64_t key = static_cast<std::uint64_t>(address) ^ limit;
  Kept& entry = kept[(key * 0x9e3779b97f4a7c15ULL) >> (64 - keptShift)];
  if (entry.list != value || entry.limit != limit) {
    const std::string_view text = walkShown(value, limit, cut);
    entry.list = value;
    entry.limit = static_cast<std::uint8_t>(limit);
    entry.length = static_cast<std::uint8_t>(text.size());
    entry.cut = *cut;
    entry.plain = needsNoEscape(text);
    std::memcpy(entry.text.data(), text.data(), text.size());
    if (plain != nullptr) *plain = entry.plain;
    return text;
  }
  *cut = entry.cut;
  if (plain != nullptr) *plain = entry.plain;
  return {entry.text.data(), entry.length};
}

constexpr std::string_view ellipsis = "…";

}  // namespace

void forgetShown() { kept.fill(Kept{}); }

void Text::grow(std::size_t more) {
  const std::size_t capacity = std::max(size_ + more, 2 * capacity_);
  char* data = new char[capacity];
  if (size_ > 0) std::memcpy(data, data_, size_);
  delete[] data_;
  data_ = data;
  capacity_ = capacity;
}

std::string show(Item* value, std::size_t limit) {
  std::string text;
  appendShown(text, value, limit);
  return text;
}

template <typename Out>
void appendShown(Out& out, Item* value, std::size_t limit) {
  bool cut = false;
  out += shownText(value, limit, &cut);
  if (cut) out += ellipsis;
}

template <typename Out>
void appendQuotedShown(Out& out, Item* value, std::size_t limit) {
  bool cut = false;
  bool plain = false;
  const std::string_view text = shownText(value, limit, &cut, &plain);
  out += '"';
  if (plain) {
    out += text;
  } else {
    appendEscaped(out, text);
  }
  if (cut) appendEscaped(out, ellipsis);
  out += '"';
}

std::string quoted(std::string_view text) {
  std::string json;
  appendQuoted(json, text);
  return json;
}

template <typename Out>
void appendQuoted(Out& out, std::string_view text) {
  out += '"';
  appendEscaped(out, text);
  out += '"';
}

// Bytes above 127 are the code points U+0080-U+00FF.
namespace {

// The bytes a JSON string holds as they are.
constexpr std::array<bool, 256> standsForItself = [] {
  std::array<bool, 256> table{};
  for (std::size_t byte = 0x20; byte < 0x7f; ++byte) table[byte] = byte != '"' && byte != '\\';
  return table;
}();

}  // namespace

namespace {
bool needsNoEscape(std::string_view text) {
  return std::all_of(text.begin(), text.end(), [](char c) { return standsForItself[static_cast<unsigned char>(c)]; });
}
}  // namespace

template <typename Out>
void appendEscaped(Out& out, std::string_view text) {
  // Runs of characters that stand for themselves go in whole.
  std::size_t plain = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if (standsForItself[byte]) continue;
    out.append(text.data() + plain, i - plain);
    plain = i + 1;
    if (byte == '"' || byte == '\\') {
      out += '\\';
      out += static_cast<char>(byte);
    } else if (byte == '\n') {
      out += std::string_view("\\n");
    } else if (byte < 0x20 || byte == 0x7f) {
      char escape[8];
      static_cast<void>(std::snprintf(escape, sizeof escape, "\\u%04x", byte));
      out += std::string_view(escape);
    } else {
      out += static_cast<char>(0xc0 | (byte >> 6));
      out += static_cast<char>(0x80 | (byte & 0x3f));
    }
  }
  out.append(text.data() + plain, text.size() - plain);
}

template <typename Out>
void appendNumber(Out& out, std::uint64_t number) {
  char digits[24];
  const auto end = std::to_chars(digits, digits + sizeof digits, number).ptr;
  out.append(digits, static_cast<std::size_t>(end - digits));
}

// The text of a known place.
std::string placeText(const Place& place) {
  std::string text;
  appendPlace(text, place);
  return text;
}

template <typename Out>
void appendPlaceNumbers(Out& out, const Place& place, char within, char between) {
  appendNumber(out, place.line);
  out += within;
  appendNumber(out, place.column);
  out += between;
  appendNumber(out, place.endLine);
  out += within;
  appendNumber(out, place.endColumn);
}

template <typename Out>
void appendPlace(Out& out, const Place& place) {
  appendPlaceNumbers(out, place, ':', '-');
}

// The writer's lines are made in a Text; the explainer's sentences and the
// snapshot's members in strings.
template void appendShown<std::string>(std::string&, Item*, std::size_t);
template void appendQuotedShown<std::string>(std::string&, Item*, std::size_t);
template void appendQuoted<std::string>(std::string&, std::string_view);
template void appendEscaped<std::string>(std::string&, std::string_view);
template void appendNumber<std::string>(std::string&, std::uint64_t);
template void appendPlace<std::string>(std::string&, const Place&);
template void appendPlaceNumbers<std::string>(std::string&, const Place&, char, char);
template void appendShown<Text>(Text&, Item*, std::size_t);
template void appendQuotedShown<Text>(Text&, Item*, std::size_t);
template void appendQuoted<Text>(Text&, std::string_view);
template void appendEscaped<Text>(Text&, std::string_view);
template void appendNumber<Text>(Text&, std::uint64_t);
template void appendPlace<Text>(Text&, const Place&);
template void appendPlaceNumbers<Text>(Text&, const Place&, char, char);

}  // namespace trace
