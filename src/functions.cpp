#include "functions.h"

#include <climits>
#include <cstdint>
#include <iostream>
#include <string_view>
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
#include "trace.h"
#include "true.h"

namespace {

// What evaluation still has to do.
EvaluationStack frames;
// The values gathered for the built-in calls and defines under way. Each
// call's values are dropped as soon as it has returned; see apply() for why
// that is sound.
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

Item* builtinAdd(Operands operands) { return Integer::make(add(operands)); }
Item* builtinSub(Operands operands) { return Integer::make(sub(operands)); }
Item* builtinMul(Operands operands) { return Integer::make(mul(operands)); }
Item* builtinDiv(Operands operands) { return Integer::make(div(operands)); }

// What a built-in reads of its operands' values.
enum class Reads : std::uint8_t {
  all,
  // Only the last: the values before it are dropped as soon as the next one
  // comes, so a long "begin" holds one value at a time.
  lastOnly,
};

struct Builtin {
  std::string_view name;
  Item* (*call)(Operands operands);
  Reads reads;
};

// One row a built-in, one line each.
// clang-format off
const Builtin builtins[] = {
    {"<",       lessThan,       Reads::all},
    {"not",     notTrue,        Reads::all},
    {"null?",   isNull,         Reads::all},
    {"+",       builtinAdd,     Reads::all},
    {"-",       builtinSub,     Reads::all},
    {"/",       builtinDiv,     Reads::all},
    {"*",       builtinMul,     Reads::all},
    {"print",   builtinPrint,   Reads::all},
    {"newline", builtinNewline, Reads::all},
    {"list",    builtinList,    Reads::all},
    {"cons",    builtinCons,    Reads::all},
    {"car",     builtinCar,     Reads::all},
    {"head",    builtinCar,     Reads::all},
    {"cdr",     builtinCdr,     Reads::all},
    {"tail",    builtinCdr,     Reads::all},
    {"append",  append,         Reads::all},
    {"begin",   begin,          Reads::lastOnly},
};
// clang-format on

// The rows above by the id of their name. Names are compared whole and
// exactly, so an id match is a name match.
const std::vector<const Builtin*> builtinsById = [] {
  std::vector<const Builtin*> byId;
  for (const Builtin& builtin : builtins) {
    const std::size_t id = Symbol::idOf(builtin.name);
    if (id >= byId.size()) byId.resize(id + 1);
    byId[id] = &builtin;
  }
  return byId;
}();

// The Reads column by the id of the name, asked before every built-in call,
// so that asking costs a load or two.
const std::vector<std::uint8_t> readsLastOnlyById = [] {
  std::vector<std::uint8_t> byId(builtinsById.size());
  for (std::size_t id = 0; id < byId.size(); ++id) {
    byId[id] = builtinsById[id] != nullptr && builtinsById[id]->reads == Reads::lastOnly ? 1 : 0;
  }
  return byId;
}();

// Whether the built-in `name` names reads only its last operand.
bool readsLastOnly(const Symbol& name) {
  return name.id() < readsLastOnlyById.size() && readsLastOnlyById[name.id()] != 0;
}

// The built-in that `name` names, or null.
const Builtin* builtinNamed(const Symbol& name) {
  return name.id() < builtinsById.size() ? builtinsById[name.id()] : nullptr;
}

// The special forms are recognised by these names before any lookup.
const std::size_t quoteId = Symbol::idOf("quote");
const std::size_t condId = Symbol::idOf("cond");
const std::size_t defineId = Symbol::idOf("define");
const std::size_t lambdaId = Symbol::idOf("lambda");

// The values gathered from `start` on are complete: they go to the rule they
// were gathered for, and leave the value stack.
Step afterGathering(std::size_t start, Awaiting gatheredFor) {
  const Operands values(valueStack.from(start + 1), valueStack.end());
  Item* head = valueStack.at(start);
  Item* result = gatheredFor == Awaiting::valueForDefine ? defineAfterValues(head, values) : apply(head, values);
  valueStack.truncate(start);
  return Step::value(result);
}

// evaluateList's loop: evaluates `expressions` first to last onto the value
// stack, after the values gathered so far. An atom's value goes straight in;
// an expression that is a form needs evaluation of its own, so a frame waits
// for it: `waiting`, when this gathering already has one, else a new one.
Step gather(Item* expressions, std::size_t start, Awaiting gatheredFor, bool newestOnly, Frame* waiting) {
  Item* expression = nullptr;
  while (takeFirst(expressions, expression)) {
    // Once another value follows, the one before will never be read.
    if (newestOnly) valueStack.truncate(start + 1);
    if (isA<Cons>(*need(expression))) {
      if (waiting != nullptr) {
        waiting->expressions = expressions;
      } else {
        frames.push(Frame::forGathering(expressions, static_cast<std::uint32_t>(start), gatheredFor, newestOnly));
      }
      trace::waiting(gatheredFor, frames.size(), valueStack.at(start), valueStack.from(start + 1), valueStack.end(),
                     expressions);
      return Step::evaluate(expression);
    }
    valueStack.push(expression->evaluate());
  }
  if (waiting != nullptr) frames.pop();
  return afterGathering(start, gatheredFor);
}

// Hands `value` to the newest frame's second half, named by what it awaits.
Step resume(Item* value) {
  frames.settle();
  Frame& frame = frames.top();
  trace::resumed(frame.awaiting, frames.size(), value);
  switch (frame.awaiting) {
    case Awaiting::headToCall:
      return lambda(value, frames.popped().arguments);
    case Awaiting::clauseTest:
      return condAfterTest(frames.popped().clauses, value);
    case Awaiting::operandForApply:
    case Awaiting::valueForDefine:
      return evaluateListAfterOperand(frame, value);
    case Awaiting::body:
      return lambdaAfterBody(frames.popped().bindings, value);
    case Awaiting::result:
      break;  // evaluateFully takes its value itself.
  }
  return Step::value(value);
}

}  // namespace

