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

  Bindings* bindings = &blockers_;
  if (entry != nullptr && entry->isCons()) {
    Item* name = entry->getCar();
    if (name != nullptr && typeid(*name) == typeid(Symbol)) {
      bindings = &byName_[static_cast<const Symbol*>(name)->name()];
    }
  }
  bindings->push_back(Indexed{entry, indexedIn_.size()});
  indexedIn_.push_back(bindings);
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

  indexedIn_.back()->pop_back();
  indexedIn_.pop_back();
  return entry;
}

Item* Stack::getStack() const { return list_; }

Item* Stack::getCar() const { return list_->getCar(); }

Item* Stack::getCdr() const { return list_->getCdr(); }

Item* Stack::lookup(const Symbol& symbol) const {
  const Indexed* match = nullptr;
  if (const auto found = byName_.find(symbol.name()); found != byName_.end() && !found->second.empty()) {
    match = &found->second.back();
  }
  if (!blockers_.empty() && (match == nullptr || blockers_.back().position > match->position)) {
    // The walk would reach this entry before any match and stop there: at an
    // empty list, which it takes for the bottom marker, with no value; at
    // anything else by failing to read a name from it.
    Item* entry = blockers_.back().entry;
    if (entry == getEmpty()) return nullptr;
    need(need(entry)->getCar())->getString();
    std::abort();  // Unreachable: an entry named by a symbol is never a blocker.
  }
  if (match == nullptr) return nullptr;
  return need(match->entry->getCdr())->getCar();
}
