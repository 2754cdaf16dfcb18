#include "trace_text.h"

#include <algorithm>
#include <cstdio>
#include <sstream>
#include <vector>

#include "cons.h"
#include "empty.h"
#include "item.h"

namespace trace {

// The printed form of `value`, cut after `limit` characters with "…".
std::string show(Item* value, std::size_t limit) {
  std::ostringstream text;
  std::vector<Item*> rests;  // the rest of each list being written, innermost last
  Item* next = value;
  auto full = [&] { return static_cast<std::size_t>(text.tellp()) > limit; };
  for (;;) {
    if (full()) break;
    if (next == nullptr) {
      text << "#<no value>";
    } else if (isA<Cons>(*next)) {
      text << '(';
      const auto* cell = static_cast<const Cons*>(next);
      rests.push_back(cell->cdr());
      next = cell->car();
      continue;
    } else {
      next->print(text);
    }
    // An element is written: go on with the rest of its list.
    bool descended = false;
    while (!rests.empty() && !descended && !full()) {
      Item* rest = rests.back();
      if (rest == getEmpty()) {
        text << ')';
        rests.pop_back();
      } else if (rest != nullptr && isA<Cons>(*rest)) {
        const auto* cell = static_cast<const Cons*>(rest);
        text << ' ';
        rests.back() = cell->cdr();
        next = cell->car();
        descended = true;
      } else {
        text << "  . ";
        rests.back() = getEmpty();
        next = rest;
        descended = true;
        // The tail is written, then the ")" the empty rest stands for.
      }
    }
    if (!descended) break;
  }
  std::string shown = text.str();
  // The loop stops short of the end of a list only once the text is past
  // `limit`.
  if (shown.size() > limit) {
    shown.resize(std::min(shown.size(), limit));
    shown += "…";
  }
  return shown;
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
