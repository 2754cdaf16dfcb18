// The trace's two formats: an indented line an event for a terminal, or one
// JSON object a line (--json). Records in, text out; the writer decides
// nothing about which events are written.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "explain.h"
#include "trace_records.h"

namespace trace {

class Writer {
 public:
  bool json = false;

  // One evaluation event, its places looked up in `places`.
  void event(const Event& e, const Places& places);
  // What the program wrote since the last event, as an event of its own;
  // nothing when it wrote nothing.
  void output(std::string_view text);
  // A sentence of the explainer's.
  void sentence(const Said& said, const Places& places);
  void skipped(std::size_t count);
  void error(std::string_view line);
  void end(int status);

  // Writes out what is buffered: all of it, or only once a block is full.
  void flush(bool all);

 private:
  void line(std::string_view event, std::uint32_t depth, const std::string& members, const std::string& readable);

  std::string out_;  // the trace's own text, written in blocks
};

}  // namespace trace
