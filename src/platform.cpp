// The two ways of meeting platform.h, chosen by the VELLUMARK_HAVE_* macros
// that CMakeLists.txt defines from its feature checks. Each section says what
// it needs; where a macro is missing, the standard library's way is taken.
#include "platform.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#if VELLUMARK_HAVE_MMAP
#include <sys/mman.h>

#include <cstdint>
#endif

#if VELLUMARK_HAVE_POSIX_IO
#include <unistd.h>

#include <cerrno>
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
    if (hugePageSize - skip != 0) munmap(block + skip + size, hugePageSize - skip);
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
  _setmode(_fileno(stdin), _O_BINARY);
  _setmode(_fileno(stdout), _O_BINARY);
#endif
}

#if VELLUMARK_HAVE_POSIX_IO

std::ptrdiff_t readInput(unsigned char* buffer, std::size_t size) {
  for (;;) {
    // read() rather than a buffered stream: it returns what has arrived.
    const ssize_t count = ::read(STDIN_FILENO, buffer, size);
    if (count >= 0) return count;
    if (errno != EINTR) return -1;
  }
}

bool writeOutput(const char* text, std::size_t size) {
  while (size > 0) {
    const ssize_t written = ::write(STDOUT_FILENO, text, size);
    if (written > 0) {
      text += written;
      size -= static_cast<std::size_t>(written);
    } else if (written == 0 || errno != EINTR) {
      return false;
    }
  }
  return true;
}

#else

std::ptrdiff_t readInput(unsigned char* buffer, std::size_t size) {
  // A line at a time, so that a line typed at a terminal is answered without
  // waiting for a whole block.
  std::size_t count = 0;
  while (count < size) {
    const int c = std::getc(stdin);
    if (c == EOF) break;
    buffer[count++] = static_cast<unsigned char>(c);
    if (c == '\n') break;
  }
  if (count == 0 && std::ferror(stdin) != 0) return -1;
  return static_cast<std::ptrdiff_t>(count);
}

bool writeOutput(const char* text, std::size_t size) {
  // Flushed at once: the caller buffers, and decides when output must leave.
  return std::fwrite(text, 1, size, stdout) == size && std::fflush(stdout) == 0;
}

#endif

}  // namespace platform
