#include "symbol.h"

#include <string_view>
#include <unordered_map>

#include "environment.h"
#include "output.h"
#include "stack.h"

Item* Symbol::evaluate() { return Environment::getInstance()->lookup(*this); }

void Symbol::print(std::ostream& os) const { write(os, name_); }

std::string Symbol::getString() const { return name_; }

namespace {

// Symbols are never freed or changed, so the first symbol of each name can
// lend its own characters to the key; names asked for by the evaluator are
// string literals, which live as long.
std::unordered_map<std::string_view, std::size_t>& ids() {
  static std::unordered_map<std::string_view, std::size_t> table;
  return table;
}

}  // namespace

std::size_t Symbol::idOf(std::string_view name) {
  auto& table = ids();
  return table.try_emplace(name, table.size() + 1).first->second;
}
