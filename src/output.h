// Writing printed forms straight into a stream's buffer. Values are written a
// few characters at a time, millions of times for a long list, and the
// formatted-output machinery (a sentry per call) would cost more than the
// characters themselves. A failed write marks the stream bad, as a formatted
// write would.
#pragma once

#include <iostream>
#include <streambuf>
#include <string_view>

// Gives std::cout a large buffer of its own, written straight to standard
// output. Called once, before anything is written.
void useLargeOutputBuffer();

inline void put(std::ostream& os, char c) {
  using traits = std::ostream::traits_type;
  if (traits::eq_int_type(os.rdbuf()->sputc(c), traits::eof())) os.setstate(std::ios_base::badbit);
}

inline void write(std::ostream& os, std::string_view text) {
  // Most atoms are a few characters long, and the buffer's inline put costs
  // less for those than a call to its block write.
  if (text.size() <= 4) {
    for (const char c : text) put(os, c);
    return;
  }
  const auto size = static_cast<std::streamsize>(text.size());
  if (os.rdbuf()->sputn(text.data(), size) != size) os.setstate(std::ios_base::badbit);
}
