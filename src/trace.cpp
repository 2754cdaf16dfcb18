// The traced build's side of trace.h: turns the hooks into events, written as
// an indented trace for a terminal or as one JSON object a line (--json).
//
// The program's own standard output is caught and reported as "output"
// events, in order among the others, so that joined they are exactly what the
// interpreter writes. A run may make billions of events: the first
// `headEvents` are written as they happen, the last `tailEvents` are kept as
// records (pointers and numbers, no text) and written at the end, with a
// count of those left out between. Output is never left out.
#include "trace.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <sstream>
#include <streambuf>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "chunked.h"
#include "cons.h"
#include "empty.h"
#include "integer.h"
#include "item.h"
#include "symbol.h"

namespace trace {
namespace {

constexpr std::size_t headEvents = 100'000;
constexpr std::size_t tailEvents = 10'000;
// Places are remembered for this many forms and elements; a larger program
// still runs, and its later forms are reported without a place.
constexpr std::size_t placesKept = 4'000'000;
// How much of a value an event shows.
constexpr std::size_t shownCharacters = 72;
constexpr std::size_t shownOperands = 6;

// A stretch of the program text: first and last character, line and column.
struct Place {
  std::uint32_t line = 0;
  std::uint32_t column = 0;
  std::uint32_t endLine = 0;
  std::uint32_t endColumn = 0;
  bool known() const { return line != 0; }
};

enum class Kind : std::uint8_t { eval, wait, value, bind, unbind, lookup, cond, apply };

// One event, as kept until it is written: what it needs to be written later,
// since the values it names never change.
struct Event {
  Kind kind;
  std::uint8_t flag;  // why it waits; taken; a built-in; has a value
  std::uint32_t depth;
  Item* a;
  Item* b;
  Item* c;
  const void* where;         // what the place is looked up by
  std::uint64_t number;      // a binding's position, a count
  std::uint32_t valueCount;  // operands or values, of which the first few are kept
  std::array<Item*, shownOperands> values;
};

// The binding stack as the trace sees it: each binding with who made it, so
// that a lookup can say which one it found.
struct Binding {
  Item* name;
  Item* value;
  Item* by;  // the call or define that pushed it
  // The binding of the same name that this one hides, counted from 1; 0 for
  // none. Kept as the binding stack keeps its own, so that a lookup takes the
  // same time however deep the stack.
  std::uint32_t hidden;
  bool hasValue;
  bool argument;  // bound by a call, as written
};

// A value that a lookup found, with the binding it came from.
struct Found {
  Item* value = nullptr;
  Binding binding{};
};
constexpr std::size_t foundKept = 16;

// Catches what the program writes to standard output.
class Capture final : public std::streambuf {
 public:
  std::string text;

 protected:
  int_type overflow(int_type c) override {
    if (!traits_type::eq_int_type(c, traits_type::eof())) text.push_back(traits_type::to_char_type(c));
    return traits_type::not_eof(c);
  }
  std::streamsize xsputn(const char* s, std::streamsize count) override {
    text.append(s, static_cast<std::size_t>(count));
    return count;
  }
};

struct State {
  bool json = false;
  Capture capture;
  std::string out;  // the trace's own text, written in blocks
  std::size_t events = 0;
  std::size_t skipped = 0;
  std::vector<Event> tail;  // a ring of the newest records once past the head
  std::string skippedOutput;

  // Places.
  std::unordered_map<const void*, Place> formPlaces;  // by a list's first cell
  std::unordered_map<const void*, Place> cellPlaces;  // by the cell that holds an element
  std::vector<Place> open;
  Place lastPlace;
  bool readDone = false;
  bool anythingRead = false;
  Place readFailure;

  // Evaluation.
  Item* current = nullptr;  // the form evalCons is working on, or a value came back to
  std::vector<Item*> gatherings;
  // The form each waiting frame works on, newest last: the value a frame waits
  // for brings its form back as the current one.
  std::vector<Item*> waitingIn;
  ChunkedStack<Binding> bindings;  // never copied as it grows: it may hold millions
  // The positions of the bindings of each name, by its symbol id, newest last.
  std::vector<std::uint32_t> newestOfName;
  Item* missing = nullptr;  // the last name a lookup found nothing for

