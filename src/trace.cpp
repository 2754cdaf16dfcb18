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
#include <memory>
#include <span>
#include <streambuf>
#include <string>
#include <string_view>
#include <type_traits>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "arena.h"
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
#include "trace_recorder.h"
#include "trace_records.h"
#include "trace_text.h"
#include "trace_write.h"

namespace trace {
namespace recorder {

bool outputFailed() { return state->writer.failed(); }

// A write of the trace failed: the rest of the run could only be lost, so it
// ends now, with status 1 (the reader has gone away, the disk is full).
void stopIfUnwritable() {
  if (state->writer.failed() && !state->finished) finish(1);
}

void beginTail() {
  static_assert(std::is_trivially_copyable_v<Event>);
  State& s = *state;
  // Events hold only pointers and numbers, and a slot is read only once an
  // event is kept in it. The arena aligns for a pointer, which is less than
  // an event's 64-bit numbers need where pointers are 32 bits (WebAssembly).
  const std::size_t bytes = State::ringSlots() * sizeof(Event);
  std::size_t room = bytes + alignof(Event);
  void* ring = arena::allocate(room);
  s.tail = static_cast<Event*>(std::align(alignof(Event), bytes, ring, room));
  s.tailEnd = s.tail + State::ringSlots();
  // Every slot is empty until the ring has gone round once.
  for (Event* e = s.tail; e != s.tailEnd; ++e) e->kind = Kind::output;
  s.emptySlots = tailEvents;
  s.lapStart = headEvents;
  s.next = s.tail;
  aim();
}

// Sets the slot at which commit() calls turn() next: the next slot while
// slots are empty; else the ring's last slot, or, sooner, the slot of the
// event with which the oldest output in the tail becomes due, because the
// event it came before leaves the tail.
void aim() {
  State& s = *state;
  if (s.emptySlots > 0) {
    s.stop = s.next;
    return;
  }
  s.stop = s.tailEnd - 1;
  if (!s.tailText.empty()) {
    const std::size_t due = s.tailText.front().before + tailEvents;
    const std::size_t last = s.lapStart + State::ringSlots() - 1;
    if (due < last) s.stop = s.tail + (std::max(due, s.events()) - s.lapStart);
  }
}

void turn() {
  State& s = *state;
  Event* filled = s.next - 1;
  if (s.capture.holdsOutput()) {
    // Output before the first event, written before evaluation began: it
    // comes before the event just filled in.
    s.next = filled;
    s.capture.take();
    s.next = filled + 1;
  }
  if (!s.inTail()) {
    ++s.headTaken;
    shadow(s.head);
    s.writer.event(s.head, s.places);
    s.next = s.stop = &s.head;
    if (s.headTaken == headEvents) beginTail();
    stopIfUnwritable();
    return;
  }
  // The event that leaves the tail lies in the slot after the one filled in,
  // round the ring.
  Event& leaving = filled + 1 == s.tailEnd ? *s.tail : filled[1];
  if (s.emptySlots > 0) {
    // An empty slot leaves: nothing goes.
    --s.emptySlots;
  } else {
    // The output before the event that leaves is written first.
    const std::size_t leavingNumber = s.events() - 1 - tailEvents;
    if (!s.tailText.empty() && s.tailText.front().before <= leavingNumber) {
      while (!s.tailText.empty() && s.tailText.front().before <= leavingNumber) writeOldestOutput();
      stopIfUnwritable();
    }
    shadow(leaving);
  }
  if (s.next == s.tailEnd) {
    s.next = s.tail;
    s.lapStart += State::ringSlots();
  }
  aim();
}

// The forms waiting have ever deeper depths from the oldest to the newest, so
// those deeper than `depth` are all at the top.
void popWaiting(std::uint32_t depth) {
  State& s = *state;
  auto& depths = s.waitingDepths;
  while (!depths.empty() && depths.top() > depth) depths.pop();
  s.deepestWaiting = depths.empty() ? 0 : depths.top();
}

namespace {

void keepWaiting(const Event& e) {
  State& s = *state;
  Event& kept = s.shadowWaiting[s.waitingDepths.size() % shadowKept];
  kept = e;
  kept.number = s.waitingDepths.size();
  s.deepestWaiting = e.depth;
}

[[gnu::noinline]] void shadowWaitSlowly(const Event& e) {
  State& s = *state;
  if (s.deepestWaiting >= e.depth) popWaiting(e.depth - 1);
  keepWaiting(e);
  s.waitingDepths.push(e.depth);
}

}  // namespace

// A form waits deeper than any other, or in place of those as deep. Most
// often nothing waits as deep, and there is room for one more: then this
// calls nothing, and keeps no register of its caller's.
void shadowWait(const Event& e) {
  State& s = *state;
  if (s.deepestWaiting >= e.depth || !s.waitingDepths.roomy()) [[unlikely]] {
    shadowWaitSlowly(e);
    return;
  }
  keepWaiting(e);
  s.waitingDepths.pushInRoom(e.depth);
}

void shadowBind(const Event& e) {
  State& s = *state;
  s.shadowBindingCount = static_cast<std::size_t>(e.number) + 1;
  s.shadowBindings[(s.shadowBindingCount - 1) % shadowKept] = e;
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
std::size_t oldestKept() { return state->events() - state->tailKept(); }

// The slot of event `number`, which must be in the ring.
Event& slotOf(std::size_t number) { return state->tail[(number - headEvents) % State::ringSlots()]; }

// Writes the oldest piece of output of the tail.
void writeOldestOutput() {
  State& s = *state;
  s.writer.output(s.tailText.front().text);
  s.tailTextBytes -= s.tailText.front().text.size();
  s.tailText.pop_front();
}

// Takes the oldest record out of the tail: an event is left out, output is
// written now.
void dropOldest() {
  State& s = *state;
  if (outputIsOldest()) {
    writeOldestOutput();
    return;
  }
  Event& oldest = slotOf(oldestKept());
  shadow(oldest);
  oldest.kind = Kind::output;
  ++s.emptySlots;
}

void takeOutput(std::string_view text) {
  State& s = *state;
  if (s.events() < headEvents || s.finished) {
    s.writer.output(text);
  } else {
    while ((s.tailKept() > 0 || !s.tailText.empty()) &&
           (s.tailTextBytes + text.size() > tailOutputBytes || s.tailText.size() == tailEvents)) {
      dropOldest();
    }
    s.tailText.push_back(State::Output{std::string(text), s.events()});
    s.tailTextBytes += text.size();
    if (s.inTail()) aim();
  }
  stopIfUnwritable();
}

constexpr std::string_view usage =
    "usage: vellumark-trace [--json] < program\n"
    "Runs the program as vellumark does and tells each step of its evaluation.\n";

}  // namespace recorder

using namespace recorder;

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
  state->next = state->stop = &state->head;
  forgetShown();
  // From here on a failure's line goes to the capture, and the trace writes it.
  state->programOutput = std::cout.rdbuf(&state->capture);
  state->writer.json = std::find(argv + 1, argv + argc, std::string_view("--json")) != argv + argc;
  state->writer.reserve();
  if (headEvents == 0) beginTail();
  Event empty{};
  empty.kind = Kind::output;
  state->shadowBindings.assign(shadowKept, empty);
  state->shadowWaiting.assign(shadowKept, empty);
}

void evaluating(Item* form, std::size_t depth) {
  if (state == nullptr) return;
  state->facts.current = form;
  state->depth = static_cast<std::uint32_t>(depth);
  Event& e = slot(Kind::eval, depth);
  e.a = form;
  commit(e);
}

void gathering(bool /*forDefine*/) {
  if (state == nullptr) return;
  state->gatherings.push(state->facts.current);
}

namespace {

VELLUMARK_HOT inline void recordWait(Awaiting why, std::size_t depth, Item* form, Item* const* values,
                                     Item* const* valuesEnd, Item* rest) {
  State& s = *state;
  Event& e = slot(Kind::wait, depth);
  e.a = form;
  e.b = why == Awaiting::body ? s.facts.current : nullptr;
  e.c = rest;
  e.why = why;
  e.valueCount = 0;
  if (values != nullptr) {
    e.valueCount = static_cast<std::uint32_t>(valuesEnd - values);
    for (std::uint32_t i = 0; i < e.valueCount && i < keptOperands; ++i) e.values[i] = values[i];
  }
  commit(e);
}

// waiting() when the forms under way take a chunk more: seldom, and out of
// its way, so that it calls nothing but what commit() calls last.
[[gnu::noinline]] void waitingOnNewChunk(Awaiting why, std::size_t depth, Item* form, Item* const* values,
                                         Item* const* valuesEnd, Item* rest) {
  Facts& f = state->facts;
  f.underWay.push(f.current);
  recordWait(why, depth, form, values, valuesEnd, rest);
}

}  // namespace

void waiting(Awaiting why, std::size_t depth, Item* form, Item* const* values, Item* const* valuesEnd, Item* rest) {
  if (state == nullptr) return;
  Facts& f = state->facts;
  if (!f.underWay.roomy()) [[unlikely]] {
    waitingOnNewChunk(why, depth, form, values, valuesEnd, rest);
    return;
  }
  // The value this frame waits for brings its form back as the current one.
  f.underWay.pushInRoom(f.current);
  recordWait(why, depth, form, values, valuesEnd, rest);
}

void resumed(Awaiting why, std::size_t depth, Item* value) {
  if (state == nullptr) return;
  State& s = *state;
  s.depth = static_cast<std::uint32_t>(depth);
  if (!s.facts.underWay.empty()) {
    s.facts.current = s.facts.underWay.top();
    s.facts.underWay.pop();
  }
  Event& e = slot(Kind::value, depth);
  e.a = value;
  e.why = why;
  commit(e);
}

void bound(Item* name, Item* value, bool hasValue, const Cons* argumentCell) {
  if (state == nullptr) return;
  State& s = *state;
  Item* by = s.facts.current;
  if (argumentCell == nullptr && !s.gatherings.empty()) {
    by = s.gatherings.top();
    s.gatherings.pop();
  }
  s.origins.push(Origin{by, argumentCell != nullptr});
  // A name or value may be no value, in a list that evaluation made.
  if (name == nullptr) {
    // Nothing to learn of a binding with no name.
  } else if (s.facts.names.size() < Facts::namesKept && isSymbol(*name)) {
    const std::size_t id = static_cast<const Symbol&>(*name).id();
    if (id >= s.namesSeen.size()) s.namesSeen.resize(id + 1, 0);
    if (!s.namesSeen[id]) {
      s.namesSeen[id] = 1;
      s.facts.names.push_back(name);
    }
  }
  if (name != nullptr && argumentCell != nullptr) {
    Item*& last = s.lastArgumentOf(name);
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
  commit(e);
}

void unbound(std::uint32_t count) {
  if (state == nullptr) return;
  State& s = *state;
  for (std::uint32_t i = 0; i < count && !s.origins.empty(); ++i) s.origins.pop();
  Event& e = slot(Kind::unbind, s.depth);
  e.number = count;
  commit(e);
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
  commit(e);
}

void condTested(Item* clause, Item* test, bool taken) {
  if (state == nullptr) return;
  if (test == nullptr) state->explainer.lastClauseUntested(clause);
  Event& e = slot(Kind::cond, state->depth);
  e.a = clause;
  e.b = test;
  e.flag = taken ? 1 : 0;
  commit(e);
}

void applying(Item* head, Item* const* operands, Item* const* operandsEnd, bool builtin) {
  if (state == nullptr) return;
  State& s = *state;
  Facts& f = s.facts;
  f.builtinForm = s.gatherings.empty() ? f.current : s.gatherings.top();
  if (!s.gatherings.empty()) s.gatherings.pop();
  f.builtinHead = head;
  f.builtinOperands = std::span<Item* const>(operands, operandsEnd);
  f.inBuiltin = builtin;
  // Only what an apply has (trace_records.h): its result comes in applied().
  Event& e = s.pendingApply;
  e.depth = s.depth;
  e.a = head;
  e.flag = builtin ? 1 : 0;
  e.valueCount = static_cast<std::uint32_t>(operandsEnd - operands);
  for (std::uint32_t i = 0; i < e.valueCount && i < keptOperands; ++i) e.values[i] = operands[i];
}

void applied(Item* result) {
  if (state == nullptr) return;
  State& s = *state;
  // What a built-in wrote comes before its apply.
  s.capture.take();
  s.facts.inBuiltin = false;
  const Event& pending = s.pendingApply;
  if (pending.flag == 0) {
    s.facts.unknownLists[s.facts.unknownCalls++ % Facts::listsKept] = {result, s.facts.builtinForm};
    s.explainer.unknownName(pending.a, s.facts.builtinForm, result, s.facts);
  }
  Event& e = slot(Kind::apply, pending.depth);
  e.a = pending.a;
  e.b = result;
  e.flag = pending.flag;
  e.valueCount = pending.valueCount;
  e.values = pending.values;
  commit(e);
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
  if (s.inTail()) {
    if (s.skipped() > 0) {
      s.writer.skipped(s.skipped());
      // What the left-out events did to the stacks, as they stand where the
      // tail begins.
      s.writer.snapshot(newestOf(s.shadowBindings, s.shadowBindingCount, Kind::bind), s.shadowBindingCount,
                        newestOf(s.shadowWaiting, s.waitingDepths.size(), Kind::wait), s.waitingDepths.size(),
                        s.places);
    }
    const std::size_t events = s.events();
    for (std::size_t number = oldestKept(); number < events; ++number) {
      while (!s.tailText.empty() && s.tailText.front().before <= number) writeOldestOutput();
      s.writer.event(slotOf(number), s.places);
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
