// The evaluation stack: what evaluation still has to do, kept as data. A form
// whose evaluation waits for the value of a subexpression leaves a frame here
// saying how to go on, instead of a C++ call waiting on the machine's stack,
// so a program nests as deep as the bound below allows, on any machine stack.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>

#include "chunked.h"
#include "item.h"

// What a frame waits for. The kind is the frame's return address: it names the
// second half of the rule that pushed the frame, which takes the value when it
// comes (functions.h pairs each rule with its second half).
enum class Awaiting : std::uint8_t {
  // The value of the whole expression that one evaluateFully was given.
  result,
  // The value of a head that is a pair, to be called as a procedure (lambda).
  headToCall,
  // The value of the test of a cond clause (condAfterTest).
  clauseTest,
  // The value of the next operand of a built-in call, gathered for apply
  // (evaluateListAfterOperand).
  operandForApply,
  // The value of the next expression of a define, gathered for the binding
  // (evaluateListAfterOperand, then defineAfterValues).
  valueForDefine,
  // The value of a procedure's body, after which the call's bindings are
  // popped (lambdaAfterBody).
  body,
};

// One frame of evaluation: what the rule that pushed it keeps for its second
// half. Each kind reads only the members it was made with.
struct Frame {
  union {
    // headToCall: the call's operand list, bound as written.
    Item* arguments;
    // clauseTest: the clause under test, followed by those still to try.
    Item* clauses;
    // operandForApply, valueForDefine: the expressions still to evaluate.
    Item* expressions;
  };
  union {
    // operandForApply, valueForDefine: where on the value stack the call's
    // head (or the defined name) lies; the values gathered so far follow it.
    std::uint32_t valuesFrom;
    // body: how many bindings the call pushed.
    std::uint32_t bindings;
  };
  Awaiting awaiting;
  // operandForApply: the built-in reads only its last operand, so only the
  // newest value is kept.
  bool newestOnly;
  // Procedure calls made while this frame was on top that bound nothing, and
  // so left no frame to undo them: each is a level of nesting until a value
  // reaches this frame, which ends them all.
  std::uint16_t bareCalls;

  static Frame forResult() { return Frame{{nullptr}, {0}, Awaiting::result, false, 0}; }
  static Frame forHeadToCall(Item* arguments) {
    return Frame{{.arguments = arguments}, {0}, Awaiting::headToCall, false, 0};
  }
  static Frame forClauseTest(Item* clauses) { return Frame{{.clauses = clauses}, {0}, Awaiting::clauseTest, false, 0}; }
  static Frame forGathering(Item* expressions, std::uint32_t valuesFrom, Awaiting gatheredFor, bool newestOnly) {
    return Frame{{.expressions = expressions}, {.valuesFrom = valuesFrom}, gatheredFor, newestOnly, 0};
  }
  static Frame forBody(std::uint32_t bindings) {
    return Frame{{nullptr}, {.bindings = bindings}, Awaiting::body, false, 0};
  }
};
static_assert(sizeof(Frame) <= 16, "frames are kept by the million");

// The frames, newest on top, up to a bound on the depth of nesting: a program
// that nests deeper ends with an error line, however much memory is left, so
// that a recursion without end stops in seconds and in bounded memory.
class EvaluationStack {
 public:
  // How many levels may be open at once: frames, and calls that bound nothing.
  // A procedure that calls itself opens one or two levels per call, so
  // millions of nested calls fit.
#ifdef VELLUMARK_TRACE
  // The traced build may be told to stop sooner (vellumark-trace --depth=N):
  // a run that went past the limit is explained from its first levels as
  // well as from all ten million, in a fraction of the time.
  static inline std::size_t depthLimit = 10'000'000;
#else
  static constexpr std::size_t depthLimit = 10'000'000;
#endif

  std::size_t size() const { return frames_.size(); }
  // The levels open now: frames, and the bare calls counted on them.
  std::size_t depth() const { return depth_; }
  Frame& top() { return frames_.top(); }

  // Each of these ends the run with "Error: recursion too deep." when it would
  // take the depth past the limit.
  void push(const Frame& frame) {
    open();
    frames_.push(frame);
  }
  // Takes every frame off (see ChunkedStack::clear).
  void clear() {
    frames_.clear();
    depth_ = 0;
  }

  // A procedure call that bound nothing opens a level on the frame on top.
  void enterBareCall() {
    Frame& newest = frames_.top();
    if (newest.bareCalls == std::numeric_limits<std::uint16_t>::max()) {
      push(Frame::forBody(0));
    } else {
      open();
      ++newest.bareCalls;
    }
  }

  // A value has reached the frame on top: the bare calls made on it are over.
  void settle() {
    depth_ -= frames_.top().bareCalls;
    frames_.top().bareCalls = 0;
  }
  // Takes the frame on top off, with the bare calls made on it.
  void pop() {
    depth_ -= std::size_t{1} + frames_.top().bareCalls;
    frames_.pop();
  }
  // The same, giving back the frame taken off, for its rule's second half.
  Frame popped() {
    const Frame frame = frames_.top();
    pop();
    return frame;
  }

 private:
  void open() {
    if (depth_ == depthLimit) tooDeep();
    ++depth_;
  }
  [[noreturn]] static void tooDeep();

  ChunkedStack<Frame> frames_;
  std::size_t depth_ = 0;
};

// The values gathered for the built-in calls and defines under way, oldest
// first: for each, its head (or the defined name), then its operands' values
// so far. A call's values lie side by side, so the built-in can read them in
// place; nothing keeps their address while more are pushed, so growing may
// move them.
class ValueStack {
 public:
  ValueStack() = default;
  ValueStack(const ValueStack&) = delete;
  ValueStack& operator=(const ValueStack&) = delete;
  ~ValueStack();

  std::size_t size() const { return static_cast<std::size_t>(top_ - bottom_); }
  Item* at(std::size_t index) const { return bottom_[index]; }
  // The values from `index` on, up to the top.
  Item* const* from(std::size_t index) const { return bottom_ + index; }
  Item* const* end() const { return top_; }

  void push(Item* value) {
    if (top_ == end_) grow();
    *top_++ = value;
  }
  // Drops every value from `size` on.
  void truncate(std::size_t size) { top_ = bottom_ + size; }

 private:
  // Doubles the room, keeping the values. Ends the run with "Error: out of
  // memory." when no more memory can be had.
  void grow();

  Item** bottom_ = nullptr;
  Item** top_ = nullptr;
  Item** end_ = nullptr;
};
