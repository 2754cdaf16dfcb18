#include "explain.h"

#include <algorithm>
#include <array>
#include <optional>
#include <string_view>
#include <unordered_map>
#include <utility>

#include "cons.h"
#include "environment.h"
#include "explain_words.h"
#include "fail.h"
#include "item.h"
#include "stack.h"
#include "symbol.h"
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

// The culprit of the error, which the explainer only shows.
Item* culpritOf(const Facts& facts) {
  return const_cast<Item*>(facts.culprit);  // NOLINT(cppcoreguidelines-pro-type-const-cast)
}

// The form an error in evaluation arose in: the built-in's call while one is
// applied, else the form being worked on.
Item* failingForm(const Facts& facts) { return facts.inBuiltin ? facts.builtinForm : facts.current; }

// The newest lookup that found `value` in a binding made by a call.
const Found* foundAsArgument(const Facts& facts, Item* value) {
  for (std::size_t i = 0; i < Facts::foundKept && i < facts.lookups; ++i) {
    const Found& f = facts.recentlyFound[(facts.lookups - 1 - i) % Facts::foundKept];
    if (f.value == value && f.argument) return &f;
  }
  return nullptr;
}

// A form of another Lisp the run was inside when it failed (innermost
// first): (if ...), (let ...) and the like, or the define shorthand.
std::optional<Said> otherLispUnderWay(const Facts& facts) {
  // Millions of forms may be under way: a head's name is looked at once, and
  // a form is shown only once chosen.
  std::unordered_map<std::size_t, bool> mayBe;
  auto check = [&](Item* form) -> std::optional<Said> {
    Item* head = elementOf(form, 0);
    if (head == nullptr || !isSymbol(*head)) return std::nullopt;
    const auto [known, added] = mayBe.try_emplace(static_cast<const Symbol&>(*head).id(), false);
    if (added) known->second = show(head) == "define" || otherLispRule(show(head)).has_value();
    if (!known->second) return std::nullopt;
    Words words;
    const std::string name = show(head);
    Item* defined = elementOf(form, 1);
    if (name == "define" && defined != nullptr && isA<Cons>(*defined)) {
      words.form = show(form);
      words.name = show(defined);
      words.value = show(elementOf(defined, 0)) + " (lambda " + show(static_cast<const Cons*>(defined)->cdr()) + " " +
                    show(elementOf(form, 2)) + ")";
      return said("explanation", Rule::define_shorthand, words, form);
    }
    const std::optional<Rule> rule = otherLispRule(name);
    if (!rule || Environment::getInstance()->positionOf(static_cast<const Symbol&>(*head)) != 0) return std::nullopt;
    words.form = show(form);
    words.name = name;
    words.more = "the run failed inside it";
    return said("explanation", *rule, words, form);
  };
  if (auto found = check(facts.current)) return found;
  for (std::size_t waiting = facts.underWay.size(); waiting > 0; --waiting) {
    if (auto found = check(facts.underWay[waiting - 1])) return found;
  }
  return std::nullopt;
}

// A value read where the built-in could not use it: said about its cause
// when the trace knows it.
Said wrongOperand(const Facts& facts, Item* culprit) {
  Words words;
  Item* form = facts.builtinForm;
  words.form = show(form);
  const Needs needs = needsOf(show(facts.builtinHead));
  if (const Found* found = foundAsArgument(facts, culprit);
      found != nullptr && (isA<Cons>(*culprit) || isSymbol(*culprit))) {
    words.name = show(found->name);
    words.value = show(culprit);
    words.by = show(found->by);
    return said("explanation", isSymbol(*culprit) ? Rule::symbol_as_written : Rule::argument_as_written, words, form);
  }
  for (const auto& [list, call] : facts.unknownLists) {
    if (list == culprit && call != nullptr) {
      words.value = show(culprit, 30);
      words.by = show(call);
      words.name = show(elementOf(call, 0));
      words.more = needs.each;
      return said("explanation", Rule::list_from_unknown_name, words, form);
    }
  }
  words.name = show(facts.builtinHead);
  words.value = described(culprit);
  words.more = needs.each;
  return said("explanation", Rule::wrong_operand, words, form);
}

