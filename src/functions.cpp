#include "functions.h"

#include <climits>
#include <cstdint>
#include <iostream>
#include <string_view>
#include <utility>
#include <vector>

#include "budget.h"
#include "cons.h"
#include "empty.h"
#include "environment.h"
#include "fail.h"
#include "false.h"
#include "integer.h"
#include "stack.h"
#include "symbol.h"
#include "true.h"

namespace {

// What evaluation still has to do.
EvaluationStack frames;
// Each call's values are dropped as soon as it has returned; see apply() for
// why that is sound.
ValueStack valueStack;

// The parts of a list of the program. A list that evaluation made may hold no
// value anywhere, so each part is checked before it is read. A pair is read
// in place; anything else is asked, and fails as the accessor does.
Item* first(Item* list) { return isA<Cons>(*need(list)) ? static_cast<const Cons*>(list)->car() : list->getCar(); }
Item* rest(Item* list) { return isA<Cons>(*need(list)) ? static_cast<const Cons*>(list)->cdr() : list->getCdr(); }
Item* second(Item* list) { return first(rest(list)); }
Item* third(Item* list) { return second(rest(list)); }
// Only the one empty list is empty, so the test is a comparison.
bool atEnd(Item* list) { return need(list) == getEmpty(); }

// The walk along a list of the program: false at its end, otherwise its first
// element in `element`, with `list` moved on to the rest. It reads and fails
// as atEnd, first and rest would one after another, but asks each cell its
// kind once, which counts in the loop that every call runs through.
bool takeFirst(Item*& list, Item*& element) {
  if (isA<Cons>(*need(list))) {
    const auto& cell = static_cast<const Cons&>(*list);
    element = cell.car();
    list = cell.cdr();
    return true;
  }
  if (list == getEmpty()) return false;
  failGetCar();
}

// The halves of the rules that take a value when it comes.
Step gatherOperands(Item* expressions, Awaiting then, std::size_t start, Frame* waiting);
Step condTested(Item* clauses, Item* test);
Item* bindDefinition(Item* name, Operands values);
void unbind(std::uint32_t count);

// Hands `value` to the newest frame: the rule that pushed it goes on.
Step resume(Frame& frame, Item* value) {
  frames.settle();
  switch (frame.awaiting) {
    case Awaiting::procedure: {
      Item* arguments = frame.list;
      frames.pop();
      return lambda(value, arguments);
    }
    case Awaiting::clauseTest: {
      Item* clauses = frame.list;
      frames.pop();
      return condTested(clauses, value);
    }
    case Awaiting::operand:
    case Awaiting::lastOperand:
    case Awaiting::definitionValue:
      valueStack.push(value);
      return gatherOperands(frame.list, frame.awaiting, frame.count, &frame);
    case Awaiting::body:
      unbind(frame.count);
      frames.pop();
      return Step::value(value);
    case Awaiting::result:
      // The loop takes the value of its whole expression itself.
      break;
  }
  return Step::value(value);
}

}  // namespace

Item* Operands::list() const {
  ListBuilder list;
  for (Item* operand : *this) list.add(operand);
  return list.finish(getEmpty());
}

#ifdef VELLUMARK_IN_PROCESS
void resetEvaluation() {
  frames.clear();
  valueStack.truncate(0);
}
#endif

// The evaluation loop. Each turn evaluates the expression at hand (an atom at
// once, a pair through evalCons) or hands the value at hand to the newest
// frame, until the value reaches the frame this call began with. It may run
// inside another such loop, since it stops at its own frame.
Item* evaluateFully(Item* expression) {
  frames.push(nullptr, 0, Awaiting::result);
  Step step = Step::evaluate(expression);
  for (;;) {
    if (step.evaluates()) {
      Item* form = step.item();
      if (isA<Cons>(*form)) {
        const auto& pair = static_cast<const Cons&>(*form);
        step = evalCons(pair.car(), pair.cdr());
        continue;
      }
      // An atom is its own value, or, for a symbol, its binding's.
      step = Step::value(form->evaluate());
    }
    Frame& frame = frames.top();
    if (frame.awaiting == Awaiting::result) {
      frames.pop();
      return step.item();
    }
    step = resume(frame, step.item());
  }
}

