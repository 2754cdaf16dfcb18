// The system seam under the conditions a run rarely meets but must survive:
// blocks that cannot be had or must move, streams that say "try again" or are
// interrupted by a signal, input that belongs to whoever reads the file next.
// Standard input and output are pointed at pipes and files for each test and
// put back afterwards (the suite's own output goes to descriptor 1 too).
#include "platform.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <pthread.h>
#include <sys/time.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

namespace {

using namespace std::chrono_literals;

TEST(Blocks, BlocksAreZeroedAndUsableToTheirLastByte) {
  // Huge pages where the system has them, for blocks large enough to use them.
  for (const std::size_t size : {std::size_t{64} << 10, std::size_t{6} << 20}) {
    for (const bool hugePages : {false, true}) {
      auto* block = static_cast<unsigned char*>(platform::newBlock(size, hugePages));
      ASSERT_NE(block, nullptr);
      EXPECT_EQ(block[0], 0);
      EXPECT_EQ(block[size - 1], 0);
      block[0] = 1;
      block[size - 1] = 2;
      platform::releaseBlock(block, size);
    }
  }
}

TEST(Blocks, GrowingKeepsWhatWasUsedAndStartsFromNothing) {
  constexpr std::size_t small = std::size_t{64} << 10;
  auto* block = static_cast<unsigned char*>(platform::growBlock(nullptr, 0, 0, small));
  ASSERT_NE(block, nullptr);
  for (std::size_t i = 0; i < small; ++i) block[i] = static_cast<unsigned char>(i * 7);
  auto* grown = static_cast<unsigned char*>(platform::growBlock(block, small, small, 4 * small));
  ASSERT_NE(grown, nullptr);
  for (std::size_t i = 0; i < small; ++i) ASSERT_EQ(grown[i], static_cast<unsigned char>(i * 7)) << i;
  grown[4 * small - 1] = 1;
  platform::releaseBlock(grown, 4 * small);
}

TEST(Blocks, AGrowthThatCannotBeHadLeavesTheBlockAsItWas) {
  // More than any address space holds: the caller must still have its block,
  // to report the failure with.
  constexpr std::size_t small = std::size_t{64} << 10;
  constexpr std::size_t impossible = std::size_t{1} << (sizeof(std::size_t) * 8 - 2);
  auto* block = static_cast<unsigned char*>(platform::newBlock(small, false));
  ASSERT_NE(block, nullptr);
  block[small - 1] = 42;
  EXPECT_EQ(platform::growBlock(block, small, small, impossible), nullptr);
  EXPECT_EQ(block[small - 1], 42);
  EXPECT_EQ(platform::growBlock(nullptr, 0, 0, impossible), nullptr);
  platform::releaseBlock(block, small);
}

// Points descriptor `stream` at `target` for the life of the object.
class Redirected {
 public:
  Redirected(int stream, int target) : stream_(stream), saved_(dup(stream)) {
    static_cast<void>(std::fflush(nullptr));
    dup2(target, stream_);
    std::clearerr(stdin);
  }
  ~Redirected() {
    static_cast<void>(std::fflush(nullptr));
    dup2(saved_, stream_);
    close(saved_);
    std::clearerr(stdin);
  }
  Redirected(const Redirected&) = delete;
  Redirected& operator=(const Redirected&) = delete;

 private:
  int stream_;
  int saved_;
};

struct Pipe {
  int ends[2] = {-1, -1};
  Pipe() {
    if (pipe(ends) != 0) std::abort();
  }
  ~Pipe() {
    closeReadEnd();
    closeWriteEnd();
  }
  Pipe(const Pipe&) = delete;
  Pipe& operator=(const Pipe&) = delete;
  int readEnd() const { return ends[0]; }
  int writeEnd() const { return ends[1]; }
  void closeReadEnd() { closeEnd(0); }
  void closeWriteEnd() { closeEnd(1); }

 private:
  void closeEnd(int which) {
    if (ends[which] >= 0) close(ends[which]);
    ends[which] = -1;
  }
};

void setNonBlocking(int stream) { fcntl(stream, F_SETFL, fcntl(stream, F_GETFL) | O_NONBLOCK); }

void writeAll(int stream, const std::string& text) {
  for (std::size_t done = 0; done < text.size();) {
    const ssize_t count = write(stream, text.data() + done, text.size() - done);
    if (count <= 0) std::abort();
    done += static_cast<std::size_t>(count);
  }
}

std::string readAll(int stream) {
  std::string text;
  char block[4096];
  for (;;) {
    const ssize_t count = read(stream, block, sizeof block);
    if (count <= 0) return text;
    text.append(block, static_cast<std::size_t>(count));
  }
}

// Reads standard input until it ends, as the reader does.
std::string readInputToEnd() {
  std::string text;
  unsigned char block[256];
  for (;;) {
    const std::ptrdiff_t count = platform::readInput(block, sizeof block);
    if (count < 0) return text + "<failed>";
    if (count == 0) return text;
    text.append(reinterpret_cast<const char*>(block), static_cast<std::size_t>(count));
  }
}

// A signal that interrupts whatever call is waiting when it arrives, every
// 20 ms while the object lives (no SA_RESTART: the call returns EINTR). The
// system may hand it to any thread that does not block it, so the tests'
// helper threads block it: the call under test is the one it interrupts.
class Interruptions {
 public:
  Interruptions() {
    struct sigaction action {};
    action.sa_handler = [](int) {};
    sigemptyset(&action.sa_mask);
    sigaction(SIGALRM, &action, &saved_);
    const itimerval every{{0, 20000}, {0, 20000}};
    setitimer(ITIMER_REAL, &every, nullptr);
  }
  ~Interruptions() {
    const itimerval never{};
    setitimer(ITIMER_REAL, &never, nullptr);
    sigaction(SIGALRM, &saved_, nullptr);
  }
  Interruptions(const Interruptions&) = delete;
  Interruptions& operator=(const Interruptions&) = delete;

