#include "functions.h"

#include <climits>
#include <iostream>
#include <string_view>
#include <typeinfo>
#include <utility>
#include <vector>

#include "budget.h"
#include "cons.h"
#include "empty.h"
#include "environment.h"
#include "fail.h"
#include "false.h"
#include "integer.h"
#include "recursion.h"
#include "stack.h"
#include "symbol.h"
#include "true.h"

namespace {

// The symbol at the head of a form. Any other head has no name, and fails the
// way asking it for one does.
const Symbol& headSymbol(Item* head) {
  if (typeid(*head) != typeid(Symbol)) head->getString();
  return static_cast<const Symbol&>(*head);
}

Item* first(Item* operands) { return need(operands)->getCar(); }

Item* rest(Item* operands) { return need(operands)->getCdr(); }

bool atEnd(Item* operands) { return need(operands)->isEmpty(); }

Item* integer(int number) { return new Integer(number); }

Item* print(Item* operands) {
  Item* value = first(operands);
  checkBound(value);
  std::cout << value;
  return value;
}

Item* newline(Item* /*operands*/) {
  std::cout << std::endl;
  return getEmpty();
}

Item* list(Item* operands) { return operands; }

Item* cons(Item* operands) {
  // The second operand is fetched first, so no operand at all fails on getCdr.
  Item* second = first(rest(operands));
  return new Cons(first(operands), second);
}

Item* car(Item* operands) { return need(first(operands))->getCar(); }

Item* cdr(Item* operands) { return need(first(operands))->getCdr(); }

using Builtin = Item* (*)(Item* operands);

// The built-ins by the id of their name. Names are compared whole and exactly,
// so an id match is a name match.
const std::vector<Builtin>& builtinsById() {
  static const std::vector<Builtin> table = [] {
    const std::pair<std::string_view, Builtin> named[] = {
        {"<", lessThan},
        {"not", notTrue},
        {"null?", isNull},
        {"+", [](Item* operands) { return integer(add(operands)); }},
        {"-", [](Item* operands) { return integer(sub(operands)); }},
        {"/", [](Item* operands) { return integer(div(operands)); }},
        {"*", [](Item* operands) { return integer(mul(operands)); }},
        {"print", print},
        {"newline", newline},
        {"list", list},
        {"cons", cons},
        {"car", car},
        {"head", car},
        {"cdr", cdr},
        {"tail", cdr},
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
  return table;
}

}  // namespace

Item* evalCons(Item* head, Item* operands) {
  recursion::check();
  budget::spend();
  if (need(head)->isCons()) return lambda(head->evaluate(), operands);
  // The special forms are recognised by name before any lookup, so binding
  // one of these names changes nothing.
  static const std::size_t quoteId = Symbol::idOf("quote");
  static const std::size_t condId = Symbol::idOf("cond");
  static const std::size_t defineId = Symbol::idOf("define");
  static const std::size_t lambdaId = Symbol::idOf("lambda");
  const std::size_t name = headSymbol(head).id();
  if (name == quoteId) return first(operands);
  if (name == condId) return cond(operands);
  if (name == defineId) return define(operands);
  if (name == lambdaId) return new Cons(head, operands);
  // A binding under a built-in's name takes precedence over the built-in; only
  // a name with no binding at all reaches the built-ins.
  if (Item* procedure = head->evaluate()) return lambda(procedure, operands);
  return apply(head, evaluateList(operands));
}

Item* evaluateList(Item* expressions) {
  ListBuilder values;
  while (!atEnd(expressions)) {
    values.add(need(first(expressions))->evaluate());
    expressions = rest(expressions);
  }
  return values.finish(expressions);
}

Item* apply(Item* head, Item* operands) {
  const std::size_t name = headSymbol(head).id();
  const auto& builtins = builtinsById();
  if (name < builtins.size() && builtins[name] != nullptr) return builtins[name](operands);
  return operands;
}

Item* cond(Item* clauses) {
  while (!atEnd(clauses)) {
    // The last clause is taken without looking at its test.
    const bool last = atEnd(rest(clauses));
    Item* clause = first(clauses);
    if (last || need(need(first(clause))->evaluate())->isTrue()) return need(first(rest(clause)))->evaluate();
    clauses = rest(clauses);
  }
  return clauses;
}

Item* define(Item* definition) {
  Item* name = first(definition);
  Environment::getInstance()->push(new Cons(name, evaluateList(rest(definition))));
  return getEmpty();
}

namespace {

// Binds each parameter of `procedure` to its argument exactly as written (not
// evaluated) and returns how many bindings it pushed. Apart from lambda, so
// that its locals take no room in the frames of a deep recursion.
[[gnu::noinline]] std::size_t bindArguments(Stack& stack, Item* procedure, Item* arguments) {
  std::size_t pushed = 0;
  Item* parameters = first(rest(procedure));
  while (arguments != getEmpty()) {
    Item* argument = first(arguments);
    Item* parameter = first(parameters);
    stack.push(new Cons(parameter, new Cons(argument, getEmpty())));
    parameters = rest(parameters);
    arguments = rest(arguments);
    ++pushed;
  }
  return pushed;
}

}  // namespace

Item* lambda(Item* procedure, Item* arguments) {
  Stack* stack = Environment::getInstance();
  std::size_t pushed = bindArguments(*stack, procedure, arguments);
  Item* result = need(first(rest(rest(procedure))))->evaluate();
  // Whatever is on top now goes: a define in the body may have left bindings
  // above this call's own.
  for (; pushed > 0; --pushed) stack->pop();
  return result;
}

int add(Item* operands) {
  int sum = 0;
  for (; !atEnd(operands); operands = rest(operands)) sum = wrappingAdd(sum, need(first(operands))->getInt());
  return sum;
}

int sub(Item* operands) {
  if (atEnd(operands)) return 0;
  const int minuend = need(first(operands))->getInt();
  return wrappingSub(minuend, add(rest(operands)));
}

int mul(Item* operands) {
  int product = 1;
  for (; !atEnd(operands); operands = rest(operands)) {
    product = wrappingMul(product, need(first(operands))->getInt());
  }
  return product;
}

int div(Item* operands) {
  if (atEnd(operands)) return 1;
  const int dividend = need(first(operands))->getInt();
  // Divided by the product of all the others at once, not one after another.
  const int divisor = mul(rest(operands));
  if (divisor == 0) fail("Error: division by zero.");
  // The one quotient that does not fit wraps, as every other result does.
  if (dividend == INT_MIN && divisor == -1) return INT_MIN;
  return dividend / divisor;
}

Item* lessThan(Item* operands) {
  // Operands after the first pair that is not increasing are never read, so
  // (< 2 1 (quote a)) is #f rather than a type error.
  while (!atEnd(operands) && !atEnd(rest(operands))) {
    const int left = need(first(operands))->getInt();
    const int right = need(first(rest(operands)))->getInt();
    if (!(left < right)) return getFalse();
    operands = rest(operands);
  }
  return getTrue();
}

Item* notTrue(Item* operands) {
  if (atEnd(operands)) return getFalse();
  return need(first(operands))->isTrue() ? getFalse() : getTrue();
}

Item* isNull(Item* operands) {
  if (atEnd(operands)) return getFalse();
  return need(first(operands))->isEmpty() ? getTrue() : getFalse();
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

Item* append(Item* operands) {
  // Joined from the right: the last operand is the start, and each earlier one
  // is put in front of what the later ones made. Walking the operands in
  // reverse keeps that order, and so the order in which operands fail.
  std::vector<Item*> parts;
  for (; !atEnd(operands); operands = rest(operands)) parts.push_back(first(operands));
  if (parts.empty()) return operands;
  Item* joined = parts.back();
  for (auto part = parts.rbegin() + 1; part != parts.rend(); ++part) joined = appendTwo(*part, joined);
  return joined;
}

Item* begin(Item* operands) {
  if (atEnd(operands)) return operands;
  while (!atEnd(rest(operands))) operands = rest(operands);
  return first(operands);
}
