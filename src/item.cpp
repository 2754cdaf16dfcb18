#include "item.h"

#include <ostream>
#include <utility>
#include <vector>

#include "budget.h"
#include "cons.h"
#include "fail.h"
#include "output.h"

Item* Item::evaluate() { return this; }

void Item::print(std::ostream& os) const { fail(Error::printingGeneric, this, os); }

void Item::printCdr(std::ostream& os) const {
  write(os, " . ");
  print(os);
  put(os, ')');
}

int Item::getInt() const { fail(Error::notInteger, this); }

std::string Item::getString() const { fail(Error::notString, this); }

Item* Item::getCar() const { fail(Error::notPairForCar, this); }

Item* Item::getCdr() const { fail(Error::notPairForCdr, this); }

bool Item::isEmpty() const { return false; }

bool Item::isTrue() const { return false; }

bool Item::isFalse() const { return false; }

bool Item::isCons() const { return false; }

std::ostream& operator<<(std::ostream& os, Item* value) {
  value->print(os);
  return os;
}

void unbound() { fail(Error::unbound); }

void readyToPrint(Item* value) {
  // An atom prints with nothing reserved.
  if (!isA<Cons>(*need(value))) return;
  // What has been made so far tells enough without a walk, unless some pair
  // holds no value, or calls may have nested deeper than the printer has room
  // for. The program itself is never walked: the reader knows its nesting.
  if (!madeSoFar.holdsNoValue) {
    if (madeSoFar.deepened == 0) {
      reservePrinting(madeSoFar.read);
      return;
    }
    if (madeSoFar.read + madeSoFar.deepened <= printingRoom()) return;
  }
  // A worklist rather than recursion: the value may be nested a million deep.
  // Each list waits with the number of lists it is nested in, and the deepest
  // nesting is what the printer's own worklist will hold.
  std::vector<std::pair<Item*, std::size_t>> pending{{value, 0}};
  std::size_t deepest = 0;
  while (!pending.empty()) {
    auto [item, depth] = pending.back();
    pending.pop_back();
    need(item);
    if (depth > deepest) deepest = depth;
    while (isA<Cons>(*item)) {
      budget::spend();
      const auto& pair = static_cast<const Cons&>(*item);
      // Only nested lists wait on the worklist; a long flat list needs none.
      Item* element = need(pair.car());
      if (isA<Cons>(*element)) pending.emplace_back(element, depth + 1);
      item = need(pair.cdr());
    }
  }
  pending = {};
  reservePrinting(deepest);
}
