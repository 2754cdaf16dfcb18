#include "explain.h"

#include <algorithm>
#include <array>
#include <string_view>
#include <utility>

#include "cons.h"
#include "integer.h"
#include "item.h"
#include "trace_text.h"

namespace trace {
namespace {

// The table of sentences, in the order of Rule.
struct Entry {
  std::string_view identifier;
  std::string_view text;
};
constexpr std::array table{
#define SENTENCE(identifier, text) Entry{#identifier, text},
#include "explanations.def"
#undef SENTENCE
};

std::string_view identifierOf(Rule rule) { return table[static_cast<std::size_t>(rule)].identifier; }
std::string_view textOf(Rule rule) { return table[static_cast<std::size_t>(rule)].text; }

// What fills the marks of a sentence; those a sentence does not use stay empty.
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
std::string fill(Rule rule, const Words& with) {
  static constexpr std::array<std::pair<std::string_view, std::string Words::*>, 6> marks{{{"{name}", &Words::name},
                                                                                           {"{value}", &Words::value},
                                                                                           {"{form}", &Words::form},
                                                                                           {"{by}", &Words::by},
                                                                                           {"{place}", &Words::place},
                                                                                           {"{more}", &Words::more}}};
  std::string text;
  for (std::string_view rest = textOf(rule); !rest.empty();) {
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

Said said(std::string_view event, Rule rule, const Words& with, Item* form) {
  return Said{event, rule, fill(rule, with), form};
}

std::string placeAt(std::uint32_t line, std::uint32_t column) {
  return std::to_string(line) + ":" + std::to_string(column);
}

// The test of a cond clause, or the clause itself when it is no pair.
Item* testOf(Item* clause) {
  return clause != nullptr && isA<Cons>(*clause) ? static_cast<const Cons*>(clause)->car() : clause;
}

// Values joined with commas: the first few, and "…" for the rest.
std::string listed(std::vector<Item*>::const_iterator begin, std::vector<Item*>::const_iterator end) {
  std::string text;
  for (auto value = begin; value != end; ++value) {
    if (value != begin) text += ", ";
    if (value - begin == keptOperands) {
      text += "…";
      break;
    }
    text += show(*value, 30);
  }
  return text;
}

// Why a built-in failed on its operands.
Said builtinError(const Facts& facts) {
  Words words;
  // An operand that is a list a lookup found in a binding made by a call: the
  // argument was bound as written.
  for (Item* operand : facts.builtinOperands) {
    if (operand == nullptr || !isA<Cons>(*operand)) continue;
    const auto* found = std::find_if(facts.recentlyFound.begin(), facts.recentlyFound.end(),
                                     [&](const Found& f) { return f.value == operand; });
    if (found == facts.recentlyFound.end() || !found->argument) continue;
    words.name = show(found->name);
    words.value = show(operand);
    words.by = show(found->by);
    return said("explanation", Rule::argument_as_written, words, facts.builtinForm);
  }
  words.form = show(facts.builtinForm);
  if (facts.errorLine() == "Error: division by zero.") {
    // The divisor is the product of the operands after the first.
    const auto& operands = facts.builtinOperands;
    words.more = listed(operands.begin() + (operands.empty() ? 0 : 1), operands.end());
    return said("explanation", Rule::division_by_zero, words, facts.builtinForm);
  }
  const std::string given = listed(facts.builtinOperands.begin(), facts.builtinOperands.end());
  Item* odd = nullptr;
  for (Item* operand : facts.builtinOperands) {
    if (operand != nullptr && (isA<Cons>(*operand) || !isA<Integer>(*operand))) odd = operand;
    if (odd != nullptr) break;
  }
  words.name = show(facts.builtinHead);
  words.more = given;
  if (given.empty()) words.more = "(none)";
  words.value = "one of them";
  if (odd != nullptr) words.value = show(odd, 30);
  return said("explanation", Rule::wrong_kind, words, facts.builtinForm);
}

// Why the run failed, when something can be said: appended to `out`.
void explainError(const Facts& facts, std::vector<Said>& out) {
  const std::string_view error = facts.errorLine();
  Words words;
  if (error == "Bad input." || error == "Bad pair") {
    words.place = placeAt(facts.readFailure.line, facts.readFailure.column);
    out.push_back(said("explanation", error == "Bad input." ? Rule::bad_input : Rule::bad_pair, words, nullptr));
  } else if (error == "Error: recursion too deep.") {
    out.push_back(said("explanation", Rule::too_deep, words, nullptr));
  } else if (error == "Error: unbound symbol." && facts.missing != nullptr) {
    words.name = show(facts.missing);
    out.push_back(said("explanation", Rule::unbound_name, words, facts.current));
  } else if (facts.inBuiltin) {
    out.push_back(builtinError(facts));
  } else if (facts.current != nullptr) {
    words.form = show(facts.current);
    out.push_back(said("explanation", Rule::failed, words, facts.current));
  }
}

// Why a run that ended well evaluated nothing.
Said explainQuietEnd(const Facts& facts) {
  Words words;
  if (!facts.open.empty()) {
    words.more = std::to_string(facts.open.size());
    words.place = placeAt(facts.open.front().line, facts.open.front().column);
    return said("note", Rule::missing_parenthesis, words, nullptr);
  }
  if (facts.anythingRead) {
    words.place = placeAt(facts.lastPlace.endLine, facts.lastPlace.endColumn);
    return said("note", Rule::no_line_end, words, nullptr);
  }
  return said("note", Rule::no_expression, words, nullptr);
}

}  // namespace

std::string ruleName(Rule rule) {
  std::string name(identifierOf(rule));
  std::replace(name.begin(), name.end(), '_', '-');
  return name;
}

void Explainer::lastClauseUntested(Item* clause) {
  if (notes_.size() >= notesKept || plainClauses_.contains(clause)) return;
  const std::string shown = show(testOf(clause), 40);
  // A test written as else or #t says itself that it is not looked at.
  if (shown == "else" || shown == "#t") {
    if (plainClauses_.size() < plainClausesKept) plainClauses_.insert(clause);
    return;
  }
  Words words;
  words.value = shown;
  notes_.push_back(said("note", Rule::last_clause_untested, words, nullptr));
}

void Explainer::unknownName(Item* head, Item* form, Item* result) {
  if (notes_.size() >= notesKept) return;
  Words words;
  words.name = show(head);
  words.form = show(form);
  words.value = show(result);
  notes_.push_back(said("note", Rule::unknown_name, words, nullptr));
}

std::vector<Said> Explainer::atEnd(int status, const Facts& facts) const {
  std::vector<Said> out;
  if (!facts.errorLine().empty() && status != 0) {
    explainError(facts, out);
  } else if (status == 0 && !facts.readDone) {
    out.push_back(explainQuietEnd(facts));
  }
  if (status == 0) out.insert(out.end(), notes_.begin(), notes_.end());
  return out;
}

}  // namespace trace