#ifdef VELLUMARK_IN_PROCESS
void resetEvaluation() {
  frames.clear();
  valueStack.truncate(0);
}
#endif

Item* Operands::list() const {
  ListBuilder list;
  for (Item* operand : *this) list.add(operand);
  return list.finish(getEmpty());
}

// The evaluation loop. Each turn evaluates the expression at hand (an atom at
// once, a pair through evalCons) or hands the value at hand to the newest
// frame, until the value reaches the frame this call began with. It may run
// inside another such loop, since it stops at its own frame.
Item* evaluateFully(Item* expression) {
  frames.push(Frame::forResult());
  Step step = Step::evaluate(expression);
  for (;;) {
    if (step.evaluates()) {
      Item* form = step.item();
      if (isA<Cons>(*form)) {
        const auto& pair = static_cast<const Cons&>(*form);
        trace::evaluating(form, frames.size());
        step = evalCons(pair.car(), pair.cdr());
        continue;
      }
      // An atom is its own value, or, for a symbol, its binding's.
      step = Step::value(form->evaluate());
    }
    if (frames.top().awaiting == Awaiting::result) {
      frames.pop();
      return step.item();
    }
    step = resume(step.item());
  }
}

Step evalCons(Item* head, Item* operands) {
  budget::spend();
  if (!isSymbol(*need(head))) {
    // Whatever a head that is a pair yields is called as a procedure. Any
    // other head has no name to go by, and fails as asking for one does.
    if (!head->isCons()) failGetString();
    frames.push(Frame::forHeadToCall(operands));
    trace::waiting(Awaiting::headToCall, frames.size(), head, nullptr, nullptr, operands);
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
  if (Item* procedure = Environment::getInstance()->lookup(symbol)) {
    trace::lookedUp(symbol, procedure);
    return lambda(procedure, operands);
  }
  return evaluateList(operands, head, Awaiting::operandForApply);
}

Step evaluateList(Item* expressions, Item* head, Awaiting gatheredFor) {
  const std::size_t start = valueStack.size();
  valueStack.push(head);
  // The head of a built-in call is a symbol: evalCons comes here for no other.
  const bool newestOnly = gatheredFor == Awaiting::operandForApply && readsLastOnly(static_cast<const Symbol&>(*head));
  trace::gathering(gatheredFor == Awaiting::valueForDefine);
  return gather(expressions, start, gatheredFor, newestOnly, nullptr);
}

Step evaluateListAfterOperand(Frame& frame, Item* value) {
  valueStack.push(value);
  return gather(frame.expressions, frame.valuesFrom, frame.awaiting, frame.newestOnly, &frame);
}

// The operands are dropped from the value stack once the built-in returns,
// which is sound because no result holds the place they were kept in: "list"
// and a name that matches no built-in return a new list made of them, and
// every other built-in returns a constant, a new value, or one of the operand
// values themselves ("print", "car", "cdr", "begin", "append" its last
// operand), never the stack.
Item* apply(Item* head, Operands operands) {
  // A call is gathered for a built-in only when its head is a symbol.
  const Builtin* builtin = builtinNamed(static_cast<const Symbol&>(*head));
  trace::applying(head, operands.begin(), operands.end(), builtin != nullptr);
  Item* result = builtin != nullptr ? builtin->call(operands) : operands.list();
  trace::applied(result);
  return result;
}

Step cond(Item* clauses) {
  if (atEnd(clauses)) return Step::value(clauses);
  // The last clause is taken without looking at its test.
  const bool last = atEnd(rest(clauses));
  Item* clause = first(clauses);
  if (last) {
    trace::condTested(clause, nullptr, true);
    return Step::evaluate(second(clause));
  }
  const Step test = Step::evaluate(first(clause));
  frames.push(Frame::forClauseTest(clauses));
  trace::waiting(Awaiting::clauseTest, frames.size(), clause, nullptr, nullptr, rest(clauses));
  return test;
}

Step condAfterTest(Item* clauses, Item* test) {
  const bool taken = need(test)->isTrue();
  trace::condTested(first(clauses), test, taken);
  if (taken) return Step::evaluate(second(first(clauses)));
  return cond(rest(clauses));
}

Step define(Item* definition) {
  Item* name = first(definition);
  return evaluateList(rest(definition), name, Awaiting::valueForDefine);
}

// The expressions after the first were evaluated for their effects only.
Item* defineAfterValues(Item* name, Operands values) {
  Stack& stack = *Environment::getInstance();
  if (values.atEnd()) {
    stack.pushWithoutValue(name);
    trace::bound(name, nullptr, false, nullptr);
  } else {
    stack.push(name, values.first());
    trace::bound(name, values.first(), true, nullptr);
  }
  return getEmpty();
}

Step lambda(Item* procedure, Item* arguments) {
  Stack& stack = *Environment::getInstance();
  std::uint32_t pushed = 0;
  Item* parameters = second(procedure);
  while (arguments != getEmpty()) {
    Item* argument = first(arguments);
    Item* parameter = first(parameters);
    stack.push(parameter, argument);
    trace::bound(parameter, argument, true, static_cast<const Cons*>(arguments));
    parameters = rest(parameters);
    arguments = rest(arguments);
    ++pushed;
  }
  const Step body = Step::evaluate(third(procedure));
  // A call that bound nothing has nothing to undo after its body, so it keeps
  // no frame, but it still counts as a level of nesting.
  if (pushed > 0) {
    frames.push(Frame::forBody(pushed));
    trace::waiting(Awaiting::body, frames.size(), procedure, nullptr, nullptr, nullptr);
  } else {
    frames.enterBareCall();
  }
  return body;
}

// Whatever is on top now goes, since a define in the body may have left
// bindings above the call's own.
Step lambdaAfterBody(std::uint32_t bindings, Item* value) {
  Stack& stack = *Environment::getInstance();
  trace::unbound(bindings);
  for (; bindings > 0; --bindings) stack.pop();
  return Step::value(value);
}

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
