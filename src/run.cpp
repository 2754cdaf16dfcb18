#include "run.h"

#include <iostream>

#include "arena.h"
#include "budget.h"
#include "empty.h"
#include "environment.h"
#include "fail.h"
#include "false.h"
#include "functions.h"
#include "integer.h"
#include "item.h"
#include "output.h"
#include "parser.h"
#include "stack.h"
#include "symbol.h"
#include "trace.h"
#include "true.h"

void runOnce() {
  std::cout << "Vellumark" << std::endl << std::endl;
  Parser parser;
  Item* item = parser.readItem();
  trace::read(item);
  // Each value is made ready before its label, so that a run that fails on it
  // (no value in the result, no memory left) gives the error line alone.
  readyToPrint(item);
  std::cout << "In:   " << item << std::endl;
  Item* result = item->evaluate();
  readyToPrint(result);
  std::cout << "Out:  " << result << std::endl;
  finish(0);
}

#ifdef VELLUMARK_IN_PROCESS
void resetForNextRun() {
  // The first call, made before any run, takes the state to go back to: the
  // names of the forms and built-ins, and the values that are made once and
  // then shared (the empty list, the booleans, the small integers), made here
  // so that they lie below the arena's mark.
  static const std::size_t namesAtStart = Symbol::namesKnown();
  static const arena::Mark arenaAtStart = [] {
    getEmpty();
    getTrue();
    getFalse();
    for (int number = Integer::smallestShared; number <= Integer::largestShared; ++number) Integer::make(number);
    return arena::mark();
  }();
  resetEvaluation();
  Environment::getInstance()->clear();
  Symbol::forgetNamesAfter(namesAtStart);
  arena::rewind(arenaAtStart);
  budget::steps = 0;
  std::cout.clear();
}
#endif
