// A cap on the work of one run, for fuzzing builds only. A fuzzer must tell a
// program that hangs from one that is merely long: a few dozen input bytes
// can ask for exponential work (a recursion that calls itself twice, a value
// that doubles with every definition), which is correct behaviour, not a
// hang. Configuring with -DVELLUMARK_WORK_LIMIT=N (the fuzz preset does) ends
// such runs after N steps of evaluation, allocation or printing; in every other
// build each call below compiles to nothing.
#pragma once

#ifdef VELLUMARK_WORK_LIMIT
#include "fail.h"
#endif

namespace budget {

// The steps taken so far in this run.
inline unsigned long long steps = 0;

inline void spend() {
#ifdef VELLUMARK_WORK_LIMIT
  if (++steps > VELLUMARK_WORK_LIMIT) fail(Error::workLimit);
#endif
}

}  // namespace budget
