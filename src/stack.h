// The binding stack: every binding of a run, newest first. A binding is a list
// whose first element is a name and whose second is the value bound to it.
// Scope is dynamic: a lookup sees whatever is on the stack at that moment.
#pragma once

#include <cstddef>
#include <vector>

#include "item.h"

class Symbol;

class Stack {
 public:
  // A stack holding only its bottom marker: a pair of two empty lists.
  Stack();
  // Pops every entry, then frees the bottom marker.
  ~Stack();
  Stack(const Stack&) = delete;
  Stack& operator=(const Stack&) = delete;

  // Puts `entry` on top as the newest entry.
  void push(Item* entry);
  // Takes the newest entry off, frees its cell and returns the entry. On an
  // empty stack writes "Error: Trying to pop an empty list." without a newline
  // and returns the empty list; the run goes on.
  Item* pop();

  // The head cell of the list of entries, which ends in the bottom marker.
  Item* getStack() const;
  // The newest entry (the bottom marker's empty list when there is none).
  Item* getCar() const;
  // The entries below the newest.
  Item* getCdr() const;

  // The value of the newest binding of `symbol`'s name, or no value (null)
  // when there is none. Exactly what a walk from the newest entry gives,
  // including its failures (a binding with no symbol for its name reached
  // first, a binding with no value), but in time independent of the stack's
  // size.
  Item* lookup(const Symbol& symbol) const;

 private:
  struct Indexed {
    Item* entry;
    std::size_t position;  // how many entries were below it when pushed
  };
  using Bindings = std::vector<Indexed>;

  // The index beside the list. Slot 0 holds every entry that a walk could not
  // pass (one that is not a binding named by a symbol); slot n holds the
  // bindings of the name whose symbol id is n. Newest last in each.
  std::vector<Bindings> index_{1};
  // For each entry, newest last, its slot in the index, so that a pop can drop
  // it without looking at its name again.
  std::vector<std::size_t> slots_;

  Item* list_;
};
