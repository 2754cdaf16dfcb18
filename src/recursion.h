// Room for evaluation to recurse in. Evaluation recurses once per nested form
// and once per nested procedure call, so a deep program needs far more stack
// than a process starts with. The driver runs evaluation on a stack of its
// own, and evaluation checks at every level that room is left, so that a
// program that recurses without end gets an error line instead of a crash.
#pragma once

namespace recursion {

// Runs `body` on a thread with a large stack, waits for it and returns what it
// returns. The thread's stack is the limit that check() enforces.
int runWithRoom(int (*body)());

// The lowest stack address evaluation may reach; null (no limit) outside
// runWithRoom().
extern const char* limit;

// Ends the run with "Error: recursion too deep." when the stack is nearly used
// up. Called once per level of evaluation.
[[noreturn]] void tooDeep();
inline void check() {
  if (static_cast<const char*>(__builtin_frame_address(0)) < limit) tooDeep();
}

}  // namespace recursion
