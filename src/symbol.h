// A name. Symbols are not shared: two symbols with the same name are two
// values. Evaluating one looks its name up on the binding stack.
#pragma once

#include <string>

#include "item.h"

class Symbol final : public Item {
 public:
  explicit Symbol(std::string name) : name_(std::move(name)) {}

  // The value of the newest binding of this name, or no value (null) when
  // there is none.
  Item* evaluate() override;
  void print(std::ostream& os) const override;
  std::string getString() const override;

  // The name without a copy, for the lookup's index.
  const std::string& name() const { return name_; }

 private:
  std::string name_;
};
