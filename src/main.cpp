// The driver: one run reads one expression, echoes it, evaluates it and writes
// the result.
#include "fail.h"
#include "output.h"
#include "run.h"
#include "trace.h"

int main(int argc, char** argv) {
  // std::cout gets a large buffer of its own, which writes a long list in a
  // few system calls; line ends still flush it where the output format asks.
  // Having its own buffer, it needs no std::ios::sync_with_stdio(false), which
  // would only take memory for buffers of the other standard streams, at a
  // moment when a failure could not be written anywhere. (The handler for a
  // failed allocation is in place before main starts: see fail.cpp.)
  useLargeOutputBuffer();
  trace::start(argc, argv);
#ifdef VELLUMARK_IN_PROCESS
  try {
    runOnce();
  } catch (const RunEnded& ended) {
    return ended.status;
  }
#else
  runOnce();
#endif
}
