// Text for the trace: values shown within a bound, JSON strings, places.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "trace_records.h"

class Item;

namespace trace {

// How much of a value an event shows, in characters: as a rule, and at most.
constexpr std::size_t shownCharacters = 72;
constexpr std::size_t maxShown = 80;

// The printed form of `value`, cut after `limit` characters (at most
// maxShown) with "…", never printed whole first; null is #<no value>.
std::string show(Item* value, std::size_t limit = shownCharacters);

// A JSON string of `text`: bytes above 127 are the code points U+0080-U+00FF.
std::string quoted(std::string_view text);

// A place as "line:column-endLine:endColumn".
std::string placeText(const Place& place);

}  // namespace trace