  // What may explain an error: the built-in being applied.
  bool inBuiltin = false;
  Item* builtinForm = nullptr;
  Item* builtinHead = nullptr;
  std::vector<Item*> builtinOperands;
  std::array<Found, foundKept> recentlyFound{};  // a ring of the newest lookups
  std::size_t lookups = 0;
  std::string errorLine;
  Event pendingApply{};  // taken once its result is known

  // Notes for a run that ended well: the rule and its sentence.
  std::vector<std::pair<const char*, std::string>> notes;
};

State* state = nullptr;

// ---- Text of values, bounded.

// The printed form of `value`, cut after `limit` characters with "…".
std::string show(Item* value, std::size_t limit = shownCharacters) {
  std::ostringstream text;
  std::vector<Item*> rests;  // the rest of each list being written, innermost last
  Item* next = value;
  auto full = [&] { return static_cast<std::size_t>(text.tellp()) > limit; };
  for (;;) {
    if (full()) break;
    if (next == nullptr) {
      text << "#<no value>";
    } else if (isA<Cons>(*next)) {
      text << '(';
      const auto* cell = static_cast<const Cons*>(next);
      rests.push_back(cell->cdr());
      next = cell->car();
      continue;
    } else {
      next->print(text);
    }
    // An element is written: go on with the rest of its list.
    bool descended = false;
    while (!rests.empty() && !descended && !full()) {
      Item* rest = rests.back();
      if (rest == getEmpty()) {
        text << ')';
        rests.pop_back();
      } else if (rest != nullptr && isA<Cons>(*rest)) {
        const auto* cell = static_cast<const Cons*>(rest);
        text << ' ';
        rests.back() = cell->cdr();
        next = cell->car();
        descended = true;
      } else {
        text << "  . ";
        rests.back() = getEmpty();
        next = rest;
        descended = true;
        // The tail is written, then the ")" the empty rest stands for.
      }
    }
    if (!descended) break;
  }
  std::string shown = text.str();
  // The loop stops short of the end of a list only once the text is past
  // `limit`.
  if (shown.size() > limit) {
    shown.resize(std::min(shown.size(), limit));
    shown += "…";
  }
  return shown;
}

// A JSON string of `text`: bytes above 127 are the code points U+0080-U+00FF.
std::string quoted(std::string_view text) {
  std::string json = "\"";
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte == '"' || byte == '\\') {
      json += '\\';
      json += c;
    } else if (byte == '\n') {
      json += "\\n";
    } else if (byte < 0x20 || byte == 0x7f) {
      char escape[8];
      static_cast<void>(std::snprintf(escape, sizeof escape, "\\u%04x", byte));
      json += escape;
    } else if (byte >= 0x80) {
      json += static_cast<char>(0xc0 | (byte >> 6));
      json += static_cast<char>(0x80 | (byte & 0x3f));
    } else {
      json += c;
    }
  }
  return json + "\"";
}

// The text of a known place.
std::string placeText(const Place& place) {
  return std::to_string(place.line) + ":" + std::to_string(place.column) + "-" + std::to_string(place.endLine) + ":" +
         std::to_string(place.endColumn);
}

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

Place formPlace(const void* form) {
  const auto found = state->formPlaces.find(form);
  return found == state->formPlaces.end() ? Place{} : found->second;
}

Place cellPlace(const void* cell) {
  const auto found = state->cellPlaces.find(cell);
  return found == state->cellPlaces.end() ? Place{} : found->second;
}

// ---- Writing.

void flushOut(bool all) {
  if (!all && state->out.size() < (std::size_t{1} << 16)) return;
  static_cast<void>(std::fwrite(state->out.data(), 1, state->out.size(), stdout));
  state->out.clear();
}

