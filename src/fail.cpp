#include "fail.h"

#include <cstdlib>
#include <iostream>
#include <new>

#include "trace.h"

std::string_view errorLine(Error kind) {
  switch (kind) {
    case Error::outOfMemory:
      return "Error: out of memory.";
    case Error::tooDeep:
      return "Error: recursion too deep.";
    case Error::unbound:
      return "Error: unbound symbol.";
    case Error::notInteger:
      return "Error: tried to getInt from non-Integer.";
    case Error::notString:
      return "Error: tried to getString from non-String.";
    case Error::notPairForCar:
      return "Error: tried to getCar from non-Cons.";
    case Error::notPairForCdr:
      return "Error: tried to getCdr from non-Cons.";
    case Error::divisionByZero:
      return "Error: division by zero.";
    case Error::printingGeneric:
      return "Error: printing generic item.";
    case Error::unreadableInput:
      return "Error: standard input could not be read.";
    case Error::workLimit:
      return "Error: work limit of this fuzzing build reached.";
    case Error::badInput:
      return "Bad input.";
    case Error::badPair:
      return "Bad pair";
  }
  return {};  // not reached: every kind has its line
}

void fail(Error kind, const Item* culprit) { fail(kind, culprit, std::cout); }

void fail(Error kind, const Item* culprit, std::ostream& out) {
  trace::failing(kind, culprit);
  out << errorLine(kind) << std::endl;
  finish(1);
}

void failOutOfMemory() {
  trace::outOfMemory();
  fail(Error::outOfMemory);
}

namespace {

// Allocation failures are errors of the run from the very first allocation:
// the tables of names and built-ins are made before main() starts, and a
// failure there must end with the error line like any other, not with an
// uncaught std::bad_alloc. This object is constructed before every other
// static object of the program (the lowest priority a program may use).
struct OutOfMemoryHandler {
  OutOfMemoryHandler() { std::set_new_handler(failOutOfMemory); }
};
// NOLINTNEXTLINE(cert-err58-cpp): the constructor only installs a handler.
__attribute__((init_priority(101))) const OutOfMemoryHandler outOfMemoryHandler;

}  // namespace

int outputStatus(int status) {
  std::cout.flush();
  return std::cout ? status : 1;
}

void finish(int status) {
  trace::finishing(status);
#ifdef VELLUMARK_IN_PROCESS
  // A build that runs many programs in one process (the fuzzing harness) ends
  // each run by returning to its caller, not by ending the process.
  throw RunEnded{outputStatus(status)};
#else
  std::exit(outputStatus(status));
#endif
}
