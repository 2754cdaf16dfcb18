// Preloaded into the dynamically linked interpreter to make one call fail on
// purpose: the Nth request for memory, or the Nth read or write of the
// standard streams. tests/faults.py runs each program once to count the
// calls, then once for every N, and checks that each run still ends the way
// the README says. Set through the environment:
//
//   VELLUMARK_FAULT=alloc:N     the Nth allocation fails: malloc, calloc,
//                               realloc, the aligned allocators (operator new
//                               comes to these), mmap and mremap
//   VELLUMARK_FAULT=read:N:ERRNO   the Nth read of standard input fails with
//                                  ERRNO, one of EIO, ENOSPC, EPIPE, EAGAIN;
//                                  only that call
//   VELLUMARK_FAULT=write:N:ERRNO  likewise the Nth write to standard output
//                                  or standard error
//   VELLUMARK_FAULT_COUNT=FILE     at exit, "ALLOCATIONS READS WRITES" is
//                                  written to FILE
//
// The real calls are made without dlsym, which itself allocates: glibc's
// allocator under its own names, and system calls for the rest.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>

extern "C" {
void* __libc_malloc(std::size_t size);
void* __libc_calloc(std::size_t count, std::size_t size);
void* __libc_realloc(void* old, std::size_t size);
void* __libc_memalign(std::size_t alignment, std::size_t size);
}

namespace {

enum class Kind { none, alloc, read, write };

struct Plan {
  Kind kind = Kind::none;
  unsigned long at = 0;
  int error = EIO;
};

unsigned long allocations = 0;
unsigned long reads = 0;
unsigned long writes = 0;

// Read on first use, since allocation can begin before this library's own
// constructors run. getenv allocates nothing.
const Plan& plan() {
  static const Plan parsed = [] {
    Plan read;
    const char* text = std::getenv("VELLUMARK_FAULT");
    if (text == nullptr) return read;
    if (std::strncmp(text, "alloc:", 6) == 0) {
      read.kind = Kind::alloc;
      text += 6;
    } else if (std::strncmp(text, "read:", 5) == 0) {
      read.kind = Kind::read;
      text += 5;
    } else if (std::strncmp(text, "write:", 6) == 0) {
      read.kind = Kind::write;
      text += 6;
    } else {
      return read;
    }
    char* end = nullptr;
    read.at = std::strtoul(text, &end, 10);
    if (*end == ':') {
      const char* name = end + 1;
      read.error = std::strcmp(name, "ENOSPC") == 0   ? ENOSPC
                   : std::strcmp(name, "EPIPE") == 0  ? EPIPE
                   : std::strcmp(name, "EAGAIN") == 0 ? EAGAIN
                                                      : EIO;
    }
    return read;
  }();
  return parsed;
}

// Whether this allocation is the one that fails.
bool failAllocation() { return ++allocations == plan().at && plan().kind == Kind::alloc; }

bool failRead() { return ++reads == plan().at && plan().kind == Kind::read; }

bool failWrite() { return ++writes == plan().at && plan().kind == Kind::write; }

long realMmap(void* address, std::size_t length, int protection, int flags, int descriptor, off_t offset) {
  return syscall(SYS_mmap, address, length, protection, flags, descriptor, offset);
}

__attribute__((destructor)) void reportCounts() {
  const char* path = std::getenv("VELLUMARK_FAULT_COUNT");
  if (path == nullptr) return;
  char text[64];
  const int length = std::snprintf(text, sizeof text, "%lu %lu %lu\n", allocations, reads, writes);
  const int file = static_cast<int>(syscall(SYS_openat, AT_FDCWD, path, O_WRONLY | O_CREAT | O_TRUNC, 0644));
  if (file < 0) return;
  syscall(SYS_write, file, text, static_cast<std::size_t>(length));
  syscall(SYS_close, file);
}

}  // namespace

extern "C" {

void* malloc(std::size_t size) {
  if (failAllocation()) {
    errno = ENOMEM;
    return nullptr;
  }
  return __libc_malloc(size);
}

void* calloc(std::size_t count, std::size_t size) {
  if (failAllocation()) {
    errno = ENOMEM;
    return nullptr;
  }
  return __libc_calloc(count, size);
}

void* realloc(void* old, std::size_t size) {
  if (failAllocation()) {
    errno = ENOMEM;
    return nullptr;
  }
  return __libc_realloc(old, size);
}

void* aligned_alloc(std::size_t alignment, std::size_t size) {
  if (failAllocation()) {
    errno = ENOMEM;
    return nullptr;
  }
  return __libc_memalign(alignment, size);
}

void* memalign(std::size_t alignment, std::size_t size) { return aligned_alloc(alignment, size); }

int posix_memalign(void** result, std::size_t alignment, std::size_t size) {
  void* memory = aligned_alloc(alignment, size);
  if (memory == nullptr) return ENOMEM;
  *result = memory;
  return 0;
}

void* mmap(void* address, std::size_t length, int protection, int flags, int descriptor, off_t offset) {
  if (failAllocation()) {
    errno = ENOMEM;
    return MAP_FAILED;
  }
  const long mapped = realMmap(address, length, protection, flags, descriptor, offset);
  if (mapped < 0 && mapped > -4096) {
    errno = static_cast<int>(-mapped);
    return MAP_FAILED;
  }
  return reinterpret_cast<void*>(mapped);
}

void* mmap64(void* address, std::size_t length, int protection, int flags, int descriptor, off_t offset) {
  return mmap(address, length, protection, flags, descriptor, offset);
}

void* mremap(void* old, std::size_t oldLength, std::size_t newLength, int flags, ...) {
  void* target = nullptr;
  if ((flags & MREMAP_FIXED) != 0) {
    va_list rest;
    va_start(rest, flags);
    target = va_arg(rest, void*);
    va_end(rest);
  }
  if (failAllocation()) {
    errno = ENOMEM;
    return MAP_FAILED;
  }
  const long moved = syscall(SYS_mremap, old, oldLength, newLength, flags, target);
  if (moved < 0 && moved > -4096) {
    errno = static_cast<int>(-moved);
    return MAP_FAILED;
  }
  return reinterpret_cast<void*>(moved);
}

ssize_t read(int descriptor, void* buffer, std::size_t count) {
  if (descriptor == STDIN_FILENO && failRead()) {
    errno = plan().error;
    return -1;
  }
  return syscall(SYS_read, descriptor, buffer, count);
}

ssize_t write(int descriptor, const void* buffer, std::size_t count) {
  if ((descriptor == STDOUT_FILENO || descriptor == STDERR_FILENO) && failWrite()) {
    errno = plan().error;
    return -1;
  }
  return syscall(SYS_write, descriptor, buffer, count);
}

}  // extern "C"
