#include "output.h"

#include <cstring>

#include "platform.h"

namespace {

// Standard output with a buffer large enough that a long printed list leaves
// in a few system calls. A write that fails makes every later flush fail too,
// so the stream goes bad and the run's status says so.
class StandardOutput final : public std::streambuf {
 public:
  StandardOutput() { setp(buffer_, buffer_ + sizeof buffer_); }

 protected:
  int_type overflow(int_type c) override {
    if (!drain()) return traits_type::eof();
    if (!traits_type::eq_int_type(c, traits_type::eof())) {
      *pptr() = traits_type::to_char_type(c);
      pbump(1);
    }
    return traits_type::not_eof(c);
  }

  std::streamsize xsputn(const char* text, std::streamsize count) override {
    if (count > epptr() - pptr() && !drain()) return 0;
    if (count > epptr() - pptr()) return send(text, static_cast<std::size_t>(count)) ? count : 0;
    std::memcpy(pptr(), text, static_cast<std::size_t>(count));
    pbump(static_cast<int>(count));
    return count;
  }

  int sync() override { return drain() ? 0 : -1; }

 private:
  bool drain() {
    const bool sent = send(pbase(), static_cast<std::size_t>(pptr() - pbase()));
    setp(buffer_, buffer_ + sizeof buffer_);
    return sent;
  }

  bool send(const char* text, std::size_t count) {
    if (!failed_ && !platform::writeOutput(text, count)) failed_ = true;
    return !failed_;
  }

  bool failed_ = false;
  char buffer_[std::size_t{1} << 20];
};

}  // namespace

void useLargeOutputBuffer() {
  platform::prepareStreams();
  // Never freed: the standard streams flush at exit, after every destructor
  // that could otherwise have run first.
  std::cout.rdbuf(new StandardOutput());
}