// One line of the trace: a JSON object with its members, or, for a terminal,
// the event's name and text indented by depth.
void line(std::string_view event, std::uint32_t depth, const std::string& members, const std::string& readable) {
  if (state->json) {
    state->out += "{\"event\":\"";
    state->out += event;
    state->out += '"';
    // Every event has members of its own.
    state->out += ',';
    state->out += members;
    state->out += "}\n";
  } else {
    state->out.append(std::size_t{2} * std::min<std::uint32_t>(depth, 30), ' ');
    // The one long name is shortened so that the texts stay in line.
    const std::string_view label = event == "explanation" ? "why" : event;
    state->out += label;
    state->out.append(label.size() < 7 ? 7 - label.size() : 1, ' ');
    state->out += readable;
    state->out += '\n';
  }
  flushOut(false);
}

// What the program wrote since the last event, as an event of its own.
void writeOutput() {
  std::string& text = state->capture.text;
  if (text.empty()) return;
  if (state->json) {
    line("output", 0, "\"text\":" + quoted(text), "");
  } else {
    std::string shown = text;
    if (shown.back() == '\n') shown.pop_back();
    std::string indented;
    for (const char c : shown) {
      if (c == '\n') {
        indented += "\n       | ";
      } else {
        indented += c;
      }
    }
    line("output", 0, "", "| " + indented);
  }
  text.clear();
}

const char* waitName(std::uint8_t why) {
  switch (static_cast<Wait>(why)) {
    case Wait::headToCall:
      return "head";
    case Wait::clauseTest:
      return "test";
    case Wait::operand:
      return "operand";
    case Wait::definitionValue:
      return "definition";
    case Wait::body:
      return "body";
  }
  return "operand";
}

// The test of a cond clause, or the clause itself when it is no pair.
Item* testOf(Item* clause) {
  return clause != nullptr && isA<Cons>(*clause) ? static_cast<const Cons*>(clause)->car() : clause;
}

// The form a frame waits in, with a box for the value it waits for.
std::string waitingForm(const Event& e) {
  std::string text;
  auto rest = [&](Item* list) {
    for (Item* item = list; item != nullptr && isA<Cons>(*item); item = static_cast<const Cons*>(item)->cdr()) {
      text += " " + show(static_cast<const Cons*>(item)->car(), 24);
    }
  };
  switch (static_cast<Wait>(e.flag)) {
    case Wait::headToCall:
      text = "(□";
      rest(e.c);
      return text + ")";
    case Wait::clauseTest: {
      const auto* clause = static_cast<const Cons*>(e.a);
      text = "(cond (□";
      rest(clause->cdr());
      text += ")";
      rest(e.c);
      return text + ")";
    }
    case Wait::operand:
    case Wait::definitionValue:
      text = static_cast<Wait>(e.flag) == Wait::operand ? "(" : "(define ";
      text += show(e.a, 24);
      for (std::uint32_t i = 0; i < e.valueCount && i < shownOperands; ++i) text += " " + show(e.values[i], 24);
      if (e.valueCount > shownOperands) text += " …";
      text += " □";
      rest(e.c);
      return text + ")";
    case Wait::body:
      return show(e.b) + " = □";
  }
  return text;
}

std::string valuesJson(const Event& e) {
  std::string json = "[";
  for (std::uint32_t i = 0; i < e.valueCount && i < shownOperands; ++i) {
    json += (i != 0 ? "," : "") + quoted(show(e.values[i]));
  }
  return json + "]";
}

