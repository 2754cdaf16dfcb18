// Everything the interpreter asks of the operating system, in one place:
// large blocks of memory, a block that grows, and standard input and output a
// block at a time. Each request has two ways to be met, chosen when the build
// is configured by what the system offers (CMakeLists.txt checks for each call,
// never for the name of a system):
//   - mapped memory (mmap, with mremap to grow in place and madvise for huge
//     pages where they exist) and unistd reads and writes, with poll to wait
//     on a stream that is not ready;
//   - the portable fallback, the C++ standard library alone (plus binary mode
//     for the standard streams where the C library has text mode, as on
//     Windows), which every C++20 system has. VELLUMARK_PORTABLE=ON forces it.
// Both behave alike at the edges the README's table of errors lists: a failed
// read is an error, a failed write ends the run with status 1, and neither a
// closed pipe nor a file-size limit ends it by a signal.
#pragma once

#include <cstddef>

namespace platform {

// A block of `size` bytes that lives until the process ends, aligned for a
// pointer; with `hugePages`, placed and advised so that the system can back it
// with huge pages where it has them. Null when no memory can be had.
void* newBlock(std::size_t size, bool hugePages);

// A block of `bytes` bytes, to be given back with releaseBlock: where `block`
// is null, a new one; otherwise `block` (of `oldBytes` bytes) grown, its first
// `usedBytes` bytes kept, moved where it cannot grow in place. Null when no
// memory can be had, and then `block` is left as it was.
void* growBlock(void* block, std::size_t oldBytes, std::size_t usedBytes, std::size_t bytes);
void releaseBlock(void* block, std::size_t bytes);

// Sets up the standard streams before anything is read or written: binary
// mode where the system has a text mode, and writes that fail report an error
// instead of ending the process by a signal (SIGPIPE, SIGXFSZ).
void prepareStreams();

// Reads at most `size` bytes of standard input into `buffer` and returns how
// many were read: 0 at the end of the input, -1 when reading failed. Returns
// as soon as some input has arrived (a line typed at a terminal), and waits
// when none has yet, also on a stream that was set not to block.
std::ptrdiff_t readInput(unsigned char* buffer, std::size_t size);

// Writes all of `text` to standard output, waiting as long as the stream is
// not ready; false when any of it could not be written.
bool writeOutput(const char* text, std::size_t size);

// Gives back the last `count` bytes read from standard input, unread, when it
// is a file that can be repositioned: the next reader of the same open file
// (`{ vellumark; cat; } < file`) then starts right after what was used.
void giveBackInput(std::size_t count);

}  // namespace platform
