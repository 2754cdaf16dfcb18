// A name. Symbols are not shared: two symbols with the same name are two
// values. Evaluating one looks its name up on the binding stack.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "item.h"

class Symbol final : public Item {
 public:
  explicit Symbol(std::string name) : name_(std::move(name)) {}

  // The value of the newest binding of this name, or no value (null) when
  // there is none.
  Item* evaluate() override;
  void print(std::ostream& os) const override;
  std::string getString() const override;

  // A small number for the name, the same for every symbol of that name, so
  // that the binding stack can index bindings without comparing strings.
  // Numbers are handed out from 1 as names are first asked for.
  std::size_t id() const { return id_ != 0 ? id_ : (id_ = idOf(name_)); }
  // The id of `name`, as id() gives it for a symbol of that name. The
  // characters must last as long as the run (a literal, for instance).
  static std::size_t idOf(std::string_view name);

 private:
  std::string name_;
  mutable std::size_t id_ = 0;  // 0 until first asked for
};
