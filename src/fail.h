// The ways a run ends early: an error line, or the end of input.
// Every error line in the interpreter is written through fail(), so each one
// reaches the output the same way: the line, a newline, a flush, status 1.
// Each line is a kind of error, named where it is raised together with what
// it was raised about, so that vellumark-trace can say why without reading
// the line back.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <string_view>

class Item;

// Every error line of a run, one kind a line; errorLine() gives the text.
enum class Error : std::uint8_t {
  outOfMemory,      // "Error: out of memory."
  tooDeep,          // "Error: recursion too deep."
  unbound,          // "Error: unbound symbol.": a read of no value
  notInteger,       // "Error: tried to getInt from non-Integer."
  notString,        // "Error: tried to getString from non-String."
  notPairForCar,    // "Error: tried to getCar from non-Cons."
  notPairForCdr,    // "Error: tried to getCdr from non-Cons."
  divisionByZero,   // "Error: division by zero."
  printingGeneric,  // "Error: printing generic item."
  unreadableInput,  // "Error: standard input could not be read."
  workLimit,        // "Error: work limit of this fuzzing build reached."
  badInput,         // "Bad input."
  badPair,          // "Bad pair"
};

// The line a run that fails with `kind` writes, without its newline.
std::string_view errorLine(Error kind);

// Writes the line of `kind`, a newline and a flush to standard output (or
// `out`), then ends the process with status 1. `culprit` is the value or form
// the error is about: the value an accessor was asked of, the list a walk met
// the end of; null when there is none (an operand that is missing, a read of
// no value). Only vellumark-trace looks at it.
[[noreturn]] void fail(Error kind, const Item* culprit = nullptr);
[[noreturn]] void fail(Error kind, const Item* culprit, std::ostream& out);

// Ends the run with "Error: out of memory.": whatever ran out (the values'
// blocks, the stacks beneath evaluation, the standard library's own
// allocations) ends it the same way. It is also the handler that operator new
// calls when it finds no memory, from before the first allocation of the run.
[[noreturn]] void failOutOfMemory();

// Flushes standard output and ends the process with `status`, or with 1 when
// anything written to standard output was lost (a full disk, for instance):
// a run whose output did not arrive must not report success.
// In a build made with VELLUMARK_IN_PROCESS (the fuzzing harness, which runs
// many programs in one process), it throws RunEnded instead.
[[noreturn]] void finish(int status);

// How a run ends in a build made with VELLUMARK_IN_PROCESS: finish() throws
// this with the run's status instead of ending the process, so that the
// caller can run the next program.
struct RunEnded {
  int status;
};

// The status a run that has got this far should end with: `status`, or 1 when
// standard output has failed.
int outputStatus(int status);
