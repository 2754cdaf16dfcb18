// What golden cases cannot reach: the value tree's predicates on every kind
// of value, printing values the reader never makes, the sharing of integers
// and symbols, and the storage beneath values and stacks.
#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <iostream>
#include <sstream>
#include <string>

#include "arena.h"
#include "chunked.h"
#include "cons.h"
#include "empty.h"
#include "false.h"
#include "frames.h"
#include "integer.h"
#include "symbol.h"
#include "true.h"

namespace {

std::string printed(Item* value) {
  std::ostringstream out;
  out << value;
  return out.str();
}

TEST(Values, OnlyTheConstantsAnswerTheirOwnTests) {
  struct Row {
    Item* value;
    bool empty, truth, falsity, pair;
  };
  const Row rows[] = {
      {new Integer(0), false, false, false, false},
      {new Symbol("#t"), false, false, false, false},
      {new Cons(getEmpty(), getEmpty()), false, false, false, true},
      {getEmpty(), true, false, false, false},
      {getTrue(), false, true, false, false},
      {getFalse(), false, false, true, false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(printed(row.value));
    EXPECT_EQ(row.value->isEmpty(), row.empty);
    EXPECT_EQ(row.value->isTrue(), row.truth);
    EXPECT_EQ(row.value->isFalse(), row.falsity);
    EXPECT_EQ(row.value->isCons(), row.pair);
  }
}

TEST(Values, ConstantsAreMadeOnceAndEvaluateToThemselves) {
  EXPECT_EQ(getEmpty(), Empty::getInstance());
  EXPECT_EQ(getTrue(), True::getInstance());
  EXPECT_EQ(getFalse(), False::getInstance());
  EXPECT_EQ(getTrue()->evaluate(), getTrue());
  Item* number = new Integer(7);
  EXPECT_EQ(number->evaluate(), number);
}

TEST(Printing, ConstantsInsideListsAndTails) {
  // The reader never makes #t or #f, but evaluation puts them in lists.
  EXPECT_EQ(printed(new Cons(new Integer(1), getTrue())), "(1  . #t)");
  EXPECT_EQ(printed(new Cons(getFalse(), new Cons(getTrue(), getEmpty()))), "(#f #t)");
  EXPECT_EQ(printed(new Cons(new Cons(new Integer(1), new Integer(2)), new Cons(new Integer(3), getEmpty()))),
            "((1  . 2) 3)");
  EXPECT_EQ(printed(new Integer(INT_MIN)), "-2147483648");
}

TEST(PrintingDeathTest, ABareItemHasNoPrintedForm) {
  EXPECT_EXIT(
      {
        // The line goes to the stream being printed on.
        Item* bare = new Item();
        std::cerr << bare;
      },
      testing::ExitedWithCode(1), "Error: printing generic item.");
}

TEST(Arithmetic, WrapsAtThirtyTwoBits) {
  EXPECT_EQ(wrappingAdd(INT_MAX, 1), INT_MIN);
  EXPECT_EQ(wrappingSub(INT_MIN, 1), INT_MAX);
  EXPECT_EQ(wrappingMul(65536, 65536), 0);
  EXPECT_EQ(wrappingMul(INT_MIN, -1), INT_MIN);
}

TEST(Sharing, SmallIntegersAreSharedAndOthersAreNot) {
  EXPECT_EQ(Integer::make(0), Integer::make(0));
  EXPECT_EQ(Integer::make(-1), Integer::make(-1));
  EXPECT_NE(Integer::make(1 << 20), Integer::make(1 << 20));
  for (int number : {INT_MIN, -129, -128, 0, 1023, 1024, INT_MAX}) EXPECT_EQ(Integer::make(number)->getInt(), number);
}

TEST(Sharing, SymbolsOfOneNameShareTheirIdHoweverMade) {
  Symbol* shared = Symbol::named("shared-name");
  EXPECT_EQ(Symbol::named("shared-name"), shared);
  const Symbol separate(std::string("shared-name"));
  EXPECT_EQ(separate.id(), shared->id());
  EXPECT_EQ(Symbol::idOf("shared-name"), shared->id());
  EXPECT_NE(Symbol::named("shared-nam")->id(), shared->id());
  EXPECT_EQ(shared->getString(), "shared-name");
}

TEST(ChunkedStack, KeepsItsElementsAcrossChunks) {
  // Several chunks' worth, popped back below chunk boundaries and grown again.
  ChunkedStack<std::size_t> stack;
  constexpr std::size_t count = 10000;
  for (std::size_t i = 0; i < count; ++i) stack.push(i);
  std::size_t* bottom = &stack[0];
  for (std::size_t i = count; i > 4095; --i) {
    ASSERT_EQ(stack.top(), i - 1);
    stack.pop();
  }
  for (std::size_t i = 4095; i < 2 * count; ++i) stack.push(i);
  ASSERT_EQ(stack.size(), 2 * count);
  EXPECT_EQ(&stack[0], bottom);
  for (std::size_t i = 0; i < 2 * count; ++i) ASSERT_EQ(stack[i], i);
  while (!stack.empty()) stack.pop();
  stack.push(7);
  EXPECT_EQ(stack.top(), 7U);
  EXPECT_EQ(&stack[0], bottom);
}

TEST(EvaluationStack, BareCallsPastWhatAFrameCountsAreAllGivenBack) {
  // More calls that bind nothing than one frame can count: the rest go on a
  // frame of their own, and every level is closed again as the value comes
  // back down, as the evaluation loop hands it on.
  EvaluationStack frames;
  frames.push(Frame::forResult());
  constexpr std::size_t calls = 200'000;
  for (std::size_t i = 0; i < calls; ++i) frames.enterBareCall();
  EXPECT_EQ(frames.depth(), 1 + calls);
  EXPECT_GT(frames.size(), 1U);
  while (frames.top().awaiting == Awaiting::body) {
    EXPECT_EQ(frames.top().bindings, 0U);
    frames.settle();
    frames.pop();
  }
  frames.settle();
  EXPECT_EQ(frames.size(), 1U);
  EXPECT_EQ(frames.depth(), 1U);
}

TEST(Arena, EveryValueIsPointerAligned) {
  for (std::size_t size : {1, 12, 13, 24, 40}) {
    const auto address = reinterpret_cast<std::uintptr_t>(arena::allocate(size));
    EXPECT_EQ(address % alignof(void*), 0U) << size;
  }
}

TEST(Arena, EveryRequestHasStorageOfItsOwn) {
  // Even a request for nothing gets an address no other value has, and one
  // larger than the largest block a block of its own, whole.
  auto* nothing = static_cast<char*>(arena::allocate(0));
  auto* next = static_cast<char*>(arena::allocate(1));
  EXPECT_NE(nothing, next);
  constexpr std::size_t huge = std::size_t{128} << 20;
  auto* big = static_cast<char*>(arena::allocate(huge));
  big[0] = 1;
  big[huge - 1] = 2;
  auto* after = static_cast<char*>(arena::allocate(24));
  EXPECT_TRUE(after + 24 <= big || after >= big + huge);
  EXPECT_EQ(big[huge - 1], 2);
}

}  // namespace
