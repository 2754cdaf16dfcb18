#include "trace_write.h"

#include <algorithm>
#include <cstdio>

#include "cons.h"
#include "frames.h"
#include "item.h"
#include "platform.h"
#include "trace_text.h"

namespace trace {

// Appending a literal as a string_view spares a strlen for every part of
// every line.
using namespace std::string_view_literals;

namespace {

// What follows a form in the readable trace: its place, if it has one.
void appendPlaceSuffix(Text& out, const Place& place) {
  if (!place.known()) return;
  out += "  @"sv;
  appendPlace(out, place);
}

template <typename Out>
void appendPlaceJson(Out& out, const Place& place) {
  if (!place.known()) {
    out += "null"sv;
    return;
  }
  out += '[';
  appendPlaceNumbers(out, place, ',', ',');
  out += ']';
}

// What a frame waits for, in the trace's words.
const char* waitName(Awaiting why) {
  switch (why) {
    case Awaiting::headToCall:
      return "head";
    case Awaiting::clauseTest:
      return "test";
    case Awaiting::result:
    case Awaiting::operandForApply:
      return "operand";
    case Awaiting::valueForDefine:
      return "definition";
    case Awaiting::body:
      return "body";
  }
  return "operand";
}

bool isPair(Item* item) { return item != nullptr && isA<Cons>(*item); }

// The test of a cond clause, or the clause itself when it is no pair.
Item* testOf(Item* clause) {
  return clause != nullptr && isA<Cons>(*clause) ? static_cast<const Cons*>(clause)->car() : clause;
}

}  // namespace

std::size_t Writer::lengthOf(Item* list) {
  std::size_t walked = 0;
  std::size_t beyond = 0;
  for (Item* item = list; isPair(item); item = static_cast<const Cons*>(item)->cdr(), ++walked) {
    const auto known = lengths_.find(item);
    if (known != lengths_.end()) {
      beyond = known->second;
      break;
    }
  }
  const std::size_t length = walked + beyond;
  // Each cell walked is remembered, so that the waits of a long gathering,
  // each on a shorter rest of the same list, cost one walk in all.
  if (lengths_.size() + walked <= lengthsKept) {
    std::size_t left = length;
    for (Item* item = list; left > beyond; item = static_cast<const Cons*>(item)->cdr(), --left) {
      lengths_.emplace(item, left);
    }
  }
  return length;
}

std::string Writer::waitingForm(const Event& e) {
  Text text;
  appendWaitingForm(text, e);
  return std::string(text.view());
}

void Writer::appendWaitingForm(Text& text, const Event& e) {
  // The first few expressions of `list`, and how many more follow.
  auto rest = [&](Item* list) {
    std::size_t shown = 0;
    Item* item = list;
    // "… 1 more" would take the room of the one.
    auto last = [](Item* cell) { return !isPair(static_cast<const Cons*>(cell)->cdr()); };
    for (; isPair(item) && (shown < shownRest || last(item)); item = static_cast<const Cons*>(item)->cdr(), ++shown) {
      text += ' ';
      appendShown(text, static_cast<const Cons*>(item)->car(), 24);
    }
    if (isPair(item)) {
      text += " … "sv;
      appendNumber(text, lengthOf(item));
      text += " more"sv;
    }
  };
  switch (e.why) {
    case Awaiting::headToCall:
      text += "(□"sv;
      rest(e.c);
      text += ')';
      return;
    case Awaiting::clauseTest: {
      const auto* clause = static_cast<const Cons*>(e.a);
      text += "(cond (□"sv;
      rest(clause->cdr());
      text += ')';
      rest(e.c);
      text += ')';
      return;
    }
    case Awaiting::result:
    case Awaiting::operandForApply:
    case Awaiting::valueForDefine:
      text += e.why == Awaiting::valueForDefine ? "(define "sv : "("sv;
      appendShown(text, e.a, 24);
      for (std::uint32_t i = 0; i < e.valueCount && i < keptOperands; ++i) {
        text += ' ';
        appendShown(text, e.values[i], 24);
      }
      if (e.valueCount > keptOperands) text += " …"sv;
      text += " □"sv;
      rest(e.c);
      text += ')';
      return;
    case Awaiting::body:
      appendShown(text, e.b);
      text += " = □"sv;
      return;
  }
}

// One line of the trace: a JSON object with its members, or, for a terminal,
// the event's name and text indented by depth. The line is begun, its members
// or text are added at the end of out_, and it is ended.
void Writer::begin(std::string_view event, std::uint32_t depth) {
  if (json) {
    out_ += "{\"event\":\""sv;
    out_ += event;
    // Every event has members of its own.
    out_ += "\","sv;
  } else {
    out_.append(std::size_t{2} * std::min<std::uint32_t>(depth, 30), ' ');
    // The one long name is shortened so that the texts stay in line.
    const std::string_view label = event == "explanation" ? "why" : event;
    out_ += label;
    out_.append(label.size() < 7 ? 7 - label.size() : 1, ' ');
  }
}

void Writer::endLine() {
  out_ += json ? "}\n"sv : "\n"sv;
  wholeLines_ = out_.size();
  flush(false);
}

void Writer::line(std::string_view event, std::uint32_t depth, const std::string& members,
                  const std::string& readable) {
  begin(event, depth);
  out_ += json ? members : readable;
  endLine();
}

// Lines the program wrote are shown as they are, after a bar.
void Writer::output(std::string_view text) {
  if (text.empty()) return;
  if (json) {
    line("output", 0, "\"text\":" + quoted(text), "");
    return;
  }
  if (text.back() == '\n') text.remove_suffix(1);
  std::string indented;
  for (const char c : text) {
    if (c == '\n') {
      indented += "\n       | ";
    } else {
      indented += c;
    }
  }
  line("output", 0, "", "| " + indented);
}

// The name each kind of event goes by in the trace.
std::string_view Writer::nameOf(Kind kind) {
  switch (kind) {
    case Kind::eval:
      return "eval";
    case Kind::wait:
      return "wait";
    case Kind::value:
      return "value";
    case Kind::bind:
      return "bind";
    case Kind::unbind:
      return "unbind";
    case Kind::lookup:
      return "lookup";
    case Kind::cond:
      return "cond";
    case Kind::apply:
      return "apply";
    case Kind::output:
      break;
  }
  return "output";
}

// Only the format asked for is made: the other would cost as much again.
void Writer::event(const Event& e, const Places& places) {
  // The text of an output record is kept by the recorder, which writes it
  // with output().
  if (e.kind == Kind::output) return;
  // The start of a line depends on the kind and, in the readable trace, on
  // the depth up to 30 only: each is made once and then copied.
  const std::uint32_t level = json ? 0 : std::min<std::uint32_t>(e.depth, 30);
  std::string& start = starts_.at(static_cast<std::size_t>(e.kind)).at(level);
  if (start.empty()) {
    const std::size_t from = out_.size();
    begin(nameOf(e.kind), e.depth);
    start.assign(out_.view().substr(from));
  } else {
    out_ += start;
  }
  if (json) {
    members(e, places);
  } else {
    readable(e, places);
  }
  endLine();
}

std::string Writer::membersOf(const Event& e, const Places& places) {
  const std::size_t from = out_.size();
  members(e, places);
  std::string text(out_.view().substr(from));
  out_.truncate(from);
  return text;
}

void Writer::members(const Event& e, const Places& places) {
  Text& out = out_;
  switch (e.kind) {
    case Kind::eval:
      out += "\"form\":"sv;
      appendQuotedShown(out, e.a);
      out += ",\"at\":"sv;
      out += placeOfForm(e.a, places);
      out += ",\"depth\":"sv;
      appendNumber(out, e.depth);
      return;
    case Kind::wait:
      out += "\"for\":\""sv;
      out += waitName(e.why);
      out += "\",\"form\":"sv;
      scratch_.clear();
      appendWaitingForm(scratch_, e);
      appendQuoted(out, scratch_.view());
      out += ",\"depth\":"sv;
      appendNumber(out, e.depth);
      return;
    case Kind::value:
      out += "\"value\":"sv;
      appendQuotedShown(out, e.a);
      out += ",\"to\":\""sv;
      out += waitName(e.why);
      out += "\",\"depth\":"sv;
      appendNumber(out, e.depth);
      return;
    case Kind::bind:
      out += "\"name\":"sv;
      appendQuotedShown(out, e.a);
      out += ",\"value\":"sv;
      if (e.flag != 0) {
        appendQuotedShown(out, e.b);
      } else {
        out += "\"#<no value>\""sv;
      }
      out += ",\"by\":"sv;
      appendQuotedShown(out, e.c);
      out += ",\"binding\":"sv;
      appendNumber(out, e.number);
      out += ",\"at\":"sv;
      appendPlaceJson(out, places.ofCell(e.where));
      return;
    case Kind::unbind:
      out += "\"count\":"sv;
      appendNumber(out, e.number);
      return;
    case Kind::lookup:
      out += "\"name\":"sv;
      appendQuotedShown(out, e.a);
      out += ",\"value\":"sv;
      if (e.b != nullptr) {
        appendQuotedShown(out, e.b);
      } else {
        out += "null"sv;
      }
      out += ",\"binding\":"sv;
      if (e.number != 0) {
        appendNumber(out, e.number - 1);
      } else {
        out += "null"sv;
      }
      return;
    case Kind::cond:
      out += "\"clause\":"sv;
      appendQuotedShown(out, e.a);
      out += ",\"test\":"sv;
      if (e.b == nullptr) {
        out += "null"sv;
      } else {
        appendQuotedShown(out, e.b);
      }
      out += e.flag != 0 ? ",\"taken\":true"sv : ",\"taken\":false"sv;
      out += ",\"at\":"sv;
      out += placeOfForm(e.a, places);
      return;
    case Kind::apply:
      out += "\"name\":"sv;
      appendQuotedShown(out, e.a);
      out += ",\"operands\":["sv;
      for (std::uint32_t i = 0; i < e.valueCount && i < keptOperands; ++i) {
        if (i != 0) out += ',';
        appendQuotedShown(out, e.values[i]);
      }
      out += "],\"result\":"sv;
      appendQuotedShown(out, e.b);
      out += e.flag != 0 ? ",\"builtin\":true"sv : ",\"builtin\":false"sv;
      return;
    case Kind::output:
      break;
  }
}

std::string_view Writer::placeOfForm(const void* form, const Places& places) {
  // Forms lie 8 bytes or more apart: the bits above those tell them apart.
  const auto address = reinterpret_cast<std::uintptr_t>(form);  // NOLINT(cppcoreguidelines-pro-type-reinterpret-cast)
  KeptPlace& kept = places_[((address >> 3) * 0x9e3779b97f4a7c15ULL) >> (64 - placesShift)];
  if (kept.form != form || form == nullptr) {
    kept.form = form;
    kept.text.clear();
    if (json) {
      appendPlaceJson(kept.text, places.ofForm(form));
    } else if (const Place place = places.ofForm(form); place.known()) {
      kept.text += "  @"sv;
      appendPlace(kept.text, place);
    }
  }
  return kept.text;
}

void Writer::readable(const Event& e, const Places& places) {
  Text& out = out_;
  switch (e.kind) {
    case Kind::eval:
      appendShown(out, e.a);
      out += placeOfForm(e.a, places);
      return;
    case Kind::wait:
      appendWaitingForm(out, e);
      return;
    case Kind::value:
      appendShown(out, e.a);
      out += " -> "sv;
      out += waitName(e.why);
      return;
    case Kind::bind:
      appendShown(out, e.a);
      out += " ↦ "sv;
      if (e.flag != 0) {
        appendShown(out, e.b);
      } else {
        out += "#<no value>"sv;
      }
      out += "   by "sv;
      appendShown(out, e.c, 40);
      appendPlaceSuffix(out, places.ofCell(e.where));
      return;
    case Kind::unbind:
      appendNumber(out, e.number);
      out += e.number == 1 ? " binding"sv : " bindings"sv;
      return;
    case Kind::lookup:
      appendShown(out, e.a);
      if (e.number == 0) {
        out += " -> no binding"sv;
        return;
      }
      out += " -> "sv;
      appendShown(out, e.b);
      out += "  (binding "sv;
      appendNumber(out, e.number - 1);
      out += ')';
      return;
    case Kind::cond:
      if (e.b == nullptr) {
        out += "last clause, test "sv;
        appendShown(out, testOf(e.a), 40);
        out += " not looked at: taken"sv;
        return;
      }
      appendShown(out, testOf(e.a), 40);
      out += " gave "sv;
      appendShown(out, e.b, 30);
      out += e.flag != 0 ? ": taken"sv : ": not taken"sv;
      return;
    case Kind::apply:
      appendShown(out, e.a);
      for (std::uint32_t i = 0; i < e.valueCount && i < keptOperands; ++i) {
        out += ' ';
        appendShown(out, e.values[i], 30);
      }
      if (e.valueCount > keptOperands) out += " …"sv;
      out += " -> "sv;
      appendShown(out, e.b);
      if (e.flag == 0) out += "  (no built-in of that name)"sv;
      return;
    case Kind::output:
      break;
  }
}

void Writer::sentence(const Said& said, const Places& places) {
  const Place place = places.ofForm(said.form);
  std::string members = "\"rule\":\"" + ruleName(said.rule) + "\",\"text\":" + quoted(said.text);
  if (said.form != nullptr) {
    members += ",\"form\":";
    appendQuotedShown(members, said.form);
    members += ",\"at\":";
    appendPlaceJson(members, place);
  }
  std::string readable = said.text;
  if (said.form != nullptr && place.known()) {
    readable += "\n         (" + show(said.form, 40) + " is at " + placeText(place) + ")";
  }
  line(said.event, 0, members, readable);
}

void Writer::skipped(std::size_t count) {
  line("skipped", 0, "\"count\":" + std::to_string(count), std::to_string(count) + " events left out");
}

void Writer::snapshot(const std::vector<const Event*>& bindings, std::size_t bindingCount,
                      const std::vector<const Event*>& waiting, std::size_t waitingCount, const Places& places) {
  std::string members = "\"bindings\":[";
  std::string readable = std::to_string(bindingCount) + " bindings";
  for (const Event* e : bindings) {
    if (e != bindings.front()) members += ',';
    members += "{" + membersOf(*e, places) + "}";
    readable += (e == bindings.front() ? ", newest first: " : ", ") + show(e->a) + " ↦ " +
                (e->flag ? show(e->b, 30) : "#<no value>");
  }
  members += "],\"bindingsLeftOut\":" + std::to_string(bindingCount - bindings.size()) + ",\"waiting\":[";
  readable += "; " + std::to_string(waitingCount) + " forms waiting";
  for (const Event* e : waiting) {
    if (e != waiting.front()) members += ',';
    members += "{" + membersOf(*e, places) + "}";
    readable += (e == waiting.front() ? ", newest first: " : ", ") + waitingForm(*e);
  }
  members += "],\"waitingLeftOut\":" + std::to_string(waitingCount - waiting.size());
  line("snapshot", 0, members, readable);
}

void Writer::error(std::string_view errorLine) {
  line("error", 0, "\"line\":" + quoted(errorLine), std::string(errorLine));
}

void Writer::end(int status) {
  line("end", 0, "\"status\":" + std::to_string(status), "status " + std::to_string(status));
}

namespace {
constexpr std::size_t block = std::size_t{1} << 16;
}  // namespace

void Writer::reserve() { out_.reserve(16 * block); }

void Writer::flush(bool all) {
  if (!all && out_.size() < block) return;
  if (!failed_ && !platform::writeOutput(out_.data(), out_.size())) failed_ = true;
  out_.clear();
  wholeLines_ = 0;
}

void Writer::lastWords(std::string_view text) {
  if (!failed_ && !platform::writeOutput(out_.data(), wholeLines_)) failed_ = true;
  if (!failed_ && !platform::writeOutput(text.data(), text.size())) failed_ = true;
  out_.clear();
  wholeLines_ = 0;
}

}  // namespace trace
