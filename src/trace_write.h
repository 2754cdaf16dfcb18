// The trace's two formats: an indented line an event for a terminal, or one
// JSON object a line (--json). Records in, text out; the writer decides
// nothing about which events are written.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "explain.h"
#include "trace_records.h"
#include "trace_text.h"

class Item;

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
  // The binding stack and the forms waiting after a gap: the newest of each
  // known, newest first, and how many there are in all.
  void snapshot(const std::vector<const Event*>& bindings, std::size_t bindingCount,
                const std::vector<const Event*>& waiting, std::size_t waitingCount, const Places& places);
  void error(std::string_view line);
  void end(int status);

  // Writes out what is buffered: all of it, or only once a block is full.
  // Every write goes through platform::writeOutput, as the interpreter's own
  // output does; once one fails, nothing more is written.
  void flush(bool all);
  bool failed() const { return failed_; }

  // Takes the room for the trace's text up front, so that writing a line
  // never grows it.
  void reserve();
  // For a run that ran out of memory: writes the whole lines buffered so far,
  // then `text`, and allocates nothing.
  void lastWords(std::string_view text);

 private:
  // How many expressions a waiting form shows of those still to evaluate.
  static constexpr std::size_t shownRest = 3;
  // Cells whose length is remembered, at most.
  static constexpr std::size_t lengthsKept = 4'000'000;

  static std::string_view nameOf(Kind kind);
  // An event's members in JSON, and its text in the readable trace, each
  // added to the line begun.
  void members(const Event& e, const Places& places);
  // The same members as a text of their own, for an event within another.
  std::string membersOf(const Event& e, const Places& places);
  void readable(const Event& e, const Places& places);
  // The form a frame waits in, with a box for the value it waits for.
  std::string waitingForm(const Event& e);
  void appendWaitingForm(Text& text, const Event& e);
  // The number of elements of `list`.
  std::size_t lengthOf(Item* list);
  // A line is begun with the event's name, filled in at the end of out_,
  // and ended; line() does all three for text made beforehand.
  void begin(std::string_view event, std::uint32_t depth);
  void endLine();
  void line(std::string_view event, std::uint32_t depth, const std::string& members, const std::string& readable);
  // Where the reader found `form`, as this trace writes it after an eval or
  // a cond: the forms of a loop are written at every turn, and where they
  // were read never changes, so each is looked up and written once.
  std::string_view placeOfForm(const void* form, const Places& places);

  Text out_;      // the trace's own text, written in blocks
  Text scratch_;  // a text made before it is escaped, kept for its room
  // The start of an event's line by kind and depth (event()).
  std::array<std::array<std::string, 31>, static_cast<std::size_t>(Kind::output) + 1> starts_;
  std::size_t wholeLines_ = 0;  // how much of out_ ends with a whole line
  bool failed_ = false;
  std::unordered_map<const Item*, std::size_t> lengths_;  // of the rests of lists, by their first cell
  struct KeptPlace {
    const void* form = nullptr;
    std::string text;
  };
  static constexpr std::size_t placesShift = 8;
  std::array<KeptPlace, std::size_t{1} << placesShift> places_;
};

}  // namespace trace
