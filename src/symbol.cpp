#include "symbol.h"

#include <functional>
#include <string_view>
#include <unordered_map>

#include "environment.h"
#include "output.h"
#include "stack.h"
#include "trace.h"

namespace {

// Everything known about one name. The table owns its keys, so a name stays
// valid however long the symbol that first had it lives.
struct Name {
  std::size_t id;
  Symbol* shared;  // made by the first named() of this name; null until then
};

// Hashes a std::string and a string_view alike, so that a name can be looked
// up without first copying it into a string.
struct NameHash {
  using is_transparent = void;
  std::size_t operator()(std::string_view name) const noexcept { return std::hash<std::string_view>{}(name); }
};

Name& entryFor(std::string_view name) {
  static std::unordered_map<std::string, Name, NameHash, std::equal_to<>> names;
  auto found = names.find(name);
  if (found == names.end()) found = names.emplace(std::string(name), Name{names.size() + 1, nullptr}).first;
  return found->second;
}

}  // namespace

Symbol::Symbol(std::string name) : name_(std::move(name)), id_(idOf(name_)) {}

Symbol* Symbol::named(std::string_view name) {
  Name& entry = entryFor(name);
  if (entry.shared == nullptr) entry.shared = new Symbol(std::string(name));
  return entry.shared;
}

std::size_t Symbol::idOf(std::string_view name) { return entryFor(name).id; }

Item* Symbol::evaluate() {
  Item* value = Environment::getInstance()->lookup(*this);
  trace::lookedUp(*this, value);
  return value;
}

void Symbol::print(std::ostream& os) const { write(os, name_); }

std::string Symbol::getString() const { return name_; }
