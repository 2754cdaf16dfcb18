// The trace's plain records: what the hooks (trace.cpp) fill in as a run goes,
// and what the writer (trace_write.cpp) and the explainer (explain.cpp) read.
// Pointers to values and numbers only, no text: a value never changes once
// made, so a record kept now can be written at the end of the run.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "chunked.h"
#include "fail.h"

class Item;
enum class Awaiting : std::uint8_t;

// The recorder's few functions that run for every event are forced inline
// where the compiler optimizes. An unoptimized build (coverage, a debugger)
// keeps one copy of each, so that each branch is counted once, not once in
// every hook it would be inlined into.
#ifdef __OPTIMIZE__
#define VELLUMARK_HOT [[gnu::always_inline]]
#else
#define VELLUMARK_HOT
#endif

namespace trace {

// A stretch of the program text: first and last character, line and column,
// each from 1; all 0 when not known.
struct Place {
  std::uint32_t line = 0;
  std::uint32_t column = 0;
  std::uint32_t endLine = 0;
  std::uint32_t endColumn = 0;
  bool known() const { return line != 0; }
};

// Where the reader found each form and element of the program.
struct Places {
  std::unordered_map<const void*, Place> forms;  // by a list's first cell, or an atom read alone
  std::unordered_map<const void*, Place> cells;  // by the cell that holds an element

  Place ofForm(const void* form) const {
    const auto found = forms.find(form);
    return found == forms.end() ? Place{} : found->second;
  }
  Place ofCell(const void* cell) const {
    const auto found = cells.find(cell);
    return found == cells.end() ? Place{} : found->second;
  }
};

// `output` stands for what the program wrote between two events, kept apart.
enum class Kind : std::uint8_t { eval, wait, value, bind, unbind, lookup, cond, apply, output };

// How many operands or gathered values an event keeps.
constexpr std::size_t keptOperands = 6;

// One event of the evaluation. Which members mean what depends on the kind:
//   eval    a: the form
//   wait    why; a: the form's head, the defined name, the clause or the
//           procedure; b: the call (body only); c: what is still to evaluate;
//           values: gathered so far
//   value   why; a: the value
//   bind    a: name, b: value (flag: has one), c: made by; where: the
//           argument's cell; number: its position from 0
//   unbind  number: how many
//   lookup  a: name, b: value; number: the binding's position from 1, or 0
//   cond    a: clause, b: the test's value (null: not looked at); flag: taken
//   apply   a: head, b: result, values: operands; flag: a built-in
struct Event {
  Kind kind;
  Awaiting why;
  std::uint8_t flag;
  std::uint32_t depth;
  Item* a;
  Item* b;
  Item* c;
  const void* where;
  std::uint64_t number;
  std::uint32_t valueCount;  // of which the first keptOperands are in values
  std::array<Item*, keptOperands> values;
};

// A value a lookup found, with the binding it came from.
struct Found {
  Item* value = nullptr;
  Item* name = nullptr;
  Item* by = nullptr;     // the call or define that made the binding
  bool argument = false;  // bound by a call, as written
};

// What the run has come to when it ends: what the explainer reads.
struct Facts {
  // The reader: the lists still open, the last thing read, where it failed.
  std::vector<Place> open;
  Place lastPlace;
  bool readDone = false;
  bool anythingRead = false;
  Place readFailure;
  Place inputEnd;            // the last character of the input, once it ended
  bool endedInAtom = false;  // and it ended within a name or numeral
  std::string beyond;        // the start of what the reader took beyond the expression

  // Names the program bound, each once, for "did you mean": at most namesKept.
  static constexpr std::size_t namesKept = 1'000;
  std::vector<Item*> names;

  // The evaluator.
  Item* current = nullptr;    // the form being worked on, or that a value came back to
  Item* missing = nullptr;    // the last name a lookup found nothing for
  Item* missingIn = nullptr;  // the form that lookup was made in
  // The forms whose frames wait for a value, outermost first: as many as the
  // run is deep, so grown a chunk at a time and never copied.
  ChunkedStack<Item*> underWay;
  // A call of a procedure value whose parameters are being bound: null once
  // its body begins.
  Item* calling = nullptr;
  Item* callingArguments = nullptr;
  Item* callingForm = nullptr;
  // The newest call of a procedure value: its form, procedure and arguments.
  Item* lastCall = nullptr;
  Item* lastProcedure = nullptr;
  Item* lastArguments = nullptr;
  // The newest name bound with no value, by (define name).
  Item* boundWithoutValue = nullptr;
  // An argument bound as written that is the very form the same name was
  // bound to by the call before: a recursion that passes itself the same
  // unevaluated argument. Its value is null when there was none.
  Found repeated;
  // The lists that calls of a name that is neither bound nor a built-in gave,
  // with the call: a ring of the newest.
  static constexpr std::size_t listsKept = 16;
  std::array<std::pair<Item*, Item*>, listsKept> unknownLists{};
  std::size_t unknownCalls = 0;
  bool inBuiltin = false;  // a built-in is being applied to these:
  Item* builtinForm = nullptr;
  Item* builtinHead = nullptr;
  // Where the evaluator holds the operands: read only while the built-in
  // runs, when they are still there.
  std::span<Item* const> builtinOperands;
  static constexpr std::size_t foundKept = 16;
  std::array<Found, foundKept> recentlyFound{};  // a ring of the newest lookups
  std::size_t lookups = 0;

  // How the run failed: `failed` is set with the kind and its culprit. The
  // line is the kind's own text, so keeping it allocates nothing (the run
  // may be ending because memory ran out).
  bool failed = false;
  Error error{};
  const Item* culprit = nullptr;
  std::string_view errorLine() const { return failed ? ::errorLine(error) : std::string_view{}; }
};

}  // namespace trace
