// The built-in procedures that work on their operands' values alone: the
// arithmetic, the comparisons and tests, and the list joining. The
// evaluator in functions.cpp gathers their operands and calls them through
// its table of built-ins; they never evaluate anything themselves.
#include <climits>

#include "cons.h"
#include "empty.h"
#include "fail.h"
#include "false.h"
#include "functions.h"
#include "integer.h"
#include "true.h"

int add(Operands operands) {
  int sum = 0;
  for (; !operands.atEnd(); operands = operands.rest()) sum = wrappingAdd(sum, operands.firstValue()->getInt());
  return sum;
}

int sub(Operands operands) {
  if (operands.atEnd()) return 0;
  const int minuend = operands.firstValue()->getInt();
  return wrappingSub(minuend, add(operands.rest()));
}

int mul(Operands operands) {
  int product = 1;
  for (; !operands.atEnd(); operands = operands.rest()) {
    product = wrappingMul(product, operands.firstValue()->getInt());
  }
  return product;
}

int div(Operands operands) {
  if (operands.atEnd()) return 1;
  const int dividend = operands.firstValue()->getInt();
  // Divided by the product of all the others at once, not one after another.
  const int divisor = mul(operands.rest());
  if (divisor == 0) fail(Error::divisionByZero);
  // The one quotient that does not fit wraps, as every other result does.
  if (dividend == INT_MIN && divisor == -1) return INT_MIN;
  return dividend / divisor;
}

Item* lessThan(Operands operands) {
  // Operands after the first pair that is not increasing are never read, so
  // (< 2 1 (quote a)) is #f rather than a type error.
  while (!operands.atEnd() && !operands.rest().atEnd()) {
    const int left = operands.firstValue()->getInt();
    const int right = operands.rest().firstValue()->getInt();
    if (!(left < right)) return getFalse();
    operands = operands.rest();
  }
  return getTrue();
}

Item* notTrue(Operands operands) {
  if (operands.atEnd()) return getFalse();
  return operands.firstValue()->isTrue() ? getFalse() : getTrue();
}

Item* isNull(Operands operands) {
  if (operands.atEnd()) return getFalse();
  return operands.firstValue()->isEmpty() ? getTrue() : getFalse();
}

Item* appendTwo(Item* front, Item* back) {
  if (need(front)->isEmpty()) return back;
  if (need(back)->isEmpty()) return front;
  // The cells of the front are copied and the back is shared. Each cell's cdr
  // is read before its car, so a front that is no list fails on getCdr.
  ListBuilder copy;
  while (!need(front)->isEmpty()) {
    Item* next = front->getCdr();
    copy.add(front->getCar());
    front = next;
  }
  return copy.finish(back);
}

Item* append(Operands operands) {
  // Joined from the right: the last operand is the start, and each earlier one
  // is put in front of what the later ones made. Walking the operands in
  // reverse keeps that order, and so the order in which operands fail.
  if (operands.atEnd()) return getEmpty();
  Item* const* part = operands.end() - 1;
  Item* joined = *part;
  while (part != operands.begin()) joined = appendTwo(*--part, joined);
  return joined;
}

Item* begin(Operands operands) {
  if (operands.atEnd()) return getEmpty();
  return *(operands.end() - 1);
}
