// The base of every interpreter value. A value is an `Item*`; it never
// changes after construction, and one value may sit in many lists at once.
// A null `Item*` is "no value": what a symbol without a binding evaluates to.
//
// Item declares no destructor, on purpose: values are never destroyed one by
// one. They live in the arena (arena.h) until the run ends, and the storage
// that is recycled is handed back as bytes, never through a destructor.
#pragma once

#include <cstddef>
#include <iosfwd>
#include <string>
#include <typeinfo>

#include "arena.h"

class Item {
 public:
  Item() = default;
  Item(const Item&) = delete;
  Item& operator=(const Item&) = delete;

  // Evaluation and printing.
  virtual Item* evaluate();
  virtual void print(std::ostream& os) const;
  // Writes what follows an element of a list when this value is the list's
  // tail: " . ", the value and ")". A pair replaces it to go on with the list.
  virtual void printCdr(std::ostream& os) const;

  // Accessors; each fails with its own error line on the wrong kind of value.
  virtual int getInt() const;
  virtual std::string getString() const;
  virtual Item* getCar() const;
  virtual Item* getCdr() const;

  // Predicates.
  virtual bool isEmpty() const;
  virtual bool isTrue() const;
  virtual bool isFalse() const;
  virtual bool isCons() const;

  // Values live in the arena, not on the general heap, and stay there until
  // the run ends; deleting one gives nothing back.
  static void* operator new(std::size_t size) { return arena::allocate(size); }
  static void operator delete(void* /*storage*/) noexcept {}
};

// Whether `value` is exactly of the class `Kind`, one of the final value
// classes, without a virtual call. Each class has exactly one type_info object
// in the program, so comparing addresses is the whole test; the standard
// comparison would also compare names character by character when the classes
// differ, which is most of the time in a loop that looks for pairs.
template <typename Kind>
bool isA(const Item& value) {
  return &typeid(value) == &typeid(Kind);
}

// Writes the printed form of `value`; nothing before or after it.
std::ostream& operator<<(std::ostream& os, Item* value);

// Ends the run with "Error: unbound symbol.": a read of no value, which has
// no culprit to name (the lookup that made it is the trace's to tell).
[[noreturn]] void unbound();

// `value`, which must be a value: ends the run with "Error: unbound symbol."
// when it is no value. Every read through a value goes through here first.
inline Item* need(Item* value) {
  if (value == nullptr) unbound();
  return value;
}

// Makes `value` ready to be printed whole, before any of it is written: ends
// the run with "Error: unbound symbol." when it is no value or holds one
// anywhere inside, and with "Error: out of memory." when the printer cannot
// have the memory its walk over the value takes. After it, printing `value`
// allocates nothing, so it is written whole or, should the output fail, not
// past the point where writing failed.
void readyToPrint(Item* value);