namespace {

// The special forms are recognised by these names before any lookup.
const std::size_t quoteId = Symbol::idOf("quote");
const std::size_t condId = Symbol::idOf("cond");
const std::size_t defineId = Symbol::idOf("define");
const std::size_t lambdaId = Symbol::idOf("lambda");
const std::size_t beginId = Symbol::idOf("begin");

}  // namespace

Step evalCons(Item* head, Item* operands) {
  budget::spend();
  if (!isSymbol(*need(head))) {
    // Whatever a head that is a pair yields is called as a procedure. Any
    // other head has no name to go by, and fails as asking for one does.
    if (!head->isCons()) failGetString();
    frames.push(operands, 0, Awaiting::procedure);
    return Step::evaluate(head);
  }
  const auto& symbol = static_cast<const Symbol&>(*head);
  const std::size_t name = symbol.id();
  if (name == quoteId) return Step::value(first(operands));
  if (name == condId) return cond(operands);
  if (name == defineId) return define(operands);
  if (name == lambdaId) return Step::value(new Cons(head, operands));
  // A binding under a built-in's name takes precedence over the built-in; only
  // a name with no binding at all reaches the built-ins.
  if (Item* procedure = Environment::getInstance()->lookup(symbol)) return lambda(procedure, operands);
  return evaluateList(operands, name == beginId ? Awaiting::lastOperand : Awaiting::operand, head);
}

Step evaluateList(Item* expressions, Awaiting then, Item* head) {
  const std::size_t start = valueStack.size();
  valueStack.push(head);
  return gatherOperands(expressions, then, start, nullptr);
}

namespace {

// evaluateList's loop: evaluates `expressions` first to last onto the value
// stack, where the values gathered so far begin at `start` + 1, then hands
// them all to whoever asked for them. An atom's value goes straight in; an
// operand that is a form needs evaluation of its own, so a frame waits for it:
// `waiting`, when this list already has one, else a new one.
Step gatherOperands(Item* expressions, Awaiting then, std::size_t start, Frame* waiting) {
  Item* expression = nullptr;
  while (takeFirst(expressions, expression)) {
    // Once another operand follows, "begin" will never read the one before.
    if (then == Awaiting::lastOperand) valueStack.truncate(start + 1);
    if (isA<Cons>(*need(expression))) {
      if (waiting != nullptr) {
        waiting->list = expressions;
      } else {
        frames.push(expressions, static_cast<std::uint32_t>(start), then);
      }
      return Step::evaluate(expression);
    }
    valueStack.push(expression->evaluate());
  }
  if (waiting != nullptr) frames.pop();
  const Operands operands(valueStack.from(start + 1), valueStack.end());
  Item* head = valueStack.at(start);
  Item* result = then == Awaiting::definitionValue ? bindDefinition(head, operands) : apply(head, operands);
  valueStack.truncate(start);
  return Step::value(result);
}

// The built-ins that fit in a line or two. They are named after the built-in
// they are, so as not to be taken for the value classes' own operations.

Item* builtinPrint(Operands operands) {
  Item* value = operands.first();
  readyToPrint(value);
  std::cout << value;
  return value;
}

Item* builtinNewline(Operands /*operands*/) {
  std::cout << std::endl;
  return getEmpty();
}

Item* builtinList(Operands operands) { return operands.list(); }

Item* builtinCons(Operands operands) {
  // The second operand is fetched first, so no operand at all fails on getCdr.
  Item* second = operands.rest().first();
  return new Cons(operands.first(), second);
}

Item* builtinCar(Operands operands) { return operands.firstValue()->getCar(); }

Item* builtinCdr(Operands operands) { return operands.firstValue()->getCdr(); }

using Builtin = Item* (*)(Operands operands);

// The built-ins by the id of their name. Names are compared whole and exactly,
// so an id match is a name match.
const std::vector<Builtin> builtinsById = [] {
  const std::pair<std::string_view, Builtin> named[] = {
      {"<", lessThan},
      {"not", notTrue},
      {"null?", isNull},
      {"+", [](Operands operands) -> Item* { return Integer::make(add(operands)); }},
      {"-", [](Operands operands) -> Item* { return Integer::make(sub(operands)); }},
      {"/", [](Operands operands) -> Item* { return Integer::make(div(operands)); }},
      {"*", [](Operands operands) -> Item* { return Integer::make(mul(operands)); }},
      {"print", builtinPrint},
      {"newline", builtinNewline},
      {"list", builtinList},
      {"cons", builtinCons},
      {"car", builtinCar},
      {"head", builtinCar},
      {"cdr", builtinCdr},
      {"tail", builtinCdr},
      {"append", append},
      {"begin", begin},
  };
  std::vector<Builtin> byId;
  for (const auto& [name, call] : named) {
    const std::size_t id = Symbol::idOf(name);
    if (id >= byId.size()) byId.resize(id + 1);
    byId[id] = call;
  }
  return byId;
}();

}  // namespace

