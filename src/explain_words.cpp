#include "explain_words.h"

#include <algorithm>
#include <array>
#include <utility>

#include "cons.h"
#include "empty.h"
#include "integer.h"
#include "item.h"
#include "symbol.h"
#include "trace_text.h"

namespace trace {
namespace {

// The language's own names, which a misspelt name may have meant.
constexpr std::array ownNames{"<",     "not",     "null?", "+",     "-",    "/",      "*",
                              "print", "newline", "list",  "cons",  "car",  "head",   "cdr",
                              "tail",  "append",  "begin", "quote", "cond", "define", "lambda"};

// The number of edits (a letter put in, left out, changed, or two swapped)
// between `a` and `b`.
std::size_t distance(std::string_view a, std::string_view b) {
  std::vector<std::vector<std::size_t>> d(a.size() + 1, std::vector<std::size_t>(b.size() + 1));
  for (std::size_t i = 0; i <= a.size(); ++i) d[i][0] = i;
  for (std::size_t j = 0; j <= b.size(); ++j) d[0][j] = j;
  for (std::size_t i = 1; i <= a.size(); ++i) {
    for (std::size_t j = 1; j <= b.size(); ++j) {
      const std::size_t change = a[i - 1] == b[j - 1] ? 0 : 1;
      d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + change});
      if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1]) {
        d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
      }
    }
  }
  return d[a.size()][b.size()];
}

}  // namespace

std::optional<std::string> nearestName(std::string_view name, const std::vector<Item*>& bound) {
  // A short name is near only one edit away, so that `x` does not suggest `+`.
  const std::size_t near = name.size() <= 4 ? 1 : 2;
  std::optional<std::string> best;
  std::size_t bestDistance = near + 1;
  auto consider = [&](std::string_view candidate) {
    if (candidate == name) return;
    const std::size_t d = distance(name, candidate);
    if (d < bestDistance && d < name.size()) {
      bestDistance = d;
      best = std::string(candidate);
    }
  };
  for (Item* symbol : bound) consider(show(symbol));
  for (std::string_view own : ownNames) consider(own);
  return best;
}

Needs needsOf(std::string_view name) {
  constexpr std::string_view pair = "a pair (a list that is not empty)";
  if (name == "car" || name == "cdr" || name == "head" || name == "tail") {
    return {pair, 1, "one operand, a pair (a list that is not empty)"};
  }
  if (name == "cons") return {"a value", 2, "two operands, the first element and the rest"};
  if (name == "print") return {"a value", 1, "one operand, the value to print"};
  if (name == "append") return {"lists (all but the last operand)", 0, {}};
  return {"integers", 0, {}};
}

std::optional<Rule> otherLispRule(std::string_view name) {
  if (name == "if") return Rule::other_lisp_if;
  if (name == "let" || name == "let*" || name == "letrec") return Rule::other_lisp_let;
  if (name == "set!") return Rule::other_lisp_set;
  if (name == "=" || name == "eq?" || name == "equal?") return Rule::other_lisp_equal;
  if (name == ">" || name == ">=" || name == "<=") return Rule::other_lisp_greater;
  if (name == "display" || name == "write") return Rule::other_lisp_display;
  return std::nullopt;
}

std::optional<std::pair<Rule, std::string>> readerHabit(std::string_view name) {
  if (name.empty()) return std::nullopt;
  if (name.front() == '\'') {
    return std::pair{Rule::quote_shorthand, std::string(name.size() > 1 ? name.substr(1) : "...")};
  }
  if (name.front() == ';') return std::pair{Rule::comment, std::string()};
  if (name.front() == '"') return std::pair{Rule::string, std::string()};
  if (name.size() > 1 && name.front() == '-' &&
      std::all_of(name.begin() + 1, name.end(), [](char c) { return c >= '0' && c <= '9'; })) {
    return std::pair{Rule::negative_numeral, std::string(name.substr(1))};
  }
  return std::nullopt;
}

std::string described(Item* value) {
  std::string shown = show(value, 30);
  if (value == nullptr) return "no value";
  if (isA<Integer>(*value)) return "the integer " + shown;
  if (isSymbol(*value)) return "the symbol " + shown;
  if (value == getEmpty()) return "the empty list ()";
  if (isA<Cons>(*value)) return "the list " + shown;
  return shown;
}

bool headed(Item* form, std::string_view name) {
  Item* head = elementOf(form, 0);
  return head != nullptr && isSymbol(*head) && show(head) == name;
}

Item* elementOf(Item* form, std::size_t index) {
  for (; form != nullptr && isA<Cons>(*form); --index) {
    const auto* cell = static_cast<const Cons*>(form);
    if (index == 0) return cell->car();
    form = cell->cdr();
  }
  return nullptr;
}

std::size_t lengthOf(Item* value) {
  std::size_t length = 0;
  for (; value != nullptr && isA<Cons>(*value); value = static_cast<const Cons*>(value)->cdr()) ++length;
  return length;
}

}  // namespace trace
