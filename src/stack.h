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
  // The index beside the list: one record per entry, newest first, chained
  // both to the entry below it and to the previous entry of its slot. Slot 0
  // holds every entry that a walk could not pass (one that is not a binding
  // named by a symbol); slot n holds the bindings of the name whose symbol id
  // is n. Records live in the arena, so a pop hands its record to the next
  // push, and a loop that binds a million times needs no growing array.
  struct Indexed {
    Item* entry;
    Indexed* below;
    Indexed* previousInSlot;
    std::size_t position;  // how many entries were below it when pushed
  };

  static std::size_t slotOf(Item* entry);

  std::vector<Indexed*> newestInSlot_{nullptr};
  Indexed* top_ = nullptr;

  Item* list_;
};
