#include "trace_text.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <ostream>
#include <streambuf>

#include "cons.h"
#include "empty.h"
#include "item.h"

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

}  // namespace

// The printed form of `value`, cut after `limit` characters with "…". The
// walk keeps one rest for each list it is inside, and each list it enters
// writes a "(", so it is never more than `limit` deep.
std::string show(Item* value, std::size_t limit) {
  limit = std::min(limit, maxShown);
  static Shown shown;
  Bounded& buffer = shown.buffer;
  std::ostream& text = shown.text;
  buffer.reset(limit + 1);
  text.clear();
  std::array<Item*, maxShown + 2> rests{};  // the rest of each list being written, innermost last
  std::size_t open = 0;
  Item* next = value;
  auto full = [&] { return buffer.size() > limit; };
  for (;;) {
    if (full()) break;
    if (next == nullptr) {
      text << "#<no value>";
    } else if (isA<Cons>(*next)) {
      text << '(';
      const auto* cell = static_cast<const Cons*>(next);
      rests[open++] = cell->cdr();
      next = cell->car();
      continue;
    } else {
      next->print(text);
    }
    // An element is written: go on with the rest of its list.
    bool descended = false;
    while (open > 0 && !descended && !full()) {
      Item*& rest = rests[open - 1];
      if (rest == getEmpty()) {
        text << ')';
        --open;
      } else if (rest != nullptr && isA<Cons>(*rest)) {
        const auto* cell = static_cast<const Cons*>(rest);
        text << ' ';
        rest = cell->cdr();
        next = cell->car();
        descended = true;
      } else {
        text << "  . ";
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
  std::string cut(buffer.text().substr(0, limit));
  if (buffer.size() > limit) cut += "…";
  return cut;
}

// A JSON string of `text`: bytes above 127 are the code points U+0080-U+00FF.
std::string quoted(std::string_view text) {
  std::string json = "\"";
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte == '"' || byte == '\\') {
      json += '\\';
      json += c;
    } else if (byte == '\n') {
      json += "\\n";
    } else if (byte < 0x20 || byte == 0x7f) {
      char escape[8];
      static_cast<void>(std::snprintf(escape, sizeof escape, "\\u%04x", byte));
      json += escape;
    } else if (byte >= 0x80) {
      json += static_cast<char>(0xc0 | (byte >> 6));
      json += static_cast<char>(0x80 | (byte & 0x3f));
    } else {
      json += c;
    }
  }
  return json + "\"";
}

// The text of a known place.
std::string placeText(const Place& place) {
  return std::to_string(place.line) + ":" + std::to_string(place.column) + "-" + std::to_string(place.endLine) + ":" +
         std::to_string(place.endColumn);
}

}  // namespace trace
