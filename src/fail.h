// The two ways a run ends early: an error line, or the end of input.
// Every error line in the interpreter is written through fail(), so each one
// reaches the output the same way: the line, a newline, a flush, status 1.
#pragma once

#include <iosfwd>
#include <string_view>

// Writes `line`, a newline and a flush to `out`, then ends the process with
// status 1.
[[noreturn]] void fail(std::string_view line);
[[noreturn]] void fail(std::string_view line, std::ostream& out);

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
