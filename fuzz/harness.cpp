// The in-process fuzzing harness (libFuzzer): each input is one program, run
// by the interpreter inside this process, which is then put back into its
// starting state for the next. A run ends where the interpreter would end the
// process: the build's VELLUMARK_IN_PROCESS makes finish() throw RunEnded
// instead of calling exit().
//
// A reset that forgot something (a binding, a frame, a name's number) would
// make a run depend on the runs before it, which no fresh process shows. So
// a sample of the inputs, and every input when VELLUMARK_COMPARE_ALL is set,
// is also run by a new process of this same program, started with
// VELLUMARK_FRESH_RUN set, in which the interpreter runs that one program as
// the vellumark program does; the two outputs and statuses must be the same
// byte for byte. Any difference aborts, and libFuzzer saves the input.
//
// Built with the trace's hooks on (VELLUMARK_TRACE: vellumark_trace_fuzzer),
// the harness checks the trace's promise instead: each program runs once
// untraced and once traced (--json), and the trace's "output" events joined
// must be what the untraced run wrote, its last event "end" with the same
// status.
#include <fcntl.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "fail.h"
#include "output.h"
#include "run.h"
#include "trace.h"

namespace {

// One input in this many is also run by a fresh process.
constexpr std::uint64_t sampleEvery = 4096;

// Standard input is a file in memory that holds each program in turn, and
// standard output goes to /dev/null unless a run is compared: system calls
// are most of what a short run costs.
int devNull = -1;
bool compareAll = false;

[[noreturn]] void broken(const char* what) {
  std::perror(what);
  std::abort();
}

// Makes `file` hold `data` alone, to be read from its start.
void fill(int file, const std::uint8_t* data, std::size_t size) {
  if (ftruncate(file, static_cast<off_t>(size)) != 0) broken("ftruncate");
  for (std::size_t done = 0; done < size;) {
    const ssize_t written = pwrite(file, data + done, size - done, static_cast<off_t>(done));
    if (written <= 0) broken("pwrite");
    done += static_cast<std::size_t>(written);
  }
  if (lseek(file, 0, SEEK_SET) != 0) broken("lseek");
}

// A new file in memory holding `data`.
int fileOf(const std::uint8_t* data, std::size_t size) {
  const int file = memfd_create("vellumark", 0);
  if (file < 0) broken("memfd_create");
  fill(file, data, size);
  return file;
}

std::string contentsOf(int file) {
  std::string text;
  if (lseek(file, 0, SEEK_SET) != 0) broken("lseek");
  char block[4096];
  for (;;) {
    const ssize_t got = read(file, block, sizeof block);
    if (got < 0) broken("read");
    if (got == 0) return text;
    text.append(block, static_cast<std::size_t>(got));
  }
}

// Runs the program in `data` in this process, with standard output going to
// `out` (-1: where it goes now); returns its status.
int runHere(const std::uint8_t* data, std::size_t size, int out) {
  fill(STDIN_FILENO, data, size);
  if (out >= 0 && dup2(out, STDOUT_FILENO) < 0) broken("dup2");
  int status = 0;
  try {
    runOnce();
  } catch (const RunEnded& ended) {
    status = ended.status;
  }
  resetForNextRun();
  return status;
}

// Runs the program in `data` in a new process of the interpreter, with
// standard output going to `out`; returns its status.
int runFresh(const std::uint8_t* data, std::size_t size, int out) {
  const int in = fileOf(data, size);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in, STDIN_FILENO);
  posix_spawn_file_actions_adddup2(&actions, out, STDOUT_FILENO);
  std::string path = "/proc/self/exe";
  std::string setting = "VELLUMARK_FRESH_RUN=1";
  char* arguments[] = {path.data(), nullptr};
  // This process's environment (the sanitizers' options), and the setting.
  std::vector<char*> environment{setting.data()};
  for (char** variable = environ; *variable != nullptr; ++variable) environment.push_back(*variable);
  environment.push_back(nullptr);
  pid_t child = 0;
  if (posix_spawn(&child, path.c_str(), &actions, nullptr, arguments, environment.data()) != 0) broken("posix_spawn");
  posix_spawn_file_actions_destroy(&actions);
  close(in);
  int status = 0;
  // libFuzzer's timer for slow inputs interrupts the wait.
  while (waitpid(child, &status, 0) != child) {
    if (errno != EINTR) broken("waitpid");
  }
  if (!WIFEXITED(status)) {
    (void)std::fprintf(stderr, "the fresh process ended with wait status %d\n", status);
    std::abort();
  }
  return WEXITSTATUS(status);
}

std::uint64_t hashOf(const std::uint8_t* data, std::size_t size) {
  std::uint64_t hash = 14695981039346656037ULL;
  for (std::size_t i = 0; i < size; ++i) hash = (hash ^ data[i]) * 1099511628211ULL;
  return hash;
}

// Whether `out` ends at the work limit; if so, the line is taken off.
bool stoppedAtLimit(std::string& out) {
  static const std::string limit = "Error: work limit of this fuzzing build reached.\n";
  if (out.size() < limit.size() || out.compare(out.size() - limit.size(), limit.size(), limit) != 0) return false;
  out.resize(out.size() - limit.size());
  return true;
}

