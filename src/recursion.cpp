#include "recursion.h"

#include <pthread.h>
#include <sys/mman.h>

#include <cstddef>

#include "fail.h"

namespace recursion {
namespace {

constexpr std::size_t MiB = std::size_t{1} << 20;

#if defined(__SANITIZE_ADDRESS__)
#define VELLUMARK_ADDRESS_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VELLUMARK_ADDRESS_SANITIZER 1
#endif
#endif

// Enough for a million nested procedure calls with room to spare, yet small
// enough that a recursion without end stops before its bindings fill memory
// (each level also pushes a binding, and the stack bounds the levels). It is
// only reserved: pages are used as deep recursion reaches them. The address
// sanitizer pads every frame, so it gets more. Other builds set their own with
// -DVELLUMARK_STACK_MIB: the fuzzing build a smaller one, so that each of its
// millions of short runs starts fast; the unoptimised coverage build a larger
// one, for its larger frames.
#if defined(VELLUMARK_STACK_MIB)
constexpr std::size_t preferredSize = VELLUMARK_STACK_MIB * MiB;
#elif defined(VELLUMARK_ADDRESS_SANITIZER)
constexpr std::size_t preferredSize = 1024 * MiB;
#else
constexpr std::size_t preferredSize = 256 * MiB;
#endif
// Under a tight address-space limit a smaller stack still runs small programs.
constexpr std::size_t smallestSize = 1 * MiB;
// The top of the stack, which every run uses, stays in small pages: a short
// run touches a few of them instead of clearing a whole huge page.
constexpr std::size_t shallowPart = 4 * MiB;
// Left free below the limit for the deepest call chain under one level of
// evaluation: a built-in writing a value, an error line being written.
constexpr std::size_t reserve = MiB / 4;

struct Task {
  int (*body)();
  int status;
};

void* start(void* argument) {
  auto* task = static_cast<Task*>(argument);
  pthread_attr_t attributes;
  void* lowest = nullptr;
  std::size_t size = 0;
  if (pthread_getattr_np(pthread_self(), &attributes) == 0) {
    pthread_attr_getstack(&attributes, &lowest, &size);
    pthread_attr_destroy(&attributes);
    limit = static_cast<const char*>(lowest) + reserve;
  }
  task->status = task->body();
  return nullptr;
}

}  // namespace

const char* limit = nullptr;

void tooDeep() { fail("Error: recursion too deep."); }

int runWithRoom(int (*body)()) {
  Task task{body, 0};
  for (std::size_t size = preferredSize; size >= smallestSize; size /= 2) {
    // Reserved, not committed: only the pages deep recursion reaches are used.
    // Below its top, where every run starts, the stack takes huge pages where
    // the system has them, since faulting in a deep stack one small page at a
    // time takes longer than the recursion itself.
    void* stack =
        mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE | MAP_STACK, -1, 0);
    if (stack == MAP_FAILED) continue;
    if (size > 2 * shallowPart) madvise(stack, size - shallowPart, MADV_HUGEPAGE);
    pthread_attr_t attributes;
    pthread_t thread{};
    const bool started = pthread_attr_init(&attributes) == 0 && pthread_attr_setstack(&attributes, stack, size) == 0 &&
                         pthread_create(&thread, &attributes, start, &task) == 0;
    pthread_attr_destroy(&attributes);
    if (started) {
      pthread_join(thread, nullptr);
      return task.status;
    }
    munmap(stack, size);
  }
  fail("Error: out of memory.");
}

}  // namespace recursion