 private:
  struct sigaction saved_ {};
};

void leaveInterruptionsToTheTestedThread() {
  sigset_t alarm{};
  sigemptyset(&alarm);
  sigaddset(&alarm, SIGALRM);
  pthread_sigmask(SIG_BLOCK, &alarm, nullptr);
}

TEST(Input, NothingYetOnANonBlockingStreamIsWaitedOut) {
  Pipe pipe;
  setNonBlocking(pipe.readEnd());
  const Redirected input(STDIN_FILENO, pipe.readEnd());
  std::thread writer([&] {
    std::this_thread::sleep_for(100ms);
    writeAll(pipe.writeEnd(), "(+ 1 2)\n");
    pipe.closeWriteEnd();
  });
  EXPECT_EQ(readInputToEnd(), "(+ 1 2)\n");
  writer.join();
}

TEST(Input, ASignalWhileWaitingIsNotAFailure) {
  for (const bool nonBlocking : {false, true}) {
    Pipe pipe;
    if (nonBlocking) setNonBlocking(pipe.readEnd());
    const Redirected input(STDIN_FILENO, pipe.readEnd());
    std::string text;
    {
      const Interruptions signals;
      std::thread writer([&] {
        leaveInterruptionsToTheTestedThread();
        std::this_thread::sleep_for(150ms);
        writeAll(pipe.writeEnd(), "late\n");
        pipe.closeWriteEnd();
      });
      text = readInputToEnd();
      writer.join();
    }
    EXPECT_EQ(text, "late\n") << (nonBlocking ? "non-blocking" : "blocking");
  }
}

TEST(Input, AStreamThatCannotBeReadFails) {
  Pipe pipe;
  // Standard input open for writing only: every read fails.
  const Redirected input(STDIN_FILENO, pipe.writeEnd());
  unsigned char block[16];
  EXPECT_EQ(platform::readInput(block, sizeof block), -1);
}

TEST(Input, UnreadBytesOfAFileAreGivenBack) {
  char name[] = "/tmp/vellumark-platform-XXXXXX";
  const int file = mkstemp(name);
  ASSERT_GE(file, 0);
  unlink(name);
  writeAll(file, "(car x) rest\n");
  lseek(file, 0, SEEK_SET);
  {
    const Redirected input(STDIN_FILENO, file);
    unsigned char block[64];
    ASSERT_EQ(platform::readInput(block, sizeof block), 13);
    // The program ended after 7 bytes; the other 6 are the next reader's.
    platform::giveBackInput(6);
    platform::giveBackInput(0);
    EXPECT_EQ(readInputToEnd(), " rest\n");
  }
  close(file);
}

TEST(Input, NothingIsGivenBackToAPipeOrAClosedStream) {
  Pipe pipe;
  writeAll(pipe.writeEnd(), "abc");
  pipe.closeWriteEnd();
  const Redirected input(STDIN_FILENO, pipe.readEnd());
  unsigned char block[2];
  ASSERT_EQ(platform::readInput(block, sizeof block), 2);
  platform::giveBackInput(2);
  EXPECT_EQ(readInputToEnd(), "c");
  const int saved = dup(STDIN_FILENO);
  close(STDIN_FILENO);
  platform::giveBackInput(2);
  dup2(saved, STDIN_FILENO);
  close(saved);
}

TEST(Output, AFullStreamIsWaitedOutThroughSignals) {
  platform::prepareStreams();
  // Far more than a pipe holds, to a reader that starts late.
  const std::string text(std::size_t{1} << 20, 'x');
  struct Way {
    bool nonBlocking;
    bool interrupted;
  };
  for (const Way way : {Way{true, false}, Way{true, true}, Way{false, true}}) {
    Pipe pipe;
    if (way.nonBlocking) setNonBlocking(pipe.writeEnd());
    std::string received;
    std::thread reader([&] {
      leaveInterruptionsToTheTestedThread();
      std::this_thread::sleep_for(100ms);
      received = readAll(pipe.readEnd());
    });
    bool written = false;
    {
      const Redirected output(STDOUT_FILENO, pipe.writeEnd());
      if (way.interrupted) {
        const Interruptions signals;
        written = platform::writeOutput(text.data(), text.size());
      } else {
        written = platform::writeOutput(text.data(), text.size());
      }
    }
    pipe.closeWriteEnd();
    reader.join();
    EXPECT_TRUE(written) << way.nonBlocking << way.interrupted;
    EXPECT_EQ(received, text) << way.nonBlocking << way.interrupted;
  }
}

TEST(Output, AStreamWithNoReaderFails) {
  platform::prepareStreams();  // a write to a pipe without a reader must not end the process
  Pipe pipe;
  pipe.closeReadEnd();
  const Redirected output(STDOUT_FILENO, pipe.writeEnd());
  EXPECT_FALSE(platform::writeOutput("lost", 4));
}

}  // namespace
