// A pair: the building block of lists. A list is a chain of pairs whose last
// cdr is the empty list; any other final cdr makes an improper list.
#pragma once

#include <cstddef>

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

// Takes the memory the printer needs for values nested `depth` lists deep
// (a list of numbers is 0), so that printing one allocates nothing. Ends the
// run with "Error: out of memory." when it cannot be had.
void reservePrinting(std::size_t depth);
// How deep the printer has room for now: at least what was last reserved.
std::size_t printingRoom();

// What is known of every pair made so far in this run, kept up as pairs are
// made, so that making a value ready to print (readyToPrint) seldom has to
// walk it. A value's nesting is how many lists the printer is inside at once,
// counting only lists that are elements: a list of numbers is 0, and a list
// that is the tail of a dotted pair does not count.
struct MadeSoFar {
  // The deepest nesting of anything the reader read: exact for the program.
  std::size_t read = 0;
  // How many calls made a pair with a list as its car, each of which may have
  // nested one deeper than everything made before it.
  std::size_t deepened = 0;
  // Whether some pair holds no value as its car or cdr.
  bool holdsNoValue = false;
};
inline MadeSoFar madeSoFar;

// Notes a pair made of `car` and `cdr` by evaluation (cons, list): the reader
// and append, which only copies a list's cells, make nothing deeper than what
// they were given.
inline void noteMade(Item* car, Item* cdr) {
  if (car == nullptr || cdr == nullptr) {
    madeSoFar.holdsNoValue = true;
  } else if (isA<Cons>(*car)) {
    ++madeSoFar.deepened;
  }
}

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
