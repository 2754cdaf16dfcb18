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
#include <unordered_map>
#include <unordered_set>
#include <utility>
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

// The events written as they come and kept at the end; --keep=HEAD,TAIL sets
// others, so that a test can show a gap in a short trace.
std::size_t headEvents = 100'000;
std::size_t tailEvents = 10'000;
// After a gap, a snapshot tells the binding stack and the forms waiting as
// they stood where the tail begins, at most this many of each, newest first.
constexpr std::size_t shadowKept = 64;
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
    if (pptr() == pbase()) return;  // the common case: nothing written since
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
  // The newest records once past the head. Events and output are kept apart,
  // so that keeping an event, millions of times in a long run, is one copy
  // into a ring: the ring holds the newest `tailKept` events, the event
  // numbered n (from 0, over the whole run) in slot n % tailEvents; each piece
  // of output knows the number of the event it came before.
  std::vector<Event> tail;  // the ring, of tailEvents slots
  std::size_t tailKept = 0;
  std::size_t tailNext = 0;  // the slot of the next event
  struct Output {
    std::string text;
    std::size_t before;  // the number of the event that follows it
  };
  std::deque<Output> tailText;
  std::size_t tailTextBytes = 0;
  Event head{};           // the event being written, while within the head
  bool starved = false;   // memory ran out
  bool finished = false;  // finishing has begun

  std::uint32_t depth = 0;  // the frames open at the newest event
  // The form each gathering works on, newest last, until its values are used.
  std::vector<Item*> gatherings;
  // The names in facts.names, to keep each once.
  std::unordered_set<Item*> namesSeen;
  // The argument each parameter name was last bound to by a call.
  std::unordered_map<Item*, Item*> lastArgument;
  ChunkedStack<Origin> origins;  // never copied as it grows: it may hold millions
  Event pendingApply{};          // taken once its result is known
  // The binding stack and the waiting forms after the last event written in
  // the head or left out of the tail: a count of each and its newest
  // `shadowKept` entries in a ring by position (the position in `number`); of
  // the waiting forms all depths are kept, to take them off by depth.
  std::vector<Event> shadowBindings;
  std::size_t shadowBindingCount = 0;
  std::vector<Event> shadowWaiting;
  ChunkedStack<std::uint32_t> waitingDepths;
  std::streambuf* programOutput = nullptr;  // where the program wrote before start()
};

State* state = nullptr;

bool outputFailed() { return state->writer.failed(); }

// A write of the trace failed: the rest of the run could only be lost, so it
// ends now, with status 1 (the reader has gone away, the disk is full).
void stopIfUnwritable() {
  if (state->writer.failed() && !state->finished) finish(1);
}

// The forms waiting have ever deeper depths from the oldest to the newest, so
// those deeper than `depth` are all at the top.
void popWaiting(std::uint32_t depth) {
  State& s = *state;
  while (!s.waitingDepths.empty() && s.waitingDepths[s.waitingDepths.size() - 1] > depth) s.waitingDepths.pop();
}

// Follows an event that is written in the head or left out of the tail.
void shadow(const Event& e) {
  State& s = *state;
  switch (e.kind) {
    case Kind::bind:
      s.shadowBindingCount = static_cast<std::size_t>(e.number) + 1;
      s.shadowBindings[(s.shadowBindingCount - 1) % shadowKept] = e;
      break;
    case Kind::unbind:
      s.shadowBindingCount -= std::min(static_cast<std::size_t>(e.number), s.shadowBindingCount);
      break;
    case Kind::eval:
      popWaiting(e.depth);
      break;
    case Kind::value:
      popWaiting(e.depth - 1);
      break;
    case Kind::wait: {
      popWaiting(e.depth - 1);
      Event& kept = s.shadowWaiting[s.waitingDepths.size() % shadowKept];
      kept = e;
      kept.number = s.waitingDepths.size();
      s.waitingDepths.push(e.depth);
      break;
    }
    default:
      break;
  }
}

