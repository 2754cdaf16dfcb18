#include "trace_write.h"

#include <algorithm>
#include <cstdio>

#include "cons.h"
#include "frames.h"
#include "item.h"
#include "platform.h"
#include "trace_text.h"

namespace trace {
namespace {

// What follows a form in the readable trace: its place, if it has one.
std::string placeSuffix(const Place& place) {
  if (!place.known()) return "";
  return "  @" + placeText(place);
}

std::string placeJson(const Place& place) {
  if (!place.known()) return "null";
  return "[" + std::to_string(place.line) + "," + std::to_string(place.column) + "," + std::to_string(place.endLine) +
         "," + std::to_string(place.endColumn) + "]";
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

std::string valuesJson(const Event& e) {
  std::string json = "[";
  for (std::uint32_t i = 0; i < e.valueCount && i < keptOperands; ++i) {
    if (i != 0) json += ',';
    json += quoted(show(e.values[i]));
  }
  return json + "]";
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
  std::string text;
  // The first few expressions of `list`, and how many more follow.
  auto rest = [&](Item* list) {
    std::size_t shown = 0;
    Item* item = list;
    // "… 1 more" would take the room of the one.
    auto last = [](Item* cell) { return !isPair(static_cast<const Cons*>(cell)->cdr()); };
    for (; isPair(item) && (shown < shownRest || last(item)); item = static_cast<const Cons*>(item)->cdr(), ++shown) {
      text += " " + show(static_cast<const Cons*>(item)->car(), 24);
    }
    if (isPair(item)) text += " … " + std::to_string(lengthOf(item)) + " more";
  };
  switch (e.why) {
    case Awaiting::headToCall:
      text = "(□";
      rest(e.c);
      return text + ")";
    case Awaiting::clauseTest: {
      const auto* clause = static_cast<const Cons*>(e.a);
      text = "(cond (□";
      rest(clause->cdr());
      text += ")";
      rest(e.c);
      return text + ")";
    }
    case Awaiting::result:
    case Awaiting::operandForApply:
    case Awaiting::valueForDefine:
      text = e.why == Awaiting::valueForDefine ? "(define " : "(";
      text += show(e.a, 24);
      for (std::uint32_t i = 0; i < e.valueCount && i < keptOperands; ++i) text += " " + show(e.values[i], 24);
      if (e.valueCount > keptOperands) text += " …";
      text += " □";
      rest(e.c);
      return text + ")";
    case Awaiting::body:
      return show(e.b) + " = □";
  }
  return text;
}

// One line of the trace: a JSON object with its members, or, for a terminal,
// the event's name and text indented by depth.
void Writer::line(std::string_view event, std::uint32_t depth, const std::string& members,
                  const std::string& readable) {
  if (json) {
    out_ += "{\"event\":\"";
    out_ += event;
    out_ += '"';
    // Every event has members of its own.
    out_ += ',';
    out_ += members;
    out_ += "}\n";
  } else {
    out_.append(std::size_t{2} * std::min<std::uint32_t>(depth, 30), ' ');
    // The one long name is shortened so that the texts stay in line.
    const std::string_view label = event == "explanation" ? "why" : event;
    out_ += label;
    out_.append(label.size() < 7 ? 7 - label.size() : 1, ' ');
    out_ += readable;
    out_ += '\n';
  }
  wholeLines_ = out_.size();
  flush(false);
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
  if (json) {
    line(nameOf(e.kind), e.depth, members(e, places), "");
  } else {
    line(nameOf(e.kind), e.depth, "", readable(e, places));
  }
}

std::string Writer::members(const Event& e, const Places& places) {
  switch (e.kind) {
    case Kind::eval:
      return "\"form\":" + quoted(show(e.a)) + ",\"at\":" + placeJson(places.ofForm(e.a)) +
             ",\"depth\":" + std::to_string(e.depth);
    case Kind::wait:
      return "\"for\":\"" + std::string(waitName(e.why)) + "\",\"form\":" + quoted(waitingForm(e)) +
             ",\"depth\":" + std::to_string(e.depth);
    case Kind::value:
      return "\"value\":" + quoted(show(e.a)) + ",\"to\":\"" + waitName(e.why) +
             "\",\"depth\":" + std::to_string(e.depth);
    case Kind::bind:
      return "\"name\":" + quoted(show(e.a)) + ",\"value\":" + quoted(e.flag ? show(e.b) : "#<no value>") +
             ",\"by\":" + quoted(show(e.c)) + ",\"binding\":" + std::to_string(e.number) +
             ",\"at\":" + placeJson(places.ofCell(e.where));
    case Kind::unbind:
      return "\"count\":" + std::to_string(e.number);
    case Kind::lookup:
      return "\"name\":" + quoted(show(e.a)) + ",\"value\":" + (e.b != nullptr ? quoted(show(e.b)) : "null") +
             ",\"binding\":" + (e.number != 0 ? std::to_string(e.number - 1) : "null");
    case Kind::cond:
      return "\"clause\":" + quoted(show(e.a)) + ",\"test\":" + (e.b == nullptr ? "null" : quoted(show(e.b))) +
             ",\"taken\":" + (e.flag != 0 ? "true" : "false") + ",\"at\":" + placeJson(places.ofForm(e.a));
    case Kind::apply:
      return "\"name\":" + quoted(show(e.a)) + ",\"operands\":" + valuesJson(e) + ",\"result\":" + quoted(show(e.b)) +
             ",\"builtin\":" + (e.flag ? "true" : "false");
    case Kind::output:
      break;
  }
  return "";
}

std::string Writer::readable(const Event& e, const Places& places) {
  switch (e.kind) {
    case Kind::eval:
      return show(e.a) + placeSuffix(places.ofForm(e.a));
    case Kind::wait:
      return waitingForm(e);
    case Kind::value:
      return show(e.a) + " -> " + waitName(e.why);
    case Kind::bind:
      return show(e.a) + " ↦ " + (e.flag ? show(e.b) : "#<no value>") + "   by " + show(e.c, 40) +
             placeSuffix(places.ofCell(e.where));
    case Kind::unbind:
      return std::to_string(e.number) + (e.number == 1 ? " binding" : " bindings");
    case Kind::lookup:
      if (e.number == 0) return show(e.a) + " -> no binding";
      return show(e.a) + " -> " + show(e.b) + "  (binding " + std::to_string(e.number - 1) + ")";
    case Kind::cond: {
      const std::string test = show(testOf(e.a), 40);
      if (e.b == nullptr) return "last clause, test " + test + " not looked at: taken";
      return test + " gave " + show(e.b, 30) + (e.flag != 0 ? ": taken" : ": not taken");
    }
    case Kind::apply: {
      std::string operands;
      for (std::uint32_t i = 0; i < e.valueCount && i < keptOperands; ++i) operands += " " + show(e.values[i], 30);
      if (e.valueCount > keptOperands) operands += " …";
      return show(e.a) + operands + " -> " + show(e.b) + (e.flag ? "" : "  (no built-in of that name)");
    }
    case Kind::output:
      break;
  }
  return "";
}

void Writer::sentence(const Said& said, const Places& places) {
  const Place place = places.ofForm(said.form);
  std::string members = "\"rule\":\"" + ruleName(said.rule) + "\",\"text\":" + quoted(said.text);
  if (said.form != nullptr) members += ",\"form\":" + quoted(show(said.form)) + ",\"at\":" + placeJson(place);
  std::string readable = said.text;
  if (said.form != nullptr && place.known()) {
    readable += "\n         (" + show(said.form, 40) + " is at " + placeText(place) + ")";
  }
  line(said.event, 0, members, readable);
}

void Writer::skipped(std::size_t count) {
  line("skipped", 0, "\"count\":" + std::to_string(count), std::to_string(count) + " events left out");
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
