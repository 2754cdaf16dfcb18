// The traced build's side of trace.h: the hooks record each step as a plain
// record (trace_records.h), which the writer (trace_write.cpp) turns into text
// and the explainer (explain.cpp) reads for what to say at the end.
//
// The program's own standard output is caught and reported as "output"
// events, in order among the others, so that joined they are exactly what the
// interpreter writes. A run may make billions of events: the first
// `headEvents` are written as they happen, the last `tailEvents` are kept as
// records and written at the end, with a count of those left out between.
// Output is never left out.
#include "trace.h"

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <streambuf>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "chunked.h"
#include "cons.h"
#include "environment.h"
#include "explain.h"
#include "frames.h"
#include "item.h"
#include "stack.h"
#include "symbol.h"
#include "trace_records.h"
#include "trace_write.h"

namespace trace {
namespace {

constexpr std::size_t headEvents = 100'000;
constexpr std::size_t tailEvents = 10'000;
// Places are remembered for this many forms and elements; a larger program
// still runs, and its later forms are reported without a place.
constexpr std::size_t placesKept = 4'000'000;

// Catches what the program writes to standard output.
class Capture final : public std::streambuf {
 public:
  std::string text;

 protected:
  int_type overflow(int_type c) override {
    if (!traits_type::eq_int_type(c, traits_type::eof())) text.push_back(traits_type::to_char_type(c));
    return traits_type::not_eof(c);
  }
  std::streamsize xsputn(const char* s, std::streamsize count) override {
    text.append(s, static_cast<std::size_t>(count));
    return count;
  }
};

// What the trace alone knows of a binding on the binding stack: who made it.
// Kept by the binding's position, pushed and popped with it.
struct Origin {
  Item* by;
  bool argument;
};

struct State {
  Writer writer;
  Explainer explainer;
  Places places;
  Facts facts;
  Capture capture;

  std::size_t events = 0;
  std::size_t skipped = 0;
  std::vector<Event> tail;  // a ring of the newest records once past the head
  std::string skippedOutput;