// No operand where the built-in needs one.
Said missingOperand(const Facts& facts) {
  Words words;
  words.form = show(facts.builtinForm);
  words.name = show(facts.builtinHead);
  const std::size_t given = facts.builtinOperands.size();
  words.value = given == 0 ? "no operand" : "only " + std::to_string(given) + (given == 1 ? " operand" : " operands");
  const Needs needs = needsOf(words.name);
  words.more = needs.count != 0 ? std::string(needs.operands) : "another operand";
  return said("explanation", Rule::missing_operand, words, facts.builtinForm);
}

// A call of a procedure value failed while binding its parameters.
Said badCall(const Facts& facts) {
  Words words;
  words.form = show(facts.callingForm);
  Item* parameters = elementOf(facts.calling, 1);
  const std::size_t wanted = lengthOf(parameters);
  const std::size_t given = lengthOf(facts.callingArguments);
  if (isA<Cons>(*facts.calling) && given > wanted) {
    words.value = std::to_string(given) + (given == 1 ? " argument" : " arguments");
    words.more = std::to_string(wanted) + (wanted == 1 ? " parameter, " : " parameters, ") + show(parameters);
    return said("explanation", Rule::too_many_arguments, words, facts.callingForm);
  }
  words.value = show(facts.calling);
  return said("explanation", Rule::not_a_procedure, words, facts.callingForm);
}

// A read of no value: where the lookup that made it was, and why it found
// nothing.
Said noValue(const Facts& facts) {
  Words words;
  Item* form = failingForm(facts);
  if (facts.missing == nullptr) {
    words.form = show(form);
    return said("explanation", Rule::failed, words, form);
  }
  words.name = show(facts.missing);
  const auto& name = static_cast<const Symbol&>(*facts.missing);
  if (facts.missingIn != form) {
    // The lookup that found nothing was made in another form: the no value
    // it gave was kept, and read only here.
    words.by = show(facts.missingIn);
    if (Environment::getInstance()->positionOf(name) != 0) words.more = " (it has one now)";
    return said("explanation", Rule::missing_made_earlier, words, form);
  }
  // A parameter left without an argument by the newest call.
  Item* parameters = elementOf(facts.lastProcedure, 1);
  const std::size_t given = lengthOf(facts.lastArguments);
  for (std::size_t i = given; Item* parameter = elementOf(parameters, i); ++i) {
    if (parameter != facts.missing) continue;
    const std::size_t wanted = lengthOf(parameters);
    words.form = show(facts.lastCall);
    words.value = std::to_string(given) + (given == 1 ? " argument" : " arguments");
    words.more = std::to_string(wanted) + " parameters, " + show(parameters);
    return said("explanation", Rule::too_few_arguments, words, facts.lastCall);
  }
  if (auto habit = readerHabit(words.name)) {
    words.value = habit->second;
    return said("explanation", habit->first, words, form);
  }
  if (auto near = nearestName(words.name, facts.names)) {
    words.more = *near;
    return said("explanation", Rule::unbound_near, words, form);
  }
  return said("explanation", Rule::unbound_name, words, form);
}

// A recursion that went deeper than the evaluation stack allows.
Said tooDeep(const Facts& facts) {
  Words words;
  if (facts.repeated.value != nullptr) {
    words.name = show(facts.repeated.name);
    words.value = show(facts.repeated.value);
    words.by = show(facts.repeated.by);
    return said("explanation", Rule::same_argument_again, words, facts.repeated.by);
  }
  if (facts.lastCall != nullptr) {
    words.name = show(elementOf(facts.lastCall, 0));
    words.form = show(facts.lastCall);
    return said("explanation", Rule::recursion_without_end, words, facts.lastCall);
  }
  return said("explanation", Rule::too_deep, words, nullptr);
}

