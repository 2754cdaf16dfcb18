// Text for the trace: values shown within a bound, JSON strings, places.
#pragma once

#include <cstddef>
#include <cstdint>
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
// The same at the end of `out`, and as a JSON string: the writer's way, which
// makes no string of its own for each value.
void appendShown(std::string& out, Item* value, std::size_t limit = shownCharacters);
void appendQuotedShown(std::string& out, Item* value, std::size_t limit = shownCharacters);
// Lists' texts are kept by their cells between one showing and the next;
// a process that runs many programs forgets them before each, since the
// cells of one run are those of the next.
void forgetShown();

// A JSON string of `text`: bytes above 127 are the code points U+0080-U+00FF.
std::string quoted(std::string_view text);
void appendQuoted(std::string& out, std::string_view text);
// The inside of a JSON string, without its quotes.
void appendEscaped(std::string& out, std::string_view text);

// A number in decimal, made without a stream.
void appendNumber(std::string& out, std::uint64_t number);

// A place as "line:column-endLine:endColumn".
std::string placeText(const Place& place);
void appendPlace(std::string& out, const Place& place);
// Its four numbers with `within` between a line and its column and `between`
// the start and the end: "L:C-L:C" for people, "L,C,L,C" in a JSON array.
void appendPlaceNumbers(std::string& out, const Place& place, char within, char between);

}  // namespace trace
