// The traced build's side of trace.h: the hooks record each step as a plain
// record (trace_records.h), which the writer (trace_write.cpp) turns into text
// and the explainer (explain.cpp) reads for what to say at the end.
//
// The program's own standard output is caught and reported as "output"
// events, in order among the others, so that joined they are exactly what the
// interpreter writes. A run may make billions of events: the first
// `headEvents` are written as they happen, the last `tailEvents` are kept as
// records and written at the end, after a count of those left out. Output is
// never left out: the tail keeps at most `tailOutputBytes` of it, and what
// falls out of the tail is written as it goes, so the trace's size is linear
// in its events and its memory bounded.
//
// The trace ends as the interpreter does: a write that fails ends the run
// with status 1, and a run that runs out of memory ends with the whole lines
// written so far and the error line, allocating nothing on the way.
#include "trace.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <iostream>
#include <streambuf>
#include <string>
#include <string_view>
#include <vector>

#include "chunked.h"
#include "cons.h"
#include "environment.h"
#include "explain.h"
#include "fail.h"
#include "frames.h"
#include "item.h"
#include "platform.h"
#include "stack.h"
#include "symbol.h"
#include "trace_records.h"
#include "trace_write.h"

namespace trace {
namespace {

constexpr std::size_t headEvents = 100'000;
constexpr std::size_t tailEvents = 10'000;
constexpr std::size_t tailOutputBytes = std::size_t{1} << 20;
// Places are remembered for this many forms and elements; a larger program
// still runs, and its later forms are reported without a place.
constexpr std::size_t placesKept = 4'000'000;

void takeOutput(std::string_view text);
bool outputFailed();

// Catches what the program writes to standard output, a block at a time: a
// full block is taken as output of its own, so output between two events is
// never held whole.
class Capture final : public std::streambuf {
 public:
  Capture() { setp(block_.data(), block_.data() + block_.size()); }
  // Hands what was written since the last time to takeOutput.
  void take() {
    const std::string_view text(pbase(), static_cast<std::size_t>(pptr() - pbase()));
    setp(block_.data(), block_.data() + block_.size());
    if (!text.empty() && !dropped) takeOutput(text);
  }
  // Set once memory has run out: what the program writes is let go.
  bool dropped = false;

 protected:
  int_type overflow(int_type c) override {
    take();
    if (!traits_type::eq_int_type(c, traits_type::eof())) {
      *pptr() = traits_type::to_char_type(c);
      pbump(1);
    }
    return traits_type::not_eof(c);
  }
  // A flush reports on the trace's own writes, so that the run's status is 1
  // when they failed; the output itself waits for the next event.
  int sync() override { return outputFailed() ? -1 : 0; }

 private:
  std::array<char, std::size_t{1} << 14> block_{};
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
  // The newest records once past the head, events and output in order; the
  // text of each output record is in tailText, in the same order.
  std::vector<Event> tail;  // a ring of room for tailEvents events and as many outputs
  std::size_t tailStart = 0;
  std::size_t tailSize = 0;
  std::deque<std::string> tailText;
  std::size_t tailEventsKept = 0;
  std::size_t tailTextBytes = 0;
  bool starved = false;   // memory ran out
  bool finished = false;  // finishing has begun

  std::uint32_t depth = 0;  // the frames open at the newest event
  // The form each gathering works on, newest last, until its values are used.
  std::vector<Item*> gatherings;
  // The form each waiting frame works on, newest last: the value a frame waits
  // for brings its form back as the current one.
  std::vector<Item*> waitingIn;
  ChunkedStack<Origin> origins;             // never copied as it grows: it may hold millions
  Event pendingApply{};                     // taken once its result is known
  std::streambuf* programOutput = nullptr;  // where the program wrote before start()
};

State* state = nullptr;

bool outputFailed() { return state->writer.failed(); }

Event event(Kind kind, std::size_t depth, Item* a = nullptr, Item* b = nullptr, Item* c = nullptr) {
  return Event{kind, Awaiting::result, 0, static_cast<std::uint32_t>(depth), a, b, c, nullptr, 0, 0, {}};
}

// A write of the trace failed: the rest of the run could only be lost, so it
// ends now, with status 1 (the reader has gone away, the disk is full).
void stopIfUnwritable() {
  if (state->writer.failed() && !state->finished) finish(1);
}

// Takes the oldest record out of the tail: an event is left out, output is
// written now.
void dropOldest() {
  State& s = *state;
  const Kind oldest = s.tail[s.tailStart].kind;
  if (++s.tailStart == s.tail.size()) s.tailStart = 0;
  --s.tailSize;
  if (oldest != Kind::output) {
    --s.tailEventsKept;
    ++s.skipped;
    return;
  }
  s.writer.output(s.tailText.front());
  s.tailTextBytes -= s.tailText.front().size();
  s.tailText.pop_front();
}

// Puts a record at the newest end of the tail, which has room for it.
void keep(const Event& e) {
  State& s = *state;
  std::size_t slot = s.tailStart + s.tailSize++;
  if (slot >= s.tail.size()) slot -= s.tail.size();
  s.tail[slot] = e;
}

void takeOutput(std::string_view text) {
  State& s = *state;
  if (s.events < headEvents || s.finished) {
    s.writer.output(text);
  } else {
    while (s.tailSize > 0 && (s.tailTextBytes + text.size() > tailOutputBytes || s.tailText.size() == tailEvents)) {
      dropOldest();
    }
    s.tailText.emplace_back(text);
    s.tailTextBytes += text.size();
    keep(event(Kind::output, 0));
  }
  stopIfUnwritable();
}

// Takes one event, after the output written before it: written now while
// within the head, else kept in the tail in place of the oldest.
void record(const Event& e) {
  State& s = *state;
  s.capture.take();
  if (s.events++ < headEvents) {
    s.writer.event(e, s.places);
    stopIfUnwritable();
    return;
  }
  while (s.tailEventsKept == tailEvents) dropOldest();
  keep(e);
  ++s.tailEventsKept;
  stopIfUnwritable();
}

constexpr std::string_view usage =
    "usage: vellumark-trace [--json] < program\n"
    "Runs the program as vellumark does and tells each step of its evaluation.\n";

}  // namespace

void start(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    const std::string_view option = argv[i];
    if (option == "--help") {
      std::exit(platform::writeOutput(usage.data(), usage.size()) ? 0 : 1);
    }
    if (option != "--json") {
      static_cast<void>(std::fprintf(stderr, "vellumark-trace: unknown option '%s'\n%s", argv[i], usage.data()));
      std::exit(2);
    }
  }
  state = new State();
  // From here on a failure's line goes to the capture, and the trace writes it.
  state->programOutput = std::cout.rdbuf(&state->capture);
  state->writer.json = argc > 1;  // --json, the one option a run takes
  state->writer.reserve();
  state->tail.resize(2 * tailEvents);
}

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