// The newest known entries of a shadow ring, newest first: those whose slot
// still holds their own position.
std::vector<const Event*> newestOf(const std::vector<Event>& ring, std::size_t count, Kind kind) {
  std::vector<const Event*> newest;
  for (std::size_t position = count; position > 0 && newest.size() < shadowKept; --position) {
    const Event& e = ring[(position - 1) % shadowKept];
    if (e.kind != kind || e.number != position - 1) break;
    newest.push_back(&e);
  }
  return newest;
}

// The number of the oldest event in the tail.
std::size_t oldestKept() { return state->events - state->tailKept; }

// Writes the oldest piece of output of the tail.
void writeOldestOutput() {
  State& s = *state;
  s.writer.output(s.tailText.front().text);
  s.tailTextBytes -= s.tailText.front().text.size();
  s.tailText.pop_front();
}

// Whether the oldest record of the tail is output rather than an event.
bool outputIsOldest() {
  const State& s = *state;
  return !s.tailText.empty() && (s.tailKept == 0 || s.tailText.front().before <= oldestKept());
}

// Takes the oldest record out of the tail: an event is left out, output is
// written now.
void dropOldest() {
  State& s = *state;
  if (outputIsOldest()) {
    writeOldestOutput();
    return;
  }
  std::size_t oldest = s.tailNext + tailEvents - s.tailKept;
  if (oldest >= tailEvents) oldest -= tailEvents;
  shadow(s.tail[oldest]);
  --s.tailKept;
  ++s.skipped;
}

void takeOutput(std::string_view text) {
  State& s = *state;
  if (s.events < headEvents || s.finished) {
    s.writer.output(text);
  } else {
    while ((s.tailKept > 0 || !s.tailText.empty()) &&
           (s.tailTextBytes + text.size() > tailOutputBytes || s.tailText.size() == tailEvents)) {
      dropOldest();
    }
    s.tailText.push_back(State::Output{std::string(text), s.events});
    s.tailTextBytes += text.size();
  }
  stopIfUnwritable();
}

// Where the next event goes, after the output written before it: a record
// of the head, written by commit(), or the tail's newest slot, in place of the
// oldest event. The hooks fill it in where it lies, since a run past the head
// keeps millions of events only to drop them.
[[gnu::always_inline]] inline Event& slot(Kind kind, std::size_t depth) {
  State& s = *state;
  s.capture.take();
  Event* e = &s.head;
  if (s.events >= headEvents) {
    if (s.tailKept == tailEvents) {
      // The oldest event goes, and the output before it is written first.
      while (outputIsOldest()) writeOldestOutput();
      shadow(s.tail[s.tailNext]);
      --s.tailKept;
      ++s.skipped;
    }
    e = &s.tail[s.tailNext];
  }
  e->kind = kind;
  e->why = Awaiting::result;
  e->flag = 0;
  e->depth = static_cast<std::uint32_t>(depth);
  e->a = e->b = e->c = nullptr;
  e->where = nullptr;
  e->number = 0;
  e->valueCount = 0;
  return *e;
}

// Takes the event slot() gave out, filled in: written now while within the
// head, else kept in the tail.
[[gnu::always_inline]] inline void commit() {
  State& s = *state;
  if (s.events++ < headEvents) {
    shadow(s.head);
    s.writer.event(s.head, s.places);
  } else {
    if (++s.tailNext == tailEvents) s.tailNext = 0;
    ++s.tailKept;
  }
  stopIfUnwritable();
}

