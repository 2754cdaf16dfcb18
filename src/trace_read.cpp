// The reader's hooks of the traced build: where each list and atom of the
// program stands, and how the input ended, for the places and explanations
// of the trace.
#include <cstddef>
#include <cstdint>
#include <string>

#include "cons.h"
#include "item.h"
#include "trace.h"
#include "trace_recorder.h"

namespace trace {

using namespace recorder;

void listOpened(std::uint32_t line, std::uint32_t column) {
  if (state == nullptr) return;
  state->facts.open.push_back(Place{line, column, 0, 0});
}

void listClosed(Item* list, std::uint32_t line, std::uint32_t column) {
  if (state == nullptr) return;
  Facts& f = state->facts;
  Place place = f.open.back();
  f.open.pop_back();
  place.endLine = line;
  place.endColumn = column;
  f.lastPlace = place;
  if (f.open.empty()) f.anythingRead = true;
  if (state->places.forms.size() < placesKept) state->places.forms[list] = place;
}

void atomRead(std::uint32_t line, std::uint32_t column, std::uint32_t endLine, std::uint32_t endColumn) {
  if (state == nullptr) return;
  Facts& f = state->facts;
  f.lastPlace = Place{line, column, endLine, endColumn};
  if (f.open.empty()) f.anythingRead = true;
}

void elementAdded(const Cons* cell) {
  if (state == nullptr) return;
  if (state->places.cells.size() < placesKept) state->places.cells[cell] = state->facts.lastPlace;
}

void read(Item* expression) {
  if (state == nullptr) return;
  state->facts.readDone = true;
  // An atom read alone has a place too; a list has one already.
  if (!isA<Cons>(*expression)) state->places.forms[expression] = state->facts.lastPlace;
}

void readFailed(std::uint32_t line, std::uint32_t column) {
  if (state == nullptr) return;
  state->facts.readFailure = Place{line, column, line, column};
}

void inputEnded(std::uint32_t line, std::uint32_t column, bool inAtom) {
  if (state == nullptr) return;
  state->facts.inputEnd = Place{line, column, line, column};
  state->facts.endedInAtom = inAtom;
}

void readBeyond(int lookahead, const unsigned char* next, const unsigned char* end) {
  if (state == nullptr) return;
  // Enough to show the start of a second expression.
  constexpr std::ptrdiff_t kept = 200;
  std::string& beyond = state->facts.beyond;
  beyond.assign(1, static_cast<char>(lookahead));
  beyond.append(next, end - next < kept ? end : next + kept);
}

}  // namespace trace