void evaluating(Item* form, std::size_t depth) {
  if (state == nullptr) return;
  state->facts.current = form;
  state->depth = static_cast<std::uint32_t>(depth);
  record(event(Kind::eval, depth, form));
}

void gathering(bool /*forDefine*/) {
  if (state == nullptr) return;
  state->gatherings.push_back(state->facts.current);
}

void waiting(Awaiting why, std::size_t depth, Item* form, Item* const* values, Item* const* valuesEnd, Item* rest) {
  if (state == nullptr) return;
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
  if (state == nullptr) return;
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
  if (state == nullptr) return;
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
  if (state == nullptr) return;
  State& s = *state;
  for (std::uint32_t i = 0; i < count && !s.origins.empty(); ++i) s.origins.pop();
  Event e = event(Kind::unbind, s.depth);
  e.number = count;
  record(e);
}

void lookedUp(const Symbol& name, Item* value) {
  if (state == nullptr) return;
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
  if (state == nullptr) return;
  Event e = event(Kind::cond, state->depth, clause, test);
  e.flag = taken ? 1 : 0;
  record(e);
  if (test == nullptr) state->explainer.lastClauseUntested(clause);
}

void applying(Item* head, Item* const* operands, Item* const* operandsEnd, bool builtin) {
  if (state == nullptr) return;
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
  if (state == nullptr) return;
  State& s = *state;
  s.facts.inBuiltin = false;
  Event e = s.pendingApply;
  e.b = result;
  if (e.flag == 0) s.explainer.unknownName(e.a, s.facts.builtinForm, result);
  record(e);
}

void outOfMemory() {
  if (state == nullptr) return;
  state->starved = true;
  state->capture.dropped = true;
}

void failing(std::string_view line) {
  if (state == nullptr) return;
  Facts& f = state->facts;
  f.errorSize = std::min(line.size(), f.errorText.size());
  std::copy_n(line.begin(), f.errorSize, f.errorText.begin());
}

void finishing(int status) {
  if (state == nullptr) return;
  State& s = *state;
  if (s.starved) {
    // Whatever was being written when memory ran out is cut at its last whole
    // line, and the error line follows, as the interpreter's would.
    static constexpr std::string_view line = "Error: out of memory.\n";
    s.writer.lastWords(line);
    return;
  }
  if (s.finished || s.writer.failed()) return;
  s.finished = true;
  if (s.events > headEvents) {
    if (s.skipped > 0) s.writer.skipped(s.skipped);
    for (; s.tailSize > 0; --s.tailSize, s.tailStart = (s.tailStart + 1) % s.tail.size()) {
      const Event& e = s.tail[s.tailStart];
      if (e.kind == Kind::output) {
        s.writer.output(s.tailText.front());
        s.tailText.pop_front();
      } else {
        s.writer.event(e, s.places);
      }
    }
  }
  s.capture.take();
  if (!s.facts.errorLine().empty() && status != 0) s.writer.error(s.facts.errorLine());
  for (const Said& said : s.explainer.atEnd(status, s.facts)) s.writer.sentence(said, s.places);
  s.writer.end(status);
  s.writer.flush(true);
}

void reset() {
  if (state == nullptr) return;
  std::cout.rdbuf(state->programOutput);
  delete state;
  state = nullptr;
}

}  // namespace trace
