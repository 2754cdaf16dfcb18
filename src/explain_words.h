// What the explainer knows of the language to fill its sentences: the names
// a misspelt name may have meant, what each built-in needs of its operands,
// the forms of other Lisps that newcomers write, and how a value is named.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "explain.h"

class Item;

namespace trace {

// The name nearest to `name` among `bound` and the language's own names (the
// built-ins and the special forms), when one is near enough to be a likely
// misspelling of it: a letter or two away, by edit distance.
std::optional<std::string> nearestName(std::string_view name, const std::vector<Item*>& bound);

// What the built-in `name` needs: of each operand (`each`), and of how many
// (`count`, when it reads a fixed number, said in `operands`).
struct Needs {
  std::string_view each;
  std::size_t count = 0;
  std::string_view operands;
};
Needs needsOf(std::string_view name);

// The sentence for a form of another Lisp headed by `name`, if it is one.
std::optional<Rule> otherLispRule(std::string_view name);

// A reader habit of another Lisp that made `name` a name: 'x, -5, ; or "x".
// The sentence for it, and the word that fills its {value}.
std::optional<std::pair<Rule, std::string>> readerHabit(std::string_view name);

// `value` named with its kind: "the integer 1", "the empty list ()".
std::string described(Item* value);

// Whether `form` is (head ...) with `head` the symbol `name`.
bool headed(Item* form, std::string_view name);
// The element of the list `form` at `index` from 0, or null.
Item* elementOf(Item* form, std::size_t index);
// How many elements the list `value` has before its end, or whatever ends it.
std::size_t lengthOf(Item* value);

}  // namespace trace
