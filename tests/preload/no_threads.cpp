// Preloaded into the interpreter to stand for a place where no thread can be
// started (a thread limit, a sandbox): every attempt fails as it would there.
// Evaluation keeps its depth as data, so a run must not need a thread.
#include <pthread.h>

#include <cerrno>

extern "C" int pthread_create(pthread_t* /*thread*/, const pthread_attr_t* /*attributes*/, void* (* /*start*/)(void*),
                              void* /*argument*/) noexcept {
  return EAGAIN;
}
