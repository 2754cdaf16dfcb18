// The binding stack's contract, and its lookup index checked against the plain
// walk from the newest entry that it stands in for.
#include "stack.h"

#include <gtest/gtest.h>

#include <iostream>
#include <random>
#include <sstream>
#include <string>
#include <typeinfo>
#include <vector>

#include "cons.h"
#include "empty.h"
#include "environment.h"
#include "integer.h"
#include "symbol.h"

namespace {

Item* binding(const std::string& name, Item* value) { return new Cons(new Symbol(name), new Cons(value, getEmpty())); }

// Captures what the stack writes to standard output.
class CapturedOutput {
 public:
  CapturedOutput() : saved_(std::cout.rdbuf(text_.rdbuf())) {}
  ~CapturedOutput() { std::cout.rdbuf(saved_); }
  std::string text() const { return text_.str(); }

 private:
  std::ostringstream text_;
  std::streambuf* saved_;
};

// In a death test, error lines go to standard error, where gtest can see them.
void errorLinesToStderr() { std::cout.rdbuf(std::cerr.rdbuf()); }

TEST(Stack, NewStackHoldsOnlyTheBottomMarker) {
  Stack stack;
  ASSERT_TRUE(stack.getStack()->isCons());
  EXPECT_EQ(stack.getCar(), getEmpty());
  EXPECT_EQ(stack.getCdr(), getEmpty());
}

TEST(Stack, PushThenPopRestoresTheListAndReturnsTheEntry) {
  Stack stack;
  Item* before = stack.getStack();
  Item* entry = binding("x", new Integer(1));
  stack.push(entry);
  EXPECT_EQ(stack.getCar(), entry);
  EXPECT_EQ(stack.getCdr(), before);
  EXPECT_EQ(stack.pop(), entry);
  EXPECT_EQ(stack.getStack(), before);
}

TEST(Stack, PopOnAnEmptyStackWritesWithoutNewlineAndGoesOn) {
  Stack stack;
  Item* result = nullptr;
  std::string written;
  {
    CapturedOutput output;
    result = stack.pop();
    written = output.text();
  }
  EXPECT_EQ(written, "Error: Trying to pop an empty list.");
  EXPECT_EQ(result, getEmpty());
  Item* entry = binding("x", new Integer(1));
  stack.push(entry);
  EXPECT_EQ(stack.pop(), entry);
}

TEST(Stack, APoppedCellIsReusedByTheNextPush) {
  // Loops that bind and unbind millions of times must not grow memory.
  Stack stack;
  Item* first = binding("x", new Integer(1));
  Item* second = binding("y", new Integer(2));
  stack.push(first);
  Item* cell = stack.getStack();
  stack.pop();
  stack.push(second);
  EXPECT_EQ(stack.getStack(), cell);
}

TEST(Stack, DestructorPopsEveryEntry) {
  Item* entry = binding("x", new Integer(1));
  {
    Stack stack;
    for (int i = 0; i < 100; ++i) stack.push(entry);
  }
  // The entries themselves are not the stack's to free.
  EXPECT_EQ(entry->getCar()->getString(), "x");
}

TEST(Environment, MakesOneStackOnFirstUse) {
  Stack* stack = Environment::getInstance();
  ASSERT_NE(stack, nullptr);
  EXPECT_EQ(Environment::getInstance(), stack);
}

TEST(Lookup, NewestBindingWinsAndOlderOnesReturnAfterPops) {
  Stack stack;
  Symbol x("x");
  EXPECT_EQ(stack.lookup(x), nullptr);
  Item* one = new Integer(1);
  Item* two = new Integer(2);
  stack.push(binding("x", one));
  stack.push(binding("y", new Integer(9)));
  stack.push(binding("x", two));
  EXPECT_EQ(stack.lookup(x), two);
  stack.pop();
  EXPECT_EQ(stack.lookup(x), one);
  stack.pop();
  stack.pop();
  EXPECT_EQ(stack.lookup(x), nullptr);
}

TEST(Lookup, NamesMatchWholeAndExactly) {
  Stack stack;
  stack.push(binding("abc", new Integer(1)));
  EXPECT_EQ(stack.lookup(Symbol("abcd")), nullptr);
  EXPECT_EQ(stack.lookup(Symbol("ab")), nullptr);
  EXPECT_EQ(stack.lookup(Symbol("ABC")), nullptr);
  EXPECT_NE(stack.lookup(Symbol("abc")), nullptr);
}

TEST(Lookup, AnEmptyListEntryEndsTheSearchLikeTheBottomMarker) {
  Stack stack;
  stack.push(binding("x", new Integer(1)));
  stack.push(getEmpty());
  EXPECT_EQ(stack.lookup(Symbol("x")), nullptr);
  stack.pop();
  EXPECT_NE(stack.lookup(Symbol("x")), nullptr);
}

TEST(LookupDeathTest, ABindingNamedByANonSymbolStopsTheSearch) {
  EXPECT_EXIT(
      {
        errorLinesToStderr();
        Stack stack;
        stack.push(binding("x", new Integer(1)));
        stack.push(new Cons(new Integer(5), new Cons(new Integer(1), getEmpty())));
        stack.lookup(Symbol("x"));
      },
      testing::ExitedWithCode(1), "Error: tried to getString from non-String.");
}

TEST(LookupDeathTest, ABindingWithoutValueFailsWhenMatched) {
  EXPECT_EXIT(
      {
        errorLinesToStderr();
        Stack stack;
        stack.push(new Cons(new Symbol("x"), getEmpty()));
        stack.lookup(Symbol("x"));
      },
      testing::ExitedWithCode(1), "Error: tried to getCar from non-Cons.");
}

TEST(LookupDeathTest, ABindingNamedByNoValueIsAnUnboundSymbol) {
  EXPECT_EXIT(
      {
        errorLinesToStderr();
        Stack stack;
        stack.push(new Cons(nullptr, new Cons(new Integer(1), getEmpty())));
        stack.lookup(Symbol("x"));
      },
      testing::ExitedWithCode(1), "Error: unbound symbol.");
}

// What the plain walk from the newest entry gives for a name.
enum class Walk { value, none, nonStringName, noValueName, noValue, notAList };
struct WalkResult {
  Walk kind;
  Item* value = nullptr;
};

WalkResult walk(Item* cell, const std::string& name) {
  for (;; cell = cell->getCdr()) {
    Item* entry = cell->getCar();
    if (entry == getEmpty()) return {Walk::none};
    if (entry == nullptr || !entry->isCons()) return {Walk::notAList};
    Item* first = entry->getCar();
    if (first == nullptr) return {Walk::noValueName};
    if (typeid(*first) != typeid(Symbol)) return {Walk::nonStringName};
    if (first->getString() == name) {
      if (!entry->getCdr()->isCons()) return {Walk::noValue};
      return {Walk::value, entry->getCdr()->getCar()};
    }
    if (cell->getCdr() == getEmpty()) return {Walk::none};
  }
}

TEST(Lookup, IndexAgreesWithTheWalkThroughRandomPushesAndPops) {
  const std::vector<std::string> names{"a", "b", "c", "d"};
  const std::vector<Symbol*> symbols{new Symbol("a"), new Symbol("b"), new Symbol("c"), new Symbol("d")};
  std::mt19937 random(20261207);
  for (int round = 0; round < 20; ++round) {
    Stack stack;
    std::size_t depth = 0;
    for (int step = 0; step < 400; ++step) {
      const auto choice = random() % 10;
      if (choice < 4 && depth > 0) {
        stack.pop();
        --depth;
      } else {
        const std::string& name = names[random() % names.size()];
        Item* entry = nullptr;
        switch (random() % 12) {
          case 0:
            entry = new Cons(new Integer(7), new Cons(new Integer(1), getEmpty()));
            break;
          case 1:
            entry = new Cons(new Symbol(name), getEmpty());
            break;
          case 2:
            entry = getEmpty();
            break;
          case 3:
            entry = new Cons(nullptr, getEmpty());
            break;
          default:
            entry = binding(name, new Integer(step));
            break;
        }
        stack.push(entry);
        ++depth;
      }
      for (std::size_t i = 0; i < names.size(); ++i) {
        const WalkResult expected = walk(stack.getStack(), names[i]);
        // Failing lookups end the process; they are covered one by one above.
        if (expected.kind == Walk::value || expected.kind == Walk::none) {
          ASSERT_EQ(stack.lookup(*symbols[i]), expected.value) << "round " << round << " step " << step;
        }
      }
    }
  }
}

}  // namespace
