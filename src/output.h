// Writing printed forms straight into a stream's buffer. Values are written a
// few characters at a time, millions of times for a long list, and the
// formatted-output machinery (a sentry per call) would cost more than the
// characters themselves. A failed write marks the stream bad, as a formatted
// write would.
#pragma once

#include <ostream>
#include <streambuf>
#include <string_view>

inline void put(std::ostream& os, char c) {
  if (std::ostream::traits_type::eq_int_type(os.rdbuf()->sputc(c), std::ostream::traits_type::eof())) {
    os.setstate(std::ios_base::badbit);
  }
}

inline void write(std::ostream& os, std::string_view text) {
  const auto size = static_cast<std::streamsize>(text.size());
  if (os.rdbuf()->sputn(text.data(), size) != size) os.setstate(std::ios_base::badbit);
}