// Why the run failed, chosen by the kind of its error.
Said explainError(const Facts& facts) {
  Words words;
  Item* culprit = culpritOf(facts);
  Item* form = failingForm(facts);
  words.form = show(form);
  Said failed = said("explanation", Rule::failed, words, form);
  switch (facts.error) {
    case Error::outOfMemory:
      return said("explanation", Rule::out_of_memory, words, nullptr);
    case Error::unreadableInput:
      return said("explanation", Rule::unreadable_input, words, nullptr);
    case Error::workLimit:
      return said("explanation", Rule::work_limit, words, nullptr);
    case Error::badInput:
    case Error::badPair:
      words.place = placeAt(facts.readFailure.line, facts.readFailure.column);
      return said("explanation", facts.error == Error::badInput ? Rule::bad_input : Rule::bad_pair, words, nullptr);
    case Error::printingGeneric:
      return failed;
    case Error::tooDeep:
      return otherLispUnderWay(facts).value_or(tooDeep(facts));
    case Error::unbound:
      return otherLispUnderWay(facts).value_or(noValue(facts));
    case Error::divisionByZero:
      // The divisor is the product of the operands after the first: the
      // first few are named, and "…" stands for the rest.
      for (std::size_t i = 1; i < facts.builtinOperands.size(); ++i) {
        if (i > keptOperands) {
          words.more += ", …";
          break;
        }
        words.more += (i == 1 ? "" : ", ") + show(facts.builtinOperands[i], 30);
      }
      return said("explanation", Rule::division_by_zero, words, facts.builtinForm);
    case Error::notString:
      // A lookup that reached the binding of a define shorthand, whose name
      // is a list; else a head that is neither a name nor a procedure.
      if (culprit != nullptr && isA<Cons>(*culprit)) return otherLispUnderWay(facts).value_or(failed);
      words.value = described(culprit);
      return otherLispUnderWay(facts).value_or(said("explanation", Rule::not_callable, words, form));
    case Error::notInteger:
    case Error::notPairForCar:
    case Error::notPairForCdr:
      if (facts.inBuiltin) return culprit == nullptr ? missingOperand(facts) : wrongOperand(facts, culprit);
      if (auto other = otherLispUnderWay(facts)) return *other;
      if (facts.calling != nullptr) return badCall(facts);
      // A lookup that found a binding with no value fails as car of () does.
      if (facts.error == Error::notPairForCar && culprit != nullptr && culprit == facts.boundWithoutValue) {
        words.name = show(culprit);
        return said("explanation", Rule::bound_without_value, words, form);
      }
      return failed;
  }
  return failed;  // not reached: every kind is handled above
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
  if (facts.endedInAtom) {
    // The input ended within a name or numeral, which only the character
    // after it would have ended.
    words.place = placeAt(facts.inputEnd.line, facts.inputEnd.column);
    return said("note", Rule::no_line_end, words, nullptr);
  }
  return said("note", Rule::no_expression, words, nullptr);
}

// What the reader took beyond the expression, when it begins another one.
std::optional<Said> secondExpression(const Facts& facts) {
  std::uint32_t line = facts.lastPlace.endLine;
  std::uint32_t column = facts.lastPlace.endColumn + 1;
  for (std::size_t i = 0; i < facts.beyond.size(); ++i) {
    const char c = facts.beyond[i];
    if (c == '\n') {
      ++line;
      column = 1;
      continue;
    }
    if (c == ' ' || c == '\t' || c == '\r') {
      ++column;
      continue;
    }
    // Anything but a list is taken for a note after the program, which may
    // go there.
    if (c != '(') return std::nullopt;
    const std::size_t lineEnd = facts.beyond.find('\n', i);
    std::string shown = facts.beyond.substr(i, lineEnd == std::string::npos ? std::string::npos : lineEnd - i);
    if (shown.size() > 40) shown = shown.substr(0, 40) + "…";
    Words words;
    words.value = shown;
    words.place = placeAt(line, column);
    return said("note", Rule::several_expressions, words, nullptr);
  }
  return std::nullopt;
}

}  // namespace

