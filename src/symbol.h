// A name. Evaluating a symbol looks its name up on the binding stack.
//
// The reader shares one symbol per name (named()), so a program that says a
// name a million times holds one object for it. Nothing depends on that
// sharing: names are compared by their id, which every symbol of a name has,
// however it was made.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <typeinfo>

#include "item.h"

class Symbol final : public Item {
 public:
  explicit Symbol(std::string name);

  // The one shared symbol of `name`, made on first request.
  static Symbol* named(std::string_view name);

  // The value of the newest binding of this name, or no value (null) when
  // there is none.
  Item* evaluate() override;
  void print(std::ostream& os) const override;
  std::string getString() const override;
  // The name itself, for a reader that would only copy what getString makes.
  std::string_view name() const { return name_; }

  // A small number for the name, the same for every symbol of that name, so
  // that the binding stack can index bindings without comparing strings.
  // Numbers are handed out from 1 as names are first seen.
  std::size_t id() const { return id_; }
  // The id that symbols of `name` have.
  static std::size_t idOf(std::string_view name);

  // How many names have an id, and forgetting all but the first `count` of
  // them together with every shared symbol: for a process that empties the
  // arena between runs (see run.h), so that the next run numbers its names as
  // a new process would.
  static std::size_t namesKnown();
  static void forgetNamesAfter(std::size_t count);

 private:
  std::string name_;
  std::size_t id_;
};

// Whether `value` is a symbol. Symbol is final, so its exact type is the whole
// test.
inline bool isSymbol(const Item& value) { return isA<Symbol>(value); }