void record(const Event& e) {
  Event& kept = slot(e.kind, e.depth);
  kept = e;
  commit();
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
    // --keep=HEAD,TAIL, for tests: a gap in a short trace.
    std::size_t head = 0;
    std::size_t tail = 0;
    if (std::sscanf(argv[i], "--keep=%zu,%zu", &head, &tail) == 2 && tail > 0) {
      headEvents = head;
      tailEvents = tail;
      continue;
    }
    // --depth=N, for the page: a recursion without end is over at N levels,
    // soon enough to explain a run that went past all ten million.
    std::size_t depth = 0;
    if (std::sscanf(argv[i], "--depth=%zu", &depth) == 1 && depth > 0 && depth < EvaluationStack::depthLimit) {
      EvaluationStack::depthLimit = depth;
      continue;
    }
    if (option != "--json") {
      static_cast<void>(std::fprintf(stderr, "vellumark-trace: unknown option '%s'\n%s", argv[i], usage.data()));
      std::exit(2);
    }
  }
  state = new State();
  // From here on a failure's line goes to the capture, and the trace writes it.
  state->programOutput = std::cout.rdbuf(&state->capture);
  state->writer.json = std::find(argv + 1, argv + argc, std::string_view("--json")) != argv + argc;
  state->writer.reserve();
  state->tail.resize(tailEvents);
  Event empty{};
  empty.kind = Kind::output;
  state->shadowBindings.assign(shadowKept, empty);
  state->shadowWaiting.assign(shadowKept, empty);
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

void evaluating(Item* form, std::size_t depth) {
  if (state == nullptr) return;
  state->facts.current = form;
  state->depth = static_cast<std::uint32_t>(depth);
  slot(Kind::eval, depth).a = form;
  commit();
}

void gathering(bool /*forDefine*/) {
  if (state == nullptr) return;
  state->gatherings.push_back(state->facts.current);
}

void waiting(Awaiting why, std::size_t depth, Item* form, Item* const* values, Item* const* valuesEnd, Item* rest) {
  if (state == nullptr) return;
  State& s = *state;
  // The value this frame waits for brings its form back as the current one.
  s.facts.underWay.push_back(s.facts.current);
  Event& e = slot(Kind::wait, depth);
  e.a = form;
  e.b = why == Awaiting::body ? s.facts.current : nullptr;
  e.c = rest;
  e.why = why;
  if (values != nullptr) {
    e.valueCount = static_cast<std::uint32_t>(valuesEnd - values);
    for (std::uint32_t i = 0; i < e.valueCount && i < keptOperands; ++i) e.values[i] = values[i];
  }
  commit();
}

void resumed(Awaiting why, std::size_t depth, Item* value) {
  if (state == nullptr) return;
  State& s = *state;
  s.depth = static_cast<std::uint32_t>(depth);
  if (!s.facts.underWay.empty()) {
    s.facts.current = s.facts.underWay.back();
    s.facts.underWay.pop_back();
  }
  Event& e = slot(Kind::value, depth);
  e.a = value;
  e.why = why;
  commit();
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
  // A name or value may be no value, in a list that evaluation made.
  if (name == nullptr) {
    // Nothing to learn of a binding with no name.
  } else if (s.facts.names.size() < Facts::namesKept && isSymbol(*name) && s.namesSeen.insert(name).second) {
    s.facts.names.push_back(name);
  }
  if (name != nullptr && argumentCell != nullptr) {
    Item*& last = s.lastArgument[name];
    if (last == value && value != nullptr && isA<Cons>(*value)) s.facts.repeated = Found{value, name, by, true};
    last = value;
  } else if (name != nullptr && isA<Cons>(*name)) {
    s.explainer.defineShorthand(by);
  }
  Event& e = slot(Kind::bind, s.depth);
  e.a = name;
  e.b = value;
  e.c = by;
  e.flag = hasValue ? 1 : 0;
  if (!hasValue) s.facts.boundWithoutValue = name;
  e.where = argumentCell;
  e.number = s.origins.size() - 1;
  commit();
}

void unbound(std::uint32_t count) {
  if (state == nullptr) return;
  State& s = *state;
  for (std::uint32_t i = 0; i < count && !s.origins.empty(); ++i) s.origins.pop();
  slot(Kind::unbind, s.depth).number = count;
  commit();
}

