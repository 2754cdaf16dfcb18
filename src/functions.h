// Evaluation of forms: the dispatch on a pair's head, the special forms, and
// the built-in procedures. A value that is "no value" (null) is read through
// nowhere: every read of one ends the run with "Error: unbound symbol.".
#pragma once

#include "item.h"

// Dispatch.
// The value of the form whose head and operand list are given: a special form
// by name, a call of a procedure value (a head that is a pair, or a symbol
// bound to something), or else a built-in call with the operands evaluated.
Item* evalCons(Item* head, Item* operands);
// A new list of the values of `expressions`, evaluated first to last; the
// empty list itself when there are none.
Item* evaluateList(Item* expressions);
// The built-in named by `head` applied to the evaluated `operands`; a name
// that is no built-in gives the operand list itself.
Item* apply(Item* head, Item* operands);

// Special forms. Each receives its operands unevaluated.
// The expression of the first clause whose test yields #t; the last clause's
// expression, without a test, when none does; () for no clauses.
Item* cond(Item* clauses);
// Binds the name to the value of the first expression, after evaluating all of
// them. Returns ().
Item* define(Item* definition);
// Applies a procedure value (lambda parameters body) to the arguments exactly
// as written: binds each parameter to its argument, evaluates the body, then
// pops as many bindings as it pushed.
Item* lambda(Item* procedure, Item* arguments);

// Built-ins that need more than a line. Each takes the evaluated operand list.
// Arithmetic wraps at 32 bits.
int add(Item* operands);
int sub(Item* operands);
int mul(Item* operands);
int div(Item* operands);
Item* lessThan(Item* operands);
Item* notTrue(Item* operands);
Item* isNull(Item* operands);
Item* append(Item* operands);
Item* appendTwo(Item* front, Item* back);
Item* begin(Item* operands);