// The operands are dropped from the value stack once the built-in returns,
// which is sound because no result holds the place they were kept in: "list"
// and a name that matches no built-in return a new list made of them, and
// every other built-in returns a constant, a new value, or one of the operand
// values themselves ("print", "car", "cdr", "begin", "append" its last
// operand), never the stack.
Item* apply(Item* head, Operands operands) {
  const std::size_t name = asSymbol(head).id();
  if (name < builtinsById.size() && builtinsById[name] != nullptr) return builtinsById[name](operands);
  return operands.list();
}

Step cond(Item* clauses) {
  if (atEnd(clauses)) return Step::value(clauses);
  // The last clause is taken without looking at its test.
  const bool last = atEnd(rest(clauses));
  Item* clause = first(clauses);
  if (last) return Step::evaluate(second(clause));
  const Step test = Step::evaluate(first(clause));
  frames.push(clauses, 0, Awaiting::clauseTest);
  return test;
}

namespace {

// The test of the first of `clauses` gave `test`: only #t chooses the clause.
Step condTested(Item* clauses, Item* test) {
  if (need(test)->isTrue()) return Step::evaluate(second(first(clauses)));
  return cond(rest(clauses));
}

}  // namespace

Step define(Item* definition) {
  Item* name = first(definition);
  return evaluateList(rest(definition), Awaiting::definitionValue, name);
}

namespace {

// The values of a define's expressions are in: the first is bound, the others
// were evaluated for their effects only.
Item* bindDefinition(Item* name, Operands values) {
  Stack& stack = *Environment::getInstance();
  if (values.atEnd()) {
    stack.pushWithoutValue(name);
  } else {
    stack.push(name, values.first());
  }
  return getEmpty();
}

}  // namespace

Step lambda(Item* procedure, Item* arguments) {
  Stack& stack = *Environment::getInstance();
  std::uint32_t pushed = 0;
  Item* parameters = second(procedure);
  while (arguments != getEmpty()) {
    Item* argument = first(arguments);
    Item* parameter = first(parameters);
    stack.push(parameter, argument);
    parameters = rest(parameters);
    arguments = rest(arguments);
    ++pushed;
  }
  const Step body = Step::evaluate(third(procedure));
  // A call that bound nothing has nothing to undo after its body, so it keeps
  // no frame, but it still counts as a level of nesting.
  if (pushed > 0) {
    frames.push(nullptr, pushed, Awaiting::body);
  } else {
    frames.enterBareCall();
  }
  return body;
}

namespace {

// The body has returned: whatever is on top now goes, since a define in the
// body may have left bindings above the call's own.
void unbind(std::uint32_t count) {
  Stack& stack = *Environment::getInstance();
  for (; count > 0; --count) stack.pop();
}

}  // namespace

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
  if (divisor == 0) fail("Error: division by zero.");
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
