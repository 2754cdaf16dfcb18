#include "fail.h"

#include <cstdlib>
#include <iostream>
#include <new>

#include "trace.h"

void fail(std::string_view line) { fail(line, std::cout); }

void fail(std::string_view line, std::ostream& out) {
  trace::failing(line);
  out << line << std::endl;
  finish(1);
}

void failOutOfMemory() {
  trace::outOfMemory();
  fail("Error: out of memory.");
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
