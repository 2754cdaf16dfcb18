#include "stack.h"

#include <cstdlib>
#include <iostream>
#include <typeinfo>

#include "cons.h"
#include "empty.h"
#include "symbol.h"

Stack::Stack() : list_(new Cons(Empty::getInstance(), Empty::getInstance())) {}

Stack::~Stack() {
  while (!list_->getCdr()->isEmpty()) pop();
  delete static_cast<Cons*>(list_);
}

void Stack::push(Item* entry) {
  list_ = new Cons(entry, list_);

  std::size_t slot = 0;
  if (entry != nullptr && entry->isCons()) {
    Item* name = entry->getCar();
    if (name != nullptr && typeid(*name) == typeid(Symbol)) slot = static_cast<const Symbol*>(name)->id();
  }
  if (slot >= index_.size()) index_.resize(slot + 1);
  index_[slot].push_back(Indexed{entry, slots_.size()});
  slots_.push_back(slot);
}

Item* Stack::pop() {
  if (list_->getCdr()->isEmpty()) {
    std::cout << "Error: Trying to pop an empty list.";
    return getEmpty();
  }
  auto* cell = static_cast<Cons*>(list_);
  Item* entry = cell->getCar();
  list_ = cell->getCdr();
  delete cell;

  index_[slots_.back()].pop_back();
  slots_.pop_back();
  return entry;
}

Item* Stack::getStack() const { return list_; }

Item* Stack::getCar() const { return list_->getCar(); }

Item* Stack::getCdr() const { return list_->getCdr(); }

Item* Stack::lookup(const Symbol& symbol) const {
  const Indexed* match = nullptr;
  if (const std::size_t slot = symbol.id(); slot < index_.size() && !index_[slot].empty()) {
    match = &index_[slot].back();
  }
  const Bindings& blockers = index_[0];
  if (!blockers.empty() && (match == nullptr || blockers.back().position > match->position)) {
    // The walk would reach this entry before any match and stop there: at an
    // empty list, which it takes for the bottom marker, with no value; at
    // anything else by failing to read a name from it.
    Item* entry = blockers.back().entry;
    if (entry == getEmpty()) return nullptr;
    need(need(entry)->getCar())->getString();
    std::abort();  // Unreachable: an entry named by a symbol is never a blocker.
  }
  if (match == nullptr) return nullptr;
  return need(match->entry->getCdr())->getCar();
}
