// The binding stack: every binding of a run, newest first. A binding ties a
// name to the value bound to it. Scope is dynamic: a lookup sees whatever is
// on the stack at that moment, newest binding first.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "chunked.h"
#include "item.h"

class Symbol;

class Stack {
 public:
  Stack() = default;
  Stack(const Stack&) = delete;
  Stack& operator=(const Stack&) = delete;

  // Binds `name` to `value` as the newest binding. The name is not checked:
  // a binding named by anything but a symbol fails only when a lookup
  // reaches it.
  void push(Item* name, Item* value);
  // Binds `name` to nothing at all, as (define x) does: a lookup that finds
  // this binding fails as getCar of the empty list does.
  void pushWithoutValue(Item* name);
  // Takes the newest binding off. On an empty stack writes "Error: Trying to
  // pop an empty list." without a newline, and the run goes on.
  void pop();

  std::size_t size() const { return bindings_.size(); }

  // Takes every binding off (see ChunkedStack::clear).
  void clear();

  // The value of the newest binding of `symbol`'s name, or no value (null)
  // when there is none. What a walk from the newest binding gives, including
  // its failures, but in time independent of the stack's size: the walk
  // stops with an error at a binding whose name is no symbol, and at a match
  // that has no value.
  Item* lookup(const Symbol& symbol) const;

  // Where the newest binding of `symbol`'s name lies, counted from 1 for the
  // oldest binding on the stack; 0 when it has none. The binding lookup()
  // gives a value from, when it gives one. For vellumark-trace, which tells
  // which binding a lookup found; nothing else calls it.
  std::size_t positionOf(const Symbol& symbol) const;

 private:
  // Positions count from 1, so that 0 can mean "none".
  using Position = std::uint32_t;

  // Bindings are kept by the slot of their name: slot 0 holds every binding
  // whose name is no symbol (a walk cannot pass one), slot n the bindings of
  // the name whose symbol id is n. Each binding links to the one it hides.
  // A binding in slot 0 keeps its name where others keep their value: it is
  // never looked up, and only its name decides how a lookup fails on it.
  struct Binding {
    Item* value;
    Position previousInSlot;
    std::uint32_t slot : 31;
    std::uint32_t hasValue : 1;
  };

  void bind(Item* name, Item* value, bool hasValue);

  ChunkedStack<Binding> bindings_;
  std::vector<Position> newestInSlot_{0};
};