void write(const Event& e) {
  writeOutput();
  switch (e.kind) {
    case Kind::eval: {
      const Place place = formPlace(e.a);
      const std::string form = show(e.a);
      line("eval", e.depth,
           "\"form\":" + quoted(form) + ",\"at\":" + placeJson(place) + ",\"depth\":" + std::to_string(e.depth),
           form + placeSuffix(place));
      break;
    }
    case Kind::wait: {
      const std::string form = waitingForm(e);
      line("wait", e.depth,
           "\"for\":\"" + std::string(waitName(e.flag)) + "\",\"form\":" + quoted(form) +
               ",\"depth\":" + std::to_string(e.depth),
           form);
      break;
    }
    case Kind::value:
      line("value", e.depth,
           "\"value\":" + quoted(show(e.a)) + ",\"to\":\"" + waitName(e.flag) +
               "\",\"depth\":" + std::to_string(e.depth),
           show(e.a) + " -> " + waitName(e.flag));
      break;
    case Kind::bind: {
      const Place place = cellPlace(e.where);
      std::string value = "#<no value>";
      if (e.flag) value = show(e.b);
      line("bind", e.depth,
           "\"name\":" + quoted(show(e.a)) + ",\"value\":" + quoted(value) + ",\"by\":" + quoted(show(e.c)) +
               ",\"binding\":" + std::to_string(e.number) + ",\"at\":" + placeJson(place),
           show(e.a) + " ↦ " + value + "   by " + show(e.c, 40) + placeSuffix(place));
      break;
    }
    case Kind::unbind:
      line("unbind", e.depth, "\"count\":" + std::to_string(e.number),
           std::to_string(e.number) + (e.number == 1 ? " binding" : " bindings"));
      break;
    case Kind::lookup: {
      std::string value = "null";
      if (e.b != nullptr) value = quoted(show(e.b));
      std::string binding = "null";
      std::string readable = show(e.a);
      if (e.number != 0) {
        binding = std::to_string(e.number - 1);
        readable += " -> " + show(e.b) + "  (binding " + binding + ")";
      } else {
        readable += " -> no binding";
      }
      line("lookup", e.depth, "\"name\":" + quoted(show(e.a)) + ",\"value\":" + value + ",\"binding\":" + binding,
           readable);
      break;
    }
    case Kind::cond: {
      const Place place = formPlace(e.a);
      const bool untested = e.b == nullptr;
      const bool taken = e.flag != 0;
      const std::string test = show(testOf(e.a), 40);
      std::string testJson = "null";
      std::string readable;
      if (untested) {
        readable = "last clause, test " + test + " not looked at: taken";
      } else {
        testJson = quoted(show(e.b));
        readable = test + " gave " + show(e.b, 30) + (taken ? ": taken" : ": not taken");
      }
      line("cond", e.depth,
           "\"clause\":" + quoted(show(e.a)) + ",\"test\":" + testJson + ",\"taken\":" + (taken ? "true" : "false") +
               ",\"at\":" + placeJson(place),
           readable);
      break;
    }
    case Kind::apply: {
      std::string operands;
      for (std::uint32_t i = 0; i < e.valueCount && i < shownOperands; ++i) operands += " " + show(e.values[i], 30);
      if (e.valueCount > shownOperands) operands += " …";
      line("apply", e.depth,
           "\"name\":" + quoted(show(e.a)) + ",\"operands\":" + valuesJson(e) + ",\"result\":" + quoted(show(e.b)) +
               ",\"builtin\":" + (e.flag ? "true" : "false"),
           show(e.a) + operands + " -> " + show(e.b) + (e.flag ? "" : "  (no built-in of that name)"));
      break;
    }
  }
}

// Takes one event: written now while within the head, else kept in the ring
// in place of the oldest.
void record(const Event& e) {
  const std::size_t index = state->events++;
  if (index < headEvents) {
    write(e);
    return;
  }
  // Output since the last event is kept whole, whatever is left out.
  state->skippedOutput += state->capture.text;
  state->capture.text.clear();
  const std::size_t slot = (index - headEvents) % tailEvents;
  if (state->tail.size() < tailEvents) {
    state->tail.push_back(e);
  } else {
    state->tail[slot] = e;
    ++state->skipped;
  }
}

Event event(Kind kind, std::size_t depth, Item* a = nullptr, Item* b = nullptr, Item* c = nullptr) {
  return Event{kind, 0, static_cast<std::uint32_t>(depth), a, b, c, nullptr, 0, 0, {}};
}