// Runs that agree. The work limit counts allocations too, and a process that
// has run before reuses memory a fresh one must still take, so the two may
// stop at different steps: then what the one that stopped first wrote must
// begin what the other wrote.
bool agree(int hereStatus, std::string hereOut, int freshStatus, std::string freshOut) {
  const bool hereStopped = stoppedAtLimit(hereOut);
  const bool freshStopped = stoppedAtLimit(freshOut);
  if (!hereStopped && !freshStopped) return hereStatus == freshStatus && hereOut == freshOut;
  const std::string& shorter = hereOut.size() <= freshOut.size() ? hereOut : freshOut;
  const std::string& longer = hereOut.size() <= freshOut.size() ? freshOut : hereOut;
  return longer.compare(0, shorter.size(), shorter) == 0;
}

void compareWithFresh(const std::uint8_t* data, std::size_t size) {
  const int here = memfd_create("here", 0);
  const int fresh = memfd_create("fresh", 0);
  if (here < 0 || fresh < 0) broken("memfd_create");
  const int hereStatus = runHere(data, size, here);
  if (dup2(devNull, STDOUT_FILENO) < 0) broken("dup2");
  const int freshStatus = runFresh(data, size, fresh);
  const std::string hereOut = contentsOf(here);
  const std::string freshOut = contentsOf(fresh);
  close(here);
  close(fresh);
  if (agree(hereStatus, hereOut, freshStatus, freshOut)) return;
  (void)std::fprintf(
      stderr, "in-process run and fresh process differ\n-- in process, status %d:\n%s\n-- fresh, status %d:\n%s\n",
      hereStatus, hereOut.c_str(), freshStatus, freshOut.c_str());
  std::abort();
}

#ifdef VELLUMARK_TRACE

// The bytes of a JSON string's text as the trace writes it (trace_text.cpp):
// escapes, and code points U+0080-U+00FF for the bytes above 127; the text
// runs to the closing quote, which the returned position is just past.
std::size_t unquote(const std::string& json, std::size_t at, std::string& text) {
  while (at < json.size() && json[at] != '"') {
    const auto c = static_cast<unsigned char>(json[at++]);
    if (c == '\\') {
      const char escaped = json.at(at++);
      if (escaped == 'n') {
        text += '\n';
      } else if (escaped == 'u') {
        text += static_cast<char>(std::stoi(json.substr(at, 4), nullptr, 16));
        at += 4;
      } else {
        text += escaped;
      }
    } else if (c >= 0xc0) {
      text += static_cast<char>(((c & 0x1fU) << 6U) | (static_cast<unsigned char>(json.at(at++)) & 0x3fU));
    } else {
      text += static_cast<char>(c);
    }
  }
  return at + 1;
}

void checkTrace(const std::uint8_t* data, std::size_t size) {
  const int plain = memfd_create("plain", 0);
  const int traced = memfd_create("traced", 0);
  if (plain < 0 || traced < 0) broken("memfd_create");
  const int plainStatus = runHere(data, size, plain);
  std::string name = "vellumark-trace";
  std::string json = "--json";
  char* arguments[] = {name.data(), json.data(), nullptr};
  trace::start(2, arguments);
  const int tracedStatus = runHere(data, size, traced);
  trace::reset();
  if (dup2(devNull, STDOUT_FILENO) < 0) broken("dup2");
  const std::string expected = contentsOf(plain);
  const std::string trace = contentsOf(traced);
  close(plain);
  close(traced);
  static const std::string output = "{\"event\":\"output\",\"text\":\"";
  std::string joined;
  std::string last;
  for (std::size_t at = 0; at < trace.size();) {
    std::size_t end = trace.find('\n', at);
    if (end == std::string::npos) end = trace.size();
    last = trace.substr(at, end - at);
    if (last.starts_with(output)) unquote(trace, at + output.size(), joined);
    at = end + 1;
  }
  const std::string ending = "{\"event\":\"end\",\"status\":" + std::to_string(tracedStatus) + "}";
  if (last == ending && agree(plainStatus, expected, tracedStatus, joined)) return;
  (void)std::fprintf(stderr,
                     "the trace's output events differ from the run's output, or it does not end\n"
                     "-- untraced, status %d:\n%s\n-- traced, status %d, output events:\n%s\n-- last event: %s\n",
                     plainStatus, expected.c_str(), tracedStatus, joined.c_str(), last.c_str());
  std::abort();
}

#endif

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
  useLargeOutputBuffer();
  if (std::getenv("VELLUMARK_FRESH_RUN") != nullptr) {
    // The fresh process: what src/main.cpp does, and nothing else.
    try {
      runOnce();
    } catch (const RunEnded& ended) {
      std::exit(ended.status);
    }
  }
  resetForNextRun();
  const int in = memfd_create("program", 0);
  devNull = open("/dev/null", O_WRONLY | O_CLOEXEC);
  if (in < 0 || devNull < 0 || dup2(in, STDIN_FILENO) < 0 || dup2(devNull, STDOUT_FILENO) < 0) broken("setup");
  close(in);
  compareAll = std::getenv("VELLUMARK_COMPARE_ALL") != nullptr;
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
#ifdef VELLUMARK_TRACE
  checkTrace(data, size);
  return 0;
#endif
  if (compareAll || hashOf(data, size) % sampleEvery == 0) {
    compareWithFresh(data, size);
  } else {
    runHere(data, size, -1);
  }
  return 0;
}