  std::uint32_t depth = 0;  // the frames open at the newest event
  // The form each gathering works on, newest last, until its values are used.
  std::vector<Item*> gatherings;
  // The form each waiting frame works on, newest last: the value a frame waits
  // for brings its form back as the current one.
  std::vector<Item*> waitingIn;
  ChunkedStack<Origin> origins;  // never copied as it grows: it may hold millions
  Event pendingApply{};          // taken once its result is known
};

State* state = nullptr;

Event event(Kind kind, std::size_t depth, Item* a = nullptr, Item* b = nullptr, Item* c = nullptr) {
  return Event{kind, Awaiting::result, 0, static_cast<std::uint32_t>(depth), a, b, c, nullptr, 0, 0, {}};
}

// Takes one event: written now while within the head, else kept in the ring
// in place of the oldest.
void record(const Event& e) {
  State& s = *state;
  const std::size_t index = s.events++;
  if (index < headEvents) {
    s.writer.output(s.capture.text);
    s.capture.text.clear();
    s.writer.event(e, s.places);
    return;
  }
  // Output since the last event is kept whole, whatever is left out.
  s.skippedOutput += s.capture.text;
  s.capture.text.clear();
  const std::size_t slot = (index - headEvents) % tailEvents;
  if (s.tail.size() < tailEvents) {
    s.tail.push_back(e);
  } else {
    s.tail[slot] = e;
    ++s.skipped;
  }
}

}  // namespace

void start(int argc, char** argv) {
  state = new State();
  for (int i = 1; i < argc; ++i) {
    const std::string_view option = argv[i];
    if (option == "--json") {
      state->writer.json = true;
    } else {
      static_cast<void>(std::fprintf(stderr,
                                     "usage: vellumark-trace [--json] < program\n"
                                     "Runs the program as vellumark does and tells each step of its evaluation.\n"));
      std::exit(option == "--help" ? 0 : 2);
    }
  }
  std::cout.rdbuf(&state->capture);
  state->tail.reserve(tailEvents);
}

void listOpened(std::uint32_t line, std::uint32_t column) { state->facts.open.push_back(Place{line, column, 0, 0}); }

void listClosed(Item* list, std::uint32_t line, std::uint32_t column) {
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
  Facts& f = state->facts;
  f.lastPlace = Place{line, column, endLine, endColumn};
  if (f.open.empty()) f.anythingRead = true;
}

void elementAdded(const Cons* cell) {
  if (state->places.cells.size() < placesKept) state->places.cells[cell] = state->facts.lastPlace;
}

void read(Item* expression) {
  state->facts.readDone = true;
  // An atom read alone has a place too; a list has one already.
  if (!isA<Cons>(*expression)) state->places.forms[expression] = state->facts.lastPlace;
}

void readFailed(std::uint32_t line, std::uint32_t column) {
  state->facts.readFailure = Place{line, column, line, column};
}

void evaluating(Item* form, std::size_t depth) {
  state->facts.current = form;
  state->depth = static_cast<std::uint32_t>(depth);
  record(event(Kind::eval, depth, form));
}

void gathering(bool /*forDefine*/) { state->gatherings.push_back(state->facts.current); }

void waiting(Awaiting why, std::size_t depth, Item* form, Item* const* values, Item* const* valuesEnd, Item* rest) {
  State& s = *state;
  s.waitingIn.push_back(s.facts.current);
  Event e = event(Kind::wait, depth, form, why == Awaiting::body ? s.facts.current : nullptr, rest);
  e.why = why;
  if (values != nullptr) {
    e.valueCount = static_cast<std::uint32_t>(valuesEnd - values);
    for (std::uint32_t i = 0; i < e.valueCount && i < keptOperands; ++i) e.values[i] = values[i];
  }
  record(e);
}

void resumed(Awaiting why, std::size_t depth, Item* value) {
  State& s = *state;
  s.depth = static_cast<std::uint32_t>(depth);
  if (!s.waitingIn.empty()) {
    s.facts.current = s.waitingIn.back();
    s.waitingIn.pop_back();
  }
  Event e = event(Kind::value, depth, value);
  e.why = why;
  record(e);
}

void bound(Item* name, Item* value, bool hasValue, const Cons* argumentCell) {
  State& s = *state;
  Item* by = s.facts.current;
  if (argumentCell == nullptr && !s.gatherings.empty()) {
    by = s.gatherings.back();
    s.gatherings.pop_back();
  }
  s.origins.push(Origin{by, argumentCell != nullptr});
  Event e = event(Kind::bind, s.depth, name, value, by);
  e.flag = hasValue ? 1 : 0;
  e.where = argumentCell;
  e.number = s.origins.size() - 1;
  record(e);
}

void unbound(std::uint32_t count) {
  State& s = *state;
  for (std::uint32_t i = 0; i < count && !s.origins.empty(); ++i) s.origins.pop();
  Event e = event(Kind::unbind, s.depth);
  e.number = count;
  record(e);
}

void lookedUp(const Symbol& name, Item* value) {
  State& s = *state;
  // Symbols are never freed or changed, so the trace may keep this one.
  Item* symbol = const_cast<Symbol*>(&name);  // NOLINT(cppcoreguidelines-pro-type-const-cast)
  const std::size_t position = Environment::getInstance()->positionOf(name);  // from 1
  if (value == nullptr) s.facts.missing = symbol;
  if (position != 0 && value != nullptr) {
    const Origin& origin = s.origins[position - 1];
    s.facts.recentlyFound[s.facts.lookups++ % Facts::foundKept] = Found{value, symbol, origin.by, origin.argument};
  }
  Event e = event(Kind::lookup, s.depth, symbol, value);
  e.number = value == nullptr ? 0 : position;
  record(e);
}

void condTested(Item* clause, Item* test, bool taken) {
  Event e = event(Kind::cond, state->depth, clause, test);
  e.flag = taken ? 1 : 0;
  record(e);
  if (test == nullptr) state->explainer.lastClauseUntested(clause);
}

void applying(Item* head, Item* const* operands, Item* const* operandsEnd, bool builtin) {
  State& s = *state;
  Facts& f = s.facts;
  f.builtinForm = s.gatherings.empty() ? f.current : s.gatherings.back();
  if (!s.gatherings.empty()) s.gatherings.pop_back();
  f.builtinHead = head;
  f.builtinOperands.assign(operands, operandsEnd);
  f.inBuiltin = builtin;
  Event e = event(Kind::apply, s.depth, head);
  e.flag = builtin ? 1 : 0;
  e.valueCount = static_cast<std::uint32_t>(operandsEnd - operands);
  for (std::uint32_t i = 0; i < e.valueCount && i < keptOperands; ++i) e.values[i] = operands[i];
  s.pendingApply = e;
}

void applied(Item* result) {
  State& s = *state;
  s.facts.inBuiltin = false;
  Event e = s.pendingApply;
  e.b = result;
  if (e.flag == 0) s.explainer.unknownName(e.a, s.facts.builtinForm, result);
  record(e);
}

void failing(std::string_view line) { state->facts.errorLine = line; }

void finishing(int status) {
  State& s = *state;
  std::cout.flush();
  if (s.events > headEvents) {
    // What was written after the first events comes whole, before the last
    // events, which are written from their records.
    if (s.skipped > 0) s.writer.skipped(s.skipped);
    s.writer.output(s.skippedOutput);
    s.skippedOutput.clear();
    const std::size_t oldest = s.tail.size() < tailEvents ? 0 : (s.events - headEvents) % tailEvents;
    for (std::size_t i = 0; i < s.tail.size(); ++i) s.writer.event(s.tail[(oldest + i) % s.tail.size()], s.places);
  }
  s.writer.output(s.capture.text);
  s.capture.text.clear();
  if (!s.facts.errorLine.empty() && status != 0) s.writer.error(s.facts.errorLine);
  for (const Said& said : s.explainer.atEnd(status, s.facts)) s.writer.sentence(said, s.places);
  s.writer.end(status);
  s.writer.flush(true);
  static_cast<void>(std::fflush(stdout));
}

}  // namespace trace