std::uint32_t currentDepth = 0;

// ---- Explanations: every sentence the trace says about a run, one row each.
// In the text, {name}, {value}, {form}, {by}, {place} and {more} stand for
// what the row is about.

struct Sentence {
  const char* rule;
  const char* text;
};

// clang-format off
const Sentence sentences[] = {
    {"argument-as-written",
     "`{name}` was bound to the list `{value}` by `{by}`: a procedure's arguments are bound as written, not "
     "evaluated, so `{name}` yields that list, not its value. Evaluate it before the call instead, for example "
     "with (define {name} {value}) and a call that passes nothing, as examples/factorial.scm does."},
    {"unbound-name",
     "`{name}` has no binding at this moment. Scope is dynamic: only the bindings on the stack now count, "
     "the caller's included, not those where the procedure was written."},
    {"wrong-kind",
     "`{form}` gave the built-in `{name}` the values {more}; {value} is not what `{name}` works on."},
    {"division-by-zero",
     "`{form}` divides by {more}, whose product is 0."},
    {"too-deep",
     "More than 10,000,000 levels of evaluation were open at once: a procedure that calls itself with no "
     "cond clause to stop it?"},
    {"bad-input",
     "The reader met a `)` or `.` at {place}, where an expression must begin."},
    {"bad-pair",
     "After the `.` of a dotted pair the reader expects one expression and then `)`; at {place} there is more."},
    {"failed",
     "The error arose while evaluating `{form}`."},
    {"unknown-name",
     "`{name}` is neither bound nor a built-in, so `{form}` gave its operands as a list: {value}. A misspelt "
     "name is no error in this language."},
    {"last-clause-untested",
     "The last clause of a cond is taken without looking at its test: `{value}` was not evaluated."},
    {"missing-parenthesis",
     "The input ended before the expression did: {more} `(` still open, the first at {place}, so nothing "
     "was evaluated."},
    {"no-line-end",
     "The expression ends at {place} but nothing follows it: the reader needs one more character (a line "
     "end) to know that it ended, so nothing was evaluated."},
    {"no-expression",
     "The input holds no expression, so nothing was read and nothing was evaluated."},
};
// clang-format on

// What fills the marks of a sentence; those a row does not use stay empty.
struct Words {
  std::string name;
  std::string value;
  std::string form;
  std::string by;
  std::string place;
  std::string more;
};

// The sentence of `rule` with its marks filled, in one pass, so that a mark
// within what fills another (a program may name a symbol {form}) stays as it is.
std::string fill(const char* rule, const Words& with) {
  static constexpr std::array<std::pair<std::string_view, std::string Words::*>, 6> marks{{{"{name}", &Words::name},
                                                                                           {"{value}", &Words::value},
                                                                                           {"{form}", &Words::form},
                                                                                           {"{by}", &Words::by},
                                                                                           {"{place}", &Words::place},
                                                                                           {"{more}", &Words::more}}};
  for (const Sentence& sentence : sentences) {
    if (std::strcmp(sentence.rule, rule) != 0) continue;
    std::string text;
    for (std::string_view rest = sentence.text; !rest.empty();) {
      const auto* mark =
          std::find_if(marks.begin(), marks.end(), [&](const auto& m) { return rest.starts_with(m.first); });
      if (mark == marks.end()) {
        text += rest.front();
        rest.remove_prefix(1);
      } else {
        text += with.*(mark->second);
        rest.remove_prefix(mark->first.size());
      }
    }
    return text;
  }
  return rule;
}

void explain(std::string_view event, const char* rule, const Words& with, Item* form) {
  const std::string text = fill(rule, with);
  const Place place = formPlace(form);
  std::string members = "\"rule\":\"" + std::string(rule) + "\",\"text\":" + quoted(text);
  if (form != nullptr) members += ",\"form\":" + quoted(show(form)) + ",\"at\":" + placeJson(place);
  std::string readable = text;
  if (form != nullptr && place.known()) {
    readable += "\n         (" + show(form, 40) + " is at " + placeText(place) + ")";
  }
  line(event, 0, members, readable);
}

