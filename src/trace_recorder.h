// The recorder's state, shared by the units that hold its hooks (trace.cpp,
// trace_read.cpp) and by no one else: only the traced build compiles them.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <streambuf>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "chunked.h"
#include "explain.h"
#include "frames.h"
#include "item.h"
#include "symbol.h"
#include "trace_records.h"
#include "trace_write.h"

namespace trace::recorder {

// The events written as they come and kept at the end; --keep=HEAD,TAIL sets
// others, so that a test can show a gap in a short trace.
inline std::size_t headEvents = 100'000;
inline std::size_t tailEvents = 10'000;
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
  VELLUMARK_HOT void take() {
    if (holdsOutput()) takeWritten();  // seldom: most events write nothing
  }
  bool holdsOutput() const { return pptr() != pbase(); }
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
  [[gnu::noinline]] void takeWritten() {
    const std::string_view text(pbase(), static_cast<std::size_t>(pptr() - pbase()));
    setp(block_.data(), block_.data() + block_.size());
    if (!dropped) takeOutput(text);
  }

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

  // Where the next event goes: the head's one record, written as soon as it
  // is filled in, or the ring's next slot. Every event asks, so one compare
  // after the event is filled in tells the common case, a slot of the ring
  // with nothing more to do than follow the event that leaves the tail.
  // Everything else waits at `stop` and is done by turn() (trace.cpp): an
  // event of the head; the ring's last slot; slots left empty; output in the
  // tail that has become its oldest record and must be written before the
  // event after it leaves.
  Event* next = nullptr;
  Event* stop = nullptr;
  Event head{};               // the event being written, while within the head
  std::size_t headTaken = 0;  // events written within the head
  // The newest records once past the head. Events and output are kept apart,
  // so that keeping an event, millions of times in a long run, is a few
  // stores into a ring: the ring holds the newest events, event number
  // headEvents + k in slot k modulo ringSlots(); each piece of output knows
  // the number of the event it came before. Every event past the head is
  // kept or left out. The ring has a slot more than the tail keeps: the slot
  // after the newest event holds the event that has just left the tail, for
  // the shadow to follow once the newest is filled in, with nothing of the
  // hook's own left to do. A slot whose event was left out early, to make
  // room for output, is empty until an event fills it: it holds an event of
  // kind `output`, which the shadow passes by, as the slots do before the
  // ring has gone round once. The empty slots are always the oldest.
  // The ring is taken from the arena once the head is full (beginTail()): a
  // short run never needs it, and a long one has it in a few large pages
  // rather than hundreds of small ones.
  Event* tail = nullptr;
  Event* tailEnd = nullptr;  // past the ring's last slot
  std::size_t lapStart = 0;  // the number of the event in the ring's first slot, this time round
  std::size_t emptySlots = 0;
  static std::size_t ringSlots() { return tailEvents + 1; }
  bool inTail() const { return tail != nullptr; }
  // The events made so far, or the number of the next.
  std::size_t events() const { return inTail() ? lapStart + static_cast<std::size_t>(next - tail) : headTaken; }
  std::size_t tailKept() const { return inTail() ? tailEvents - emptySlots : 0; }
  std::size_t skipped() const {
    const std::size_t made = events();
    return made > headEvents ? made - headEvents - tailKept() : 0;
  }
  struct Output {
    std::string text;
    std::size_t before;  // the number of the event that follows it
  };
  std::deque<Output> tailText;
  std::size_t tailTextBytes = 0;
  bool starved = false;   // memory ran out
  bool finished = false;  // finishing has begun

  std::uint32_t depth = 0;  // the frames open at the newest event
  // The form each gathering works on, newest last, until its values are used.
  ChunkedStack<Item*> gatherings;
  // By a symbol's id, as every binding asks: whether the name is in
  // facts.names, to keep each once, and the argument it was last bound to
  // by a call. A parameter that is no symbol has its argument in the map.
  std::vector<std::uint8_t> namesSeen;  // a byte each: a bit costs more to test
  std::vector<Item*> lastArgumentById;
  std::unordered_map<Item*, Item*> lastArgument;
  Item*& lastArgumentOf(Item* name) {
    if (!isSymbol(*name)) return lastArgument[name];
    const std::size_t id = static_cast<const Symbol&>(*name).id();
    if (id >= lastArgumentById.size()) lastArgumentById.resize(id + 1, nullptr);
    return lastArgumentById[id];
  }
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
  // The deepest of waitingDepths, 0 when there is none: most events pass by
  // the waiting forms, and this tells so without a look at the stack.
  std::uint32_t deepestWaiting = 0;
  std::streambuf* programOutput = nullptr;  // where the program wrote before start()
};

inline State* state = nullptr;

// A write of the trace failed: the rest of the run could only be lost, so it
// ends now, with status 1 (the reader has gone away, the disk is full).
void stopIfUnwritable();
// The head is full: from the next event on, events are kept in the tail.
void beginTail();
// Sets the slot at which commit() next calls turn() (see State::stop).
void aim();
// Takes the waiting forms deeper than `depth` off the shadow.
void popWaiting(std::uint32_t depth);
void shadowWait(const Event& e);
void shadowBind(const Event& e);
// Whether the oldest record of the tail, between two events, is output
// rather than an event.
inline bool outputIsOldest() {
  const State& s = *state;
  return !s.tailText.empty() && (s.tailKept() == 0 || s.tailText.front().before <= s.events() - s.tailKept());
}
// Writes the oldest piece of output of the tail.
void writeOldestOutput();
// What commit() does when the event filled in lies at `stop`.
void turn();

// Follows an event that is written in the head or left out of the tail. It
// runs for every event of a long run, so what most events do (nothing, or
// pass the waiting forms by) is told here, and the rest is done out of line,
// last, so that a hook keeps nothing of its own while it is.
VELLUMARK_HOT inline void shadow(const Event& e) {
  State& s = *state;
  switch (e.kind) {
    case Kind::eval:
      if (s.deepestWaiting > e.depth) popWaiting(e.depth);
      break;
    case Kind::value:
      // A value at depth 0 leaves every waiting form where it is.
      if (e.depth != 0 && s.deepestWaiting >= e.depth) popWaiting(e.depth - 1);
      break;
    case Kind::wait:
      shadowWait(e);
      break;
    case Kind::bind:
      shadowBind(e);
      break;
    case Kind::unbind:
      s.shadowBindingCount -= std::min(static_cast<std::size_t>(e.number), s.shadowBindingCount);
      break;
    default:
      break;
  }
}

// Where the next event goes: the head's record, or the ring's next slot. The
// hooks fill it in where it lies, since a run past the head keeps millions of
// events only to drop them; each fills in the members its kind has
// (trace_records.h), and no other member of the slot is read. Output between
// two events can only come from a built-in, so the hook after one (applied())
// takes it before it asks for a slot.
VELLUMARK_HOT inline Event& slot(Kind kind, std::size_t depth) {
  State& s = *state;
  Event* e = s.next;
  s.next = e + 1;
  e->kind = kind;
  e->depth = static_cast<std::uint32_t>(depth);
  return *e;
}

// Takes the event slot() gave out, filled in: the last thing a hook does.
// Past the head, the event that has just left the tail, in the slot after
// this one, goes to the shadow.
VELLUMARK_HOT inline void commit(const Event& e) {
  State& s = *state;
  if (&e == s.stop) [[unlikely]] {
    turn();
    return;
  }
  shadow((&e)[1]);
}

}  // namespace trace::recorder
