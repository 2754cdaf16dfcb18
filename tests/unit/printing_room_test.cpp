// readyToPrint walks a value only when what is known of everything made so far
// cannot vouch for it: each built-in that makes pairs must say so (noteMade),
// or the printer would have less room than a value it prints needs and would
// allocate while writing it. Values made at random by the built-ins, each
// checked against its nesting counted here.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <random>
#include <string_view>
#include <vector>

#include "cons.h"
#include "empty.h"
#include "functions.h"
#include "integer.h"
#include "symbol.h"

namespace {

// How many lists the printer is inside at once while printing `value`.
std::size_t nesting(Item* value) {
  std::size_t deepest = 0;
  while (isA<Cons>(*value)) {
    const auto& cell = static_cast<const Cons&>(*value);
    if (isA<Cons>(*cell.car())) deepest = std::max(deepest, 1 + nesting(cell.car()));
    value = cell.cdr();
  }
  return deepest;
}

bool isProperList(Item* value) {
  while (isA<Cons>(*value)) value = static_cast<const Cons&>(*value).cdr();
  return value == getEmpty();
}

Item* call(std::string_view name, std::vector<Item*> operands) {
  return apply(Symbol::named(name), Operands(operands.data(), operands.data() + operands.size()));
}

TEST(PrintingRoom, EveryValueTheBuiltInsMakeFitsWhatReadyToPrintLeaves) {
  madeSoFar = {};
  // What a reader would have made: ((1) 2), nested 1 deep.
  Item* one = Integer::make(1);
  std::vector<Item*> made{one, Integer::make(2), getEmpty(),
                          new Cons(new Cons(one, getEmpty()), new Cons(Integer::make(2), getEmpty()))};
  madeSoFar.read = 1;
  std::mt19937 random(27);
  std::size_t deepest = 0;
  for (int round = 0; round < 1000; ++round) {
    auto any = [&] { return made[std::uniform_int_distribution<std::size_t>(0, made.size() - 1)(random)]; };
    // The newest values more often, so that nesting grows.
    auto recent = [&] { return made[made.size() - 1 - std::min<std::size_t>(made.size() - 1, random() % 4)]; };
    Item* value = nullptr;
    switch (random() % 5) {
      case 0:
        value = call("cons", {recent(), any()});
        break;
      case 1:
        value = call("list", {any(), recent(), any()});
        break;
      case 2: {
        Item* front = recent();
        if (!isProperList(front)) continue;
        value = call("append", {front, any()});
        break;
      }
      default: {
        Item* pair = recent();
        if (!isA<Cons>(*pair)) continue;
        value = call(random() % 2 == 0 ? "car" : "cdr", {pair});
        break;
      }
    }
    readyToPrint(value);
    const std::size_t needed = nesting(value);
    ASSERT_GE(printingRoom(), needed) << "round " << round;
    deepest = std::max(deepest, needed);
    made.push_back(value);
  }
  // The values did nest deeper than what was read, or the test proved nothing.
  EXPECT_GT(deepest, 20U);
}

}  // namespace