std::string placeAt(std::uint32_t line, std::uint32_t column) {
  return std::to_string(line) + ":" + std::to_string(column);
}

void explainError() {
  State& s = *state;
  const std::string& error = s.errorLine;
  Words words;
  if (error == "Bad input." || error == "Bad pair") {
    words.place = placeAt(s.readFailure.line, s.readFailure.column);
    explain("explanation", error == "Bad input." ? "bad-input" : "bad-pair", words, nullptr);
    return;
  }
  if (error == "Error: recursion too deep.") {
    explain("explanation", "too-deep", words, nullptr);
    return;
  }
  if (error == "Error: unbound symbol." && s.missing != nullptr) {
    words.name = show(s.missing);
    explain("explanation", "unbound-name", words, s.current);
    return;
  }
  if (s.inBuiltin) {
    // An operand that is a list a lookup found in a binding made by a call:
    // the argument was bound as written.
    for (Item* operand : s.builtinOperands) {
      if (operand == nullptr || !isA<Cons>(*operand)) continue;
      const auto* found = std::find_if(s.recentlyFound.begin(), s.recentlyFound.end(),
                                       [&](const Found& f) { return f.value == operand; });
      if (found == s.recentlyFound.end() || !found->binding.argument) continue;
      const Binding& binding = found->binding;
      words.name = show(binding.name);
      words.value = show(operand);
      words.by = show(binding.by);
      explain("explanation", "argument-as-written", words, s.builtinForm);
      return;
    }
    words.form = show(s.builtinForm);
    if (error == "Error: division by zero.") {
      // The divisor is the product of the operands after the first.
      for (std::size_t i = 1; i < s.builtinOperands.size(); ++i) {
        words.more += (i == 1 ? "" : ", ") + show(s.builtinOperands[i], 30);
      }
      explain("explanation", "division-by-zero", words, s.builtinForm);
      return;
    }
    std::string given;
    for (Item* operand : s.builtinOperands) given += (given.empty() ? "" : ", ") + show(operand, 30);
    Item* odd = nullptr;
    for (Item* operand : s.builtinOperands) {
      if (operand != nullptr && (isA<Cons>(*operand) || !isA<Integer>(*operand))) odd = operand;
      if (odd != nullptr) break;
    }
    words.name = show(s.builtinHead);
    words.more = given;
    if (given.empty()) words.more = "(none)";
    words.value = "one of them";
    if (odd != nullptr) words.value = show(odd, 30);
    explain("explanation", "wrong-kind", words, s.builtinForm);
    return;
  }
  if (s.current != nullptr) {
    words.form = show(s.current);
    explain("explanation", "failed", words, s.current);
  }
}

void explainQuietEnd() {
  State& s = *state;
  Words words;
  if (!s.open.empty()) {
    words.more = std::to_string(s.open.size());
    words.place = placeAt(s.open.front().line, s.open.front().column);
    explain("note", "missing-parenthesis", words, nullptr);
  } else if (s.anythingRead) {
    words.place = placeAt(s.lastPlace.endLine, s.lastPlace.endColumn);
    explain("note", "no-line-end", words, nullptr);
  } else {
    explain("note", "no-expression", words, nullptr);
  }
}

}  // namespace

void start(int argc, char** argv) {
  state = new State();
  for (int i = 1; i < argc; ++i) {
    const std::string_view option = argv[i];
    if (option == "--json") {
      state->json = true;
    } else {
      static_cast<void>(std::fprintf(stderr,
                                     "usage: vellumark-trace [--json] < program\n"
                                     "Runs the program as vellumark does and tells each step of its evaluation.\n"));
      std::exit(option == "--help" ? 0 : 2);
    }
  }
  std::cout.rdbuf(&state->capture);
  state->tail.reserve(tailEvents);
}