void lookedUp(const Symbol& name, Item* value) {
  if (state == nullptr) return;
  State& s = *state;
  // Symbols are never freed or changed, so the trace may keep this one.
  Item* symbol = const_cast<Symbol*>(&name);  // NOLINT(cppcoreguidelines-pro-type-const-cast)
  const std::size_t position = Environment::getInstance()->positionOf(name);  // from 1
  if (value == nullptr) {
    s.facts.missing = symbol;
    s.facts.missingIn = s.facts.current;
  }
  if (position != 0 && value != nullptr) {
    const Origin& origin = s.origins[position - 1];
    s.facts.recentlyFound[s.facts.lookups++ % Facts::foundKept] = Found{value, symbol, origin.by, origin.argument};
  }
  Event& e = slot(Kind::lookup, s.depth);
  e.a = symbol;
  e.b = value;
  e.number = value == nullptr ? 0 : position;
  commit();
}

void condTested(Item* clause, Item* test, bool taken) {
  if (state == nullptr) return;
  Event& e = slot(Kind::cond, state->depth);
  e.a = clause;
  e.b = test;
  e.flag = taken ? 1 : 0;
  commit();
  if (test == nullptr) state->explainer.lastClauseUntested(clause);
}

void applying(Item* head, Item* const* operands, Item* const* operandsEnd, bool builtin) {
  if (state == nullptr) return;
  State& s = *state;
  Facts& f = s.facts;
  f.builtinForm = s.gatherings.empty() ? f.current : s.gatherings.back();
  if (!s.gatherings.empty()) s.gatherings.pop_back();
  f.builtinHead = head;
  // Member by member, where it stays: a call is too short for a copy of a
  // whole record, or of a few operands through memmove, to pay.
  f.builtinOperands.clear();
  for (Item* const* operand = operands; operand != operandsEnd; ++operand) f.builtinOperands.push_back(*operand);
  f.inBuiltin = builtin;
  Event& e = s.pendingApply;
  e.kind = Kind::apply;
  e.why = Awaiting::result;
  e.depth = s.depth;
  e.a = head;
  e.b = e.c = nullptr;
  e.where = nullptr;
  e.number = 0;
  e.flag = builtin ? 1 : 0;
  e.valueCount = static_cast<std::uint32_t>(operandsEnd - operands);
  for (std::uint32_t i = 0; i < e.valueCount && i < keptOperands; ++i) e.values[i] = operands[i];
}

void applied(Item* result) {
  if (state == nullptr) return;
  State& s = *state;
  s.facts.inBuiltin = false;
  Event& e = s.pendingApply;
  e.b = result;
  if (e.flag == 0) {
    s.facts.unknownLists[s.facts.unknownCalls++ % Facts::listsKept] = {result, s.facts.builtinForm};
    s.explainer.unknownName(e.a, s.facts.builtinForm, result, s.facts);
  }
  record(e);
}

void calling(Item* procedure, Item* arguments) {
  if (state == nullptr) return;
  Facts& f = state->facts;
  f.calling = procedure;
  f.callingArguments = arguments;
  f.callingForm = f.current;
  f.lastCall = f.current;
  f.lastProcedure = procedure;
  f.lastArguments = arguments;
}

void bodyBegins() {
  if (state == nullptr) return;
  state->facts.calling = nullptr;
}

void outOfMemory() {
  if (state == nullptr) return;
  state->starved = true;
  state->capture.dropped = true;
}

void failing(Error kind, const Item* culprit) {
  if (state == nullptr) return;
  Facts& f = state->facts;
  f.failed = true;
  f.error = kind;
  f.culprit = culprit;
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
    if (s.skipped > 0) {
      s.writer.skipped(s.skipped);
      // What the left-out events did to the stacks, as they stand where the
      // tail begins.
      s.writer.snapshot(newestOf(s.shadowBindings, s.shadowBindingCount, Kind::bind), s.shadowBindingCount,
                        newestOf(s.shadowWaiting, s.waitingDepths.size(), Kind::wait), s.waitingDepths.size(),
                        s.places);
    }
    std::size_t slot = s.tailNext + tailEvents - s.tailKept;
    for (std::size_t number = oldestKept(); number < s.events; ++number) {
      while (!s.tailText.empty() && s.tailText.front().before <= number) writeOldestOutput();
      if (slot >= tailEvents) slot -= tailEvents;
      s.writer.event(s.tail[slot++], s.places);
    }
    while (!s.tailText.empty()) writeOldestOutput();
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
