#include "stack.h"

#include <iostream>

#include "symbol.h"

namespace {

// Ids are handed out one per name, and no run can hold 2^31 names, so the mask
// never changes a slot.
constexpr std::uint32_t slotMask = (std::uint32_t{1} << 31) - 1;

// Slot 0 for a name that is no symbol, the symbol's id for the rest.
std::size_t slotOf(Item* name) {
  if (name == nullptr || !isSymbol(*name)) return 0;
  return static_cast<const Symbol*>(name)->id();
}

}  // namespace

void Stack::push(Item* name, Item* value) { bind(name, value, true); }

void Stack::pushWithoutValue(Item* name) { bind(name, nullptr, false); }

void Stack::bind(Item* name, Item* value, bool hasValue) {
  const std::size_t slot = slotOf(name);
  if (slot >= newestInSlot_.size()) newestInSlot_.resize(slot + 1, 0);
  bindings_.push(
      Binding{slot == 0 ? name : value, newestInSlot_[slot], static_cast<std::uint32_t>(slot) & slotMask, hasValue});
  newestInSlot_[slot] = static_cast<Position>(bindings_.size());
}

#ifdef VELLUMARK_IN_PROCESS
void Stack::clear() {
  bindings_.clear();
  newestInSlot_.assign(1, 0);
}
#endif

void Stack::pop() {
  if (bindings_.empty()) {
    std::cout << "Error: Trying to pop an empty list.";
    return;
  }
  const Binding& newest = bindings_.top();
  newestInSlot_[newest.slot] = newest.previousInSlot;
  bindings_.pop();
}

Item* Stack::lookup(const Symbol& symbol) const {
  const std::size_t slot = symbol.id();
  const Position match = slot < newestInSlot_.size() ? newestInSlot_[slot] : 0;
  const Position blocker = newestInSlot_[0];
  if (blocker > match) {
    // The walk reaches a binding whose name is no symbol before any match,
    // and reading that name fails: there is no value, or no string in it.
    if (bindings_[blocker - 1].value == nullptr) unbound();
    failGetString();
  }
  if (match == 0) return nullptr;
  const Binding& found = bindings_[match - 1];
  if (!found.hasValue) failGetCar();
  return found.value;
}

std::size_t Stack::positionOf(const Symbol& symbol) const {
  const std::size_t slot = symbol.id();
  return slot < newestInSlot_.size() ? newestInSlot_[slot] : 0;
}