std::string ruleName(Rule rule) {
  std::string name(identifierOf(rule));
  std::replace(name.begin(), name.end(), '_', '-');
  return name;
}

void Explainer::anotherClauseUntested(Item* clause) {
  // A clause may be no value, in a form that evaluation made.
  if (notes_.size() >= notesKept) return;
  if (plainClauses_.contains(clause)) {
    lastPlainClause_ = clause;
    return;
  }
  const std::string shown = show(testOf(clause), 40);
  // A test written as else or #t says itself that it is not looked at.
  if (shown == "else" || shown == "#t") {
    lastPlainClause_ = clause;
    if (plainClauses_.size() < plainClausesKept) plainClauses_.insert(clause);
    return;
  }
  Words words;
  words.value = shown;
  notes_.push_back(said("note", Rule::last_clause_untested, words, nullptr));
}

void Explainer::unknownName(Item* head, Item* form, Item* result, const Facts& facts) {
  if (notes_.size() >= notesKept) return;
  Words words;
  words.name = show(head);
  words.form = show(form);
  words.value = show(result);
  if (const std::optional<Rule> rule = otherLispRule(words.name)) {
    words.more =
        "a call of a name that is neither bound nor a built-in gives its operands as a list, here " + words.value;
    notes_.push_back(said("note", *rule, words, form));
    return;
  }
  // The name of a define shorthand is no name a lookup finds; its note says so.
  if (std::any_of(notes_.begin(), notes_.end(), [&](const Said& note) {
        return note.rule == Rule::define_shorthand && show(elementOf(elementOf(note.form, 1), 0)) == words.name;
      })) {
    return;
  }
  if (auto near = nearestName(words.name, facts.names)) {
    words.more = *near;
    notes_.push_back(said("note", Rule::unknown_name_near, words, form));
    return;
  }
  notes_.push_back(said("note", Rule::unknown_name, words, form));
}

void Explainer::defineShorthand(Item* form) {
  if (notes_.size() >= notesKept) return;
  Item* defined = elementOf(form, 1);
  Words words;
  words.form = show(form);
  words.name = show(defined);
  words.value = show(elementOf(defined, 0)) + " (lambda " + show(static_cast<const Cons*>(defined)->cdr()) + " " +
                show(elementOf(form, 2)) + ")";
  notes_.push_back(said("note", Rule::define_shorthand, words, form));
}

std::vector<Said> Explainer::atEnd(int status, const Facts& facts) const {
  std::vector<Said> out;
  if (facts.failed && status != 0) {
    out.push_back(explainError(facts));
    // A lookup that reached the binding a define shorthand made: its note
    // is the explanation.
    const auto shorthand = std::find_if(notes_.begin(), notes_.end(), [&](const Said& note) {
      return facts.error == Error::notString && note.rule == Rule::define_shorthand &&
             elementOf(note.form, 1) == facts.culprit;
    });
    if (shorthand != notes_.end()) out.back() = Said{"explanation", shorthand->rule, shorthand->text, shorthand->form};
  } else if (status == 0 && !facts.readDone) {
    out.push_back(explainQuietEnd(facts));
  } else if (status == 0) {
    if (auto second = secondExpression(facts)) out.push_back(*second);
  }
  // The notes made on the way are kept whatever the end, but a note that says
  // what the explanation says already is left out.
  for (const Said& note : notes_) {
    if (out.empty() || note.rule != out.front().rule) out.push_back(note);
  }
  return out;
}

}  // namespace trace