void listOpened(std::uint32_t line, std::uint32_t column) { state->open.push_back(Place{line, column, 0, 0}); }

void listClosed(Item* list, std::uint32_t line, std::uint32_t column) {
  Place place = state->open.back();
  state->open.pop_back();
  place.endLine = line;
  place.endColumn = column;
  state->lastPlace = place;
  if (state->open.empty()) state->anythingRead = true;
  if (state->formPlaces.size() < placesKept) state->formPlaces[list] = place;
}

void atomRead(std::uint32_t line, std::uint32_t column, std::uint32_t endLine, std::uint32_t endColumn) {
  state->lastPlace = Place{line, column, endLine, endColumn};
  if (state->open.empty()) state->anythingRead = true;
}

void elementAdded(const Cons* cell) {
  if (state->cellPlaces.size() < placesKept) state->cellPlaces[cell] = state->lastPlace;
}

void read(Item* expression) {
  state->readDone = true;
  // An atom read alone has a place too; a list has one already.
  if (!isA<Cons>(*expression)) state->formPlaces[expression] = state->lastPlace;
}

void readFailed(std::uint32_t line, std::uint32_t column) { state->readFailure = Place{line, column, line, column}; }

void evaluating(Item* form, std::size_t depth) {
  state->current = form;
  currentDepth = static_cast<std::uint32_t>(depth);
  record(event(Kind::eval, depth, form));
}

void gathering(bool /*forDefine*/) { state->gatherings.push_back(state->current); }

void waiting(Wait why, std::size_t depth, Item* form, Item* const* values, Item* const* valuesEnd, Item* rest) {
  state->waitingIn.push_back(state->current);
  Event e = event(Kind::wait, depth, form, why == Wait::body ? state->current : nullptr, rest);
  e.flag = static_cast<std::uint8_t>(why);
  if (values != nullptr) {
    e.valueCount = static_cast<std::uint32_t>(valuesEnd - values);
    for (std::uint32_t i = 0; i < e.valueCount && i < shownOperands; ++i) e.values[i] = values[i];
  }
  record(e);
}

void resumed(Wait why, std::size_t depth, Item* value) {
  currentDepth = static_cast<std::uint32_t>(depth);
  if (!state->waitingIn.empty()) {
    state->current = state->waitingIn.back();
    state->waitingIn.pop_back();
  }
  Event e = event(Kind::value, depth, value);
  e.flag = static_cast<std::uint8_t>(why);
  record(e);
}

void bound(Item* name, Item* value, bool hasValue, const Cons* argumentCell) {
  State& s = *state;
  Item* by = s.current;
  if (argumentCell == nullptr && !s.gatherings.empty()) {
    by = s.gatherings.back();
    s.gatherings.pop_back();
  }
  std::uint32_t hidden = 0;
  // A binding whose name is no symbol is never found by a lookup.
  if (name != nullptr && isSymbol(*name)) {
    const std::size_t id = static_cast<const Symbol*>(name)->id();
    if (id >= s.newestOfName.size()) s.newestOfName.resize(id + 1);
    hidden = s.newestOfName[id];
    s.newestOfName[id] = static_cast<std::uint32_t>(s.bindings.size() + 1);
  }
  s.bindings.push(Binding{name, value, by, hidden, hasValue, argumentCell != nullptr});
  Event e = event(Kind::bind, currentDepth, name, value, by);
  e.flag = hasValue ? 1 : 0;
  e.where = argumentCell;
  e.number = s.bindings.size() - 1;
  record(e);
}

void unbound(std::uint32_t count) {
  State& s = *state;
  for (std::uint32_t i = 0; i < count && !s.bindings.empty(); ++i) {
    const Binding& newest = s.bindings.top();
    if (newest.name != nullptr && isSymbol(*newest.name)) {
      s.newestOfName[static_cast<const Symbol*>(newest.name)->id()] = newest.hidden;
    }
    s.bindings.pop();
  }
  Event e = event(Kind::unbind, currentDepth);
  e.number = count;
  record(e);
}

