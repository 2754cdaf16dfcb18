#include "stack.h"

#include <cstdlib>
#include <iostream>
#include <new>
#include <typeinfo>

#include "arena.h"
#include "cons.h"
#include "empty.h"
#include "symbol.h"

Stack::Stack() : list_(new Cons(Empty::getInstance(), Empty::getInstance())) {}

Stack::~Stack() {
  while (!list_->getCdr()->isEmpty()) pop();
  delete static_cast<Cons*>(list_);
}

std::size_t Stack::slotOf(Item* entry) {
  if (entry == nullptr || !entry->isCons()) return 0;
  Item* name = entry->getCar();
  if (name == nullptr || typeid(*name) != typeid(Symbol)) return 0;
  return static_cast<const Symbol*>(name)->id();
}

void Stack::push(Item* entry) {
  list_ = new Cons(entry, list_);

  const std::size_t slot = slotOf(entry);
  if (slot >= newestInSlot_.size()) newestInSlot_.resize(slot + 1, nullptr);
  const std::size_t position = top_ == nullptr ? 0 : top_->position + 1;
  top_ = new (arena::allocate(sizeof(Indexed))) Indexed{entry, top_, newestInSlot_[slot], position};
  newestInSlot_[slot] = top_;
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

  Indexed* record = top_;
  newestInSlot_[slotOf(entry)] = record->previousInSlot;
  top_ = record->below;
  arena::release(record, sizeof(Indexed));
  return entry;
}

Item* Stack::getStack() const { return list_; }

Item* Stack::getCar() const { return list_->getCar(); }

Item* Stack::getCdr() const { return list_->getCdr(); }

Item* Stack::lookup(const Symbol& symbol) const {
  const std::size_t slot = symbol.id();
  const Indexed* match = slot < newestInSlot_.size() ? newestInSlot_[slot] : nullptr;
  const Indexed* blocker = newestInSlot_[0];
  if (blocker != nullptr && (match == nullptr || blocker->position > match->position)) {
    // The walk would reach this entry before any match and stop there: at an
    // empty list, which it takes for the bottom marker, with no value; at
    // anything else by failing to read a name from it.
    if (blocker->entry == getEmpty()) return nullptr;
    need(need(blocker->entry)->getCar())->getString();
    std::abort();  // Unreachable: an entry named by a symbol is never a blocker.
  }
  if (match == nullptr) return nullptr;
  return need(match->entry->getCdr())->getCar();
}
