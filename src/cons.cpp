#include "cons.h"

#include <ostream>
#include <vector>

#include "budget.h"
#include "empty.h"
#include "functions.h"
#include "integer.h"
#include "output.h"

namespace {

// The pairs whose car the printer is writing, outermost first. Kept from one
// print to the next, so that its room can be taken before a value's first
// character is written; the printer never runs inside itself, since only a
// pair's printCdr prints pairs.
std::vector<const Cons*> unfinished;

}  // namespace

void reservePrinting(std::size_t depth) { unfinished.reserve(depth); }

std::size_t printingRoom() { return unfinished.capacity(); }

Item* Cons::evaluate() { return evaluateFully(this); }

void Cons::print(std::ostream& os) const {
  put(os, '(');
  printCdr(os);
}

void Cons::printCdr(std::ostream& os) const {
  // Walks along each list and down into nested lists with an explicit stack of
  // the pairs whose car is being written, so that neither length nor nesting
  // depth uses the call stack. The text is that of the plain recursion: the
  // car, then ")" at the end of the list, " " before the next element, or the
  // tail's own printCdr for an improper end.
  unfinished.clear();  // a run ended in the middle of printing may have left some
  const Cons* cell = this;
  for (;;) {
    budget::spend();
    if (isA<Cons>(*cell->car_)) {
      put(os, '(');
      unfinished.push_back(cell);
      cell = static_cast<const Cons*>(cell->car_);
      continue;
    }
    if (isA<Integer>(*cell->car_)) {
      static_cast<const Integer*>(cell->car_)->printNumber(os);
    } else {
      cell->car_->print(os);
    }
    for (;;) {
      Item* rest = cell->cdr_;
      if (rest == getEmpty()) {
        put(os, ')');
      } else if (isA<Cons>(*rest)) {
        put(os, ' ');
        cell = static_cast<const Cons*>(rest);
        break;
      } else {
        put(os, ' ');
        rest->printCdr(os);
      }
      if (unfinished.empty()) return;
      cell = unfinished.back();
      unfinished.pop_back();
    }
  }
}

Item* Cons::getCar() const { return car_; }

Item* Cons::getCdr() const { return cdr_; }

bool Cons::isCons() const { return true; }

Item* ListBuilder::finish(Item* tail) {
  if (last_ == nullptr) return tail;
  last_->cdr_ = tail;
  Item* list = first_;
  first_ = nullptr;
  last_ = nullptr;
  return list;
}
