// A pair: the building block of lists. A list is a chain of pairs whose last
// cdr is the empty list; any other final cdr makes an improper list.
#pragma once

#include "item.h"

class Cons final : public Item {
 public:
  Cons(Item* car, Item* cdr) : car_(car), cdr_(cdr) {}

  // Evaluates the pair as a form: its car says what to do, its cdr with what.
  Item* evaluate() override;
  void print(std::ostream& os) const override;
  void printCdr(std::ostream& os) const override;
  Item* getCar() const override;
  Item* getCdr() const override;
  bool isCons() const override;

  // The same as getCar and getCdr, for code that already knows it holds a
  // pair and runs often enough for a virtual call to show.
  Item* car() const { return car_; }
  Item* cdr() const { return cdr_; }

 private:
  friend class ListBuilder;

  Item* car_;
  Item* cdr_;
};

// Builds a list front to back in one pass, so that long lists need neither
// recursion nor a second pass. Only cells the builder made itself, and has not
// handed out yet, are ever linked, so no value anyone holds ever changes.
class ListBuilder {
 public:
  void add(Item* element) {
    auto* cell = new Cons(element, nullptr);
    if (last_ == nullptr) {
      first_ = cell;
    } else {
      last_->cdr_ = cell;
    }
    last_ = cell;
  }
  // Ends the list with `tail` and returns it: the first cell, or `tail` itself
  // when nothing was added.
  Item* finish(Item* tail);
  // The cell added last, or null.
  const Cons* last() const { return last_; }

 private:
  Item* first_ = nullptr;
  Cons* last_ = nullptr;
};
