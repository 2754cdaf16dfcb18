// The two ways of meeting platform.h, chosen by the VELLUMARK_HAVE_* macros
// that CMakeLists.txt defines from its feature checks. Each section says what
// it needs; where a macro is missing, the standard library's way is taken.
#include "platform.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#if VELLUMARK_HAVE_MMAP
#include <sys/mman.h>

#include <cstdint>
#endif

#if VELLUMARK_HAVE_POSIX_IO
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>
#else
#include <chrono>
#include <thread>
#endif

#if VELLUMARK_HAVE_SETMODE
#include <fcntl.h>
#include <io.h>
#endif

namespace platform {

// Memory.

#if VELLUMARK_HAVE_MMAP

namespace {

#if VELLUMARK_HAVE_MADV_HUGEPAGE
constexpr std::size_t hugePageSize = std::size_t{2} << 20;
#endif

void* map(std::size_t size) {
  void* mapped = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  return mapped == MAP_FAILED ? nullptr : mapped;
}

}  // namespace

void* newBlock(std::size_t size, bool hugePages) {
#if VELLUMARK_HAVE_MADV_HUGEPAGE
  // A huge page must start at a huge-page boundary, so the block is mapped
  // with a huge page to spare and the ends outside the boundaries given back.
  if (hugePages && size >= hugePageSize) {
    auto* block = static_cast<char*>(map(size + hugePageSize));
    if (block == nullptr) return nullptr;
    const auto address = reinterpret_cast<std::uintptr_t>(block);
    const std::size_t skip = (hugePageSize - address % hugePageSize) % hugePageSize;
    if (skip != 0) munmap(block, skip);
    munmap(block + skip + size, hugePageSize - skip);
    block += skip;
    madvise(block, size, MADV_HUGEPAGE);
    return block;
  }
#else
  static_cast<void>(hugePages);
#endif
  return map(size);
}

void* growBlock(void* block, std::size_t oldBytes, std::size_t usedBytes, std::size_t bytes) {
#if VELLUMARK_HAVE_MADV_HUGEPAGE
  // A block that outgrows small pages moves to huge ones, as the arena's
  // blocks do: a small page fault costs about as much as clearing a huge
  // page, and copying what the small pages hold costs less than either.
  if (block != nullptr && oldBytes < hugePageSize && bytes >= hugePageSize) {
    void* grown = newBlock(bytes, true);
    if (grown == nullptr) return nullptr;
    std::memcpy(grown, block, usedBytes);
    munmap(block, oldBytes);
    return grown;
  }
#endif
#if VELLUMARK_HAVE_MREMAP
  // Moving a mapping costs neither a copy nor touching the old pages again.
  if (block != nullptr) {
    void* grown = mremap(block, oldBytes, bytes, MREMAP_MAYMOVE);
    if (grown != MAP_FAILED) return grown;
  }
#endif
  void* grown = map(bytes);
  if (grown == nullptr) return nullptr;
  if (block != nullptr) {
    std::memcpy(grown, block, usedBytes);
    munmap(block, oldBytes);
  }
  return grown;
}

void releaseBlock(void* block, std::size_t bytes) {
  if (block != nullptr) munmap(block, bytes);
}

#else

// Zeroed, as a fresh mapping is: nothing may tell the two ways apart.
void* newBlock(std::size_t size, bool /*hugePages*/) { return std::calloc(size, 1); }

void* growBlock(void* block, std::size_t /*oldBytes*/, std::size_t /*usedBytes*/, std::size_t bytes) {
  return std::realloc(block, bytes);
}

void releaseBlock(void* block, std::size_t /*bytes*/) { std::free(block); }

#endif

// Standard input and output.

void prepareStreams() {
#if VELLUMARK_HAVE_SETMODE
  // In text mode a carriage return before a line feed would vanish on input
  // and one would be added before every line feed written: a program's bytes
  // and the output's line ends must be the same on every system.
  static_cast<void>(_setmode(_fileno(stdin), _O_BINARY));
  static_cast<void>(_setmode(_fileno(stdout), _O_BINARY));
#endif
  // A reader that has gone away or a full file is a failed write like any
  // other, which the run's status reports; by default either signal would end
  // the process before it could say so. Should ignoring fail, nothing better
  // is left than to run on.
#ifdef SIGPIPE
  static_cast<void>(std::signal(SIGPIPE, SIG_IGN));
#endif
#ifdef SIGXFSZ
  static_cast<void>(std::signal(SIGXFSZ, SIG_IGN));
#endif
#if !VELLUMARK_HAVE_POSIX_IO
  // The caller buffers a whole block and says when it must leave; a second
  // buffer would only hide how much of a failed write got through. (Where
  // this fails, a flush after each block still sends it.)
  static_cast<void>(std::setvbuf(stdout, nullptr, _IONBF, 0));
#endif
}

namespace {

// A stream set not to block says "try again" when it has nothing to give or no
// room to take; that is a wait, not a failure.
bool notReady(int error) { return error == EAGAIN || error == EWOULDBLOCK; }

}  // namespace

#if VELLUMARK_HAVE_POSIX_IO

namespace {

// Waits until `stream` is ready for `events`; false when waiting failed.
bool waitFor(int stream, short events) {
  pollfd watched{stream, events, 0};
  for (;;) {
    if (poll(&watched, 1, -1) >= 0) return true;
    if (errno != EINTR) return false;
  }
}

}  // namespace

std::ptrdiff_t readInput(unsigned char* buffer, std::size_t size) {
  for (;;) {
    // read() rather than a buffered stream: it returns what has arrived.
    const ssize_t count = ::read(STDIN_FILENO, buffer, size);
    if (count >= 0) return count;
    if (errno == EINTR) continue;
    if (!notReady(errno) || !waitFor(STDIN_FILENO, POLLIN)) return -1;
  }
}

bool writeOutput(const char* text, std::size_t size) {
  while (size > 0) {
    const ssize_t written = ::write(STDOUT_FILENO, text, size);
    if (written > 0) {
      text += written;
      size -= static_cast<std::size_t>(written);
    } else if (written == 0 || (errno != EINTR && (!notReady(errno) || !waitFor(STDOUT_FILENO, POLLOUT)))) {
      return false;
    }
  }
  return true;
}

void giveBackInput(std::size_t count) {
  struct stat status {};
  if (count == 0 || fstat(STDIN_FILENO, &status) != 0 || !S_ISREG(status.st_mode)) return;
  static_cast<void>(lseek(STDIN_FILENO, -static_cast<off_t>(count), SEEK_CUR));
}

#else

namespace {

// Without poll, a stream that is not ready is tried again a little later.
bool retry() {
  if (errno != EINTR && !notReady(errno)) return false;
  std::this_thread::sleep_for(std::chrono::milliseconds(1));
  return true;
}

}  // namespace

std::ptrdiff_t readInput(unsigned char* buffer, std::size_t size) {
  // A line at a time, so that a line typed at a terminal is answered without
  // waiting for a whole block.
  std::size_t count = 0;
  while (count < size) {
    const int c = std::getc(stdin);
    if (c == EOF) {
      if (count == 0 && std::ferror(stdin) != 0) {
        if (!retry()) return -1;
        std::clearerr(stdin);
        continue;
      }
      break;
    }
    buffer[count++] = static_cast<unsigned char>(c);
    if (c == '\n') break;
  }
  return static_cast<std::ptrdiff_t>(count);
}

bool writeOutput(const char* text, std::size_t size) {
  // Standard output is unbuffered here (see prepareStreams), so what fwrite
  // says it wrote has left, and the rest can be tried again.
  while (size > 0) {
    const std::size_t written = std::fwrite(text, 1, size, stdout);
    text += written;
    size -= written;
    if (size == 0) break;
    if (!retry()) return false;
    std::clearerr(stdout);
  }
  return std::fflush(stdout) == 0;
}

void giveBackInput(std::size_t count) {
  // Also when `count` is 0: the C library read ahead, and seeking puts the
  // file's position where this run's reading really ended. Where standard
  // input cannot seek (a pipe, a terminal) this fails and changes nothing.
  static_cast<void>(std::fseek(stdin, -static_cast<long>(count), SEEK_CUR));
}

#endif

}  // namespace platform
