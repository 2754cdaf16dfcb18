// Evaluation of forms: the dispatch on a pair's head, the special forms, and
// the built-in procedures. A value that is "no value" (null) is read through
// nowhere: every read of one ends the run with "Error: unbound symbol.".
//
// Evaluation is a loop over an explicit stack of frames (frames.h), not C++
// recursion, so that its depth is data. A rule that needs the value of a
// subexpression pushes a frame saying how to go on and returns that
// subexpression as its next Step; when the value arrives, the loop hands it
// to the rule the frame names. Each rule is still written in one place, in
// the order in which it reads, evaluates and fails.
#pragma once

#include <cstddef>
#include <cstdint>

#include "fail.h"
#include "frames.h"
#include "item.h"

// What a rule decides: the value of its form, or the expression whose value
// comes next (any frame that must resume afterwards is already pushed). Rules
// read what they need before they push a frame.
class Step {
 public:
  static Step value(Item* value) { return {value, false}; }
  // Evaluating no value fails as every read of it does.
  static Step evaluate(Item* expression) { return {need(expression), true}; }

  bool evaluates() const { return evaluates_; }
  Item* item() const { return item_; }

 private:
  Step(Item* item, bool evaluates) : item_(item), evaluates_(evaluates) {}

  Item* item_;
  bool evaluates_;
};

// The evaluated operands of a built-in call, first to last, read as the list
// they stand for: the first of no operands fails as getCar of the empty list
// does, and the rest of none as getCdr does. Elements may be no value.
class Operands {
 public:
  Operands(Item* const* begin, Item* const* end) : begin_(begin), end_(end) {}

  bool atEnd() const { return begin_ == end_; }
  Item* first() const {
    if (atEnd()) fail(Error::notPairForCar);
    return *begin_;
  }
  // The first operand, which must be a value.
  Item* firstValue() const { return need(first()); }
  Operands rest() const {
    if (atEnd()) fail(Error::notPairForCdr);
    return {begin_ + 1, end_};
  }

  Item* const* begin() const { return begin_; }
  Item* const* end() const { return end_; }

  // The operands as a new list, ending in the empty list.
  Item* list() const;

 private:
  Item* const* begin_;
  Item* const* end_;
};

// The value of `expression`, with all the evaluation it takes. Ends the run
// with "Error: recursion too deep." when evaluation would nest deeper than
// the evaluation stack allows.
Item* evaluateFully(Item* expression);

// Drops every frame and gathered value, for a process that runs another
// program after this one (see run.h).
void resetEvaluation();
// A rule that waits for a value is written as two functions side by side: the
// rule, which pushes a frame and returns the expression to evaluate, and its
// second half, NAMEAfterWHAT, which the evaluation loop calls with the value
// when it comes (the frame's kind says which).

// Dispatch.
// The form whose head and operand list are given: a special form by name, a
// call of a procedure value (a head that is a pair, or a symbol bound to
// something), or else a built-in call with the operands evaluated and applied.
Step evalCons(Item* head, Item* operands);
// Gathering: puts `head` (a built-in's name, or a define's name) on the value
// stack and evaluates `expressions` first to last after it; the values go to
// the rule `gatheredFor` names: apply for a built-in call, defineAfterValues
// for a define.
Step evaluateList(Item* expressions, Item* head, Awaiting gatheredFor);
// The value of the expression that `frame` of a gathering waited for: it is
// kept, and gathering goes on with the next.
Step evaluateListAfterOperand(Frame& frame, Item* value);
// The built-in named by `head` applied to the evaluated `operands`; a name
// that is no built-in gives the operands as a list.
Item* apply(Item* head, Operands operands);

// Special forms. Each receives its operands unevaluated.
// The expression of the first clause whose test yields #t; the last clause's
// expression, without a test, when none does; () for no clauses.
Step cond(Item* clauses);
// The first of `clauses` tested `test`: only #t chooses it.
Step condAfterTest(Item* clauses, Item* test);
// Binds the name to the value of the first expression, after evaluating all of
// them. Its value is ().
Step define(Item* definition);
// The values of a define's expressions are in: the first is bound to `name`.
Item* defineAfterValues(Item* name, Operands values);
// Applies a procedure value (lambda parameters body) to the arguments exactly
// as written: binds each parameter to its argument, evaluates the body, then
// pops as many bindings as it pushed.
Step lambda(Item* procedure, Item* arguments);
// The body of a call that pushed `bindings` bindings gave `value`.
Step lambdaAfterBody(std::uint32_t bindings, Item* value);

// Built-ins that need more than a line. Arithmetic wraps at 32 bits.
int add(Operands operands);
int sub(Operands operands);
int mul(Operands operands);
int div(Operands operands);
Item* lessThan(Operands operands);
Item* notTrue(Operands operands);
Item* isNull(Operands operands);
Item* append(Operands operands);
Item* appendTwo(Item* front, Item* back);
Item* begin(Operands operands);
