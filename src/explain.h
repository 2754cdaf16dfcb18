// The trace's explanations: every sentence vellumark-trace says about a run,
// chosen here from the one table of them, explanations.def. The hooks tell
// the explainer what may deserve a note as it happens; at the end it is given
// the facts of the run and says why it failed, or why it did nothing, and
// what was surprising in a run that went well.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "trace_records.h"

class Item;

namespace trace {

enum class Rule : std::uint8_t {
#define SENTENCE(identifier, text) identifier,
#include "explanations.def"
#undef SENTENCE
};

// The name a rule goes by in the trace: its identifier with "-" for "_".
std::string ruleName(Rule rule);

// One sentence said about the run: an "explanation" of an error, or a "note".
struct Said {
  std::string_view event;
  Rule rule;
  std::string text;
  Item* form;  // what it is about, or null
};

class Explainer {
 public:
  // The last clause of a cond was taken without its test being evaluated.
  // A loop takes the same plain clause at every turn, so that one is told at
  // once, where the cond's hook can keep it from a call.
  void lastClauseUntested(Item* clause) {
    if (clause == nullptr || clause != lastPlainClause_) anotherClauseUntested(clause);
  }
  // A call's head named no binding and no built-in, so it gave `result`.
  void unknownName(Item* head, Item* form, Item* result, const Facts& facts);
  // `form`, a define, bound a name that is a list: (define (f x) ...).
  void defineShorthand(Item* form);

  // What to say at the end of a run that ends with `status`: the explanation
  // of its error, or why nothing was evaluated, then the notes made on the
  // way, in order, whether the run went well or not.
  std::vector<Said> atEnd(int status, const Facts& facts) const;

 private:
  void anotherClauseUntested(Item* clause);

  static constexpr std::size_t notesKept = 8;
  static constexpr std::size_t plainClausesKept = 4096;
  std::vector<Said> notes_;
  // Clauses whose test says itself that it is not looked at (else, #t), so
  // that a loop through one costs a comparison, not a print, each time.
  std::unordered_set<const Item*> plainClauses_;
  // The plain clause met last: a loop meets the same one at every turn.
  const Item* lastPlainClause_ = nullptr;
};

}  // namespace trace