void lookedUp(const Symbol& name, Item* value) {
  State& s = *state;
  // Symbols are never freed or changed, so the trace may keep this one.
  Item* symbol = const_cast<Symbol*>(&name);  // NOLINT(cppcoreguidelines-pro-type-const-cast)
  const std::size_t position = name.id() < s.newestOfName.size() ? s.newestOfName[name.id()] : 0;  // from 1
  if (value == nullptr) s.missing = symbol;
  if (position != 0 && value != nullptr) {
    s.recentlyFound[s.lookups++ % foundKept] = Found{value, s.bindings[position - 1]};
  }
  Event e = event(Kind::lookup, currentDepth, symbol, value);
  e.number = value == nullptr ? 0 : position;
  record(e);
}

void condTested(Item* clause, Item* test, bool taken) {
  Event e = event(Kind::cond, currentDepth, clause, test);
  e.flag = taken ? 1 : 0;
  record(e);
  if (test == nullptr && state->notes.size() < 8) {
    const std::string shown = show(testOf(clause), 40);
    const bool plain = shown == "else" || shown == "#t";
    if (!plain) {
      Words words;
      words.value = shown;
      state->notes.emplace_back("last-clause-untested", fill("last-clause-untested", words));
    }
  }
}

void applying(Item* head, Item* const* operands, Item* const* operandsEnd, bool builtin) {
  State& s = *state;
  s.builtinForm = s.gatherings.empty() ? s.current : s.gatherings.back();
  if (!s.gatherings.empty()) s.gatherings.pop_back();
  s.builtinHead = head;
  s.builtinOperands.assign(operands, operandsEnd);
  s.inBuiltin = builtin;
  Event e = event(Kind::apply, currentDepth, head);
  e.flag = builtin ? 1 : 0;
  e.valueCount = static_cast<std::uint32_t>(operandsEnd - operands);
  for (std::uint32_t i = 0; i < e.valueCount && i < shownOperands; ++i) e.values[i] = operands[i];
  s.pendingApply = e;
}

void applied(Item* result) {
  State& s = *state;
  s.inBuiltin = false;
  Event e = s.pendingApply;
  e.b = result;
  if (!e.flag && s.notes.size() < 8) {
    Words words;
    words.name = show(e.a);
    words.form = show(s.builtinForm);
    words.value = show(result);
    s.notes.emplace_back("unknown-name", fill("unknown-name", words));
  }
  record(e);
}

void failing(std::string_view line) { state->errorLine = line; }

void finishing(int status) {
  State& s = *state;
  std::cout.flush();
  if (s.events > headEvents) {
    // What was written after the first events comes whole, before the last
    // events, which are written from their records.
    if (s.skipped > 0) {
      line("skipped", 0, "\"count\":" + std::to_string(s.skipped), std::to_string(s.skipped) + " events left out");
    }
    std::string after = std::move(s.capture.text);
    s.capture.text = std::move(s.skippedOutput);
    writeOutput();
    const std::size_t oldest = s.tail.size() < tailEvents ? 0 : (s.events - headEvents) % tailEvents;
    for (std::size_t i = 0; i < s.tail.size(); ++i) write(s.tail[(oldest + i) % s.tail.size()]);
    s.capture.text = std::move(after);
  }
  writeOutput();
  if (!s.errorLine.empty() && status != 0) {
    line("error", 0, "\"line\":" + quoted(s.errorLine), s.errorLine);
    explainError();
  } else if (status == 0 && !s.readDone) {
    explainQuietEnd();
  }
  if (status == 0) {
    for (const auto& [rule, note] : s.notes) {
      line("note", 0, "\"rule\":\"" + std::string(rule) + "\",\"text\":" + quoted(note), note);
    }
  }
  line("end", 0, "\"status\":" + std::to_string(status), "status " + std::to_string(status));
  flushOut(true);
  static_cast<void>(std::fflush(stdout));
}

}  // namespace trace
