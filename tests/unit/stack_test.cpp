// The binding stack's contract, and its indexed lookup checked against the
// plain walk from the newest binding that it stands in for.
#include "stack.h"

#include <gtest/gtest.h>

#include <iostream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "cons.h"
#include "empty.h"
#include "environment.h"
#include "integer.h"
#include "symbol.h"

namespace {

// Captures what the stack writes to standard output.
class CapturedOutput {
 public:
  CapturedOutput() : saved_(std::cout.rdbuf(text_.rdbuf())) {}
  ~CapturedOutput() { std::cout.rdbuf(saved_); }
  CapturedOutput(const CapturedOutput&) = delete;
  CapturedOutput& operator=(const CapturedOutput&) = delete;
  std::string text() const { return text_.str(); }

 private:
  std::ostringstream text_;
  std::streambuf* saved_;
};

// In a death test, error lines go to standard error, where gtest can see them.
void errorLinesToStderr() { std::cout.rdbuf(std::cerr.rdbuf()); }

TEST(Stack, PopOnAnEmptyStackWritesWithoutNewlineAndGoesOn) {
  Stack stack;
  std::string written;
  {
    CapturedOutput output;
    stack.pop();
    written = output.text();
  }
  EXPECT_EQ(written, "Error: Trying to pop an empty list.");
  EXPECT_EQ(stack.size(), 0U);
  Item* one = Integer::make(1);
  stack.push(Symbol::named("x"), one);
  EXPECT_EQ(stack.lookup(*Symbol::named("x")), one);
}

TEST(Environment, MakesOneStackOnFirstUse) {
  Stack* stack = Environment::getInstance();
  ASSERT_NE(stack, nullptr);
  EXPECT_EQ(Environment::getInstance(), stack);
}

TEST(Lookup, NewestBindingWinsAndOlderOnesReturnAfterPops) {
  Stack stack;
  const Symbol x("x");
  EXPECT_EQ(stack.lookup(x), nullptr);
  Item* one = new Integer(1);
  Item* two = new Integer(2);
  stack.push(new Symbol("x"), one);
  stack.push(new Symbol("y"), new Integer(9));
  stack.push(Symbol::named("x"), two);
  EXPECT_EQ(stack.lookup(x), two);
  stack.pop();
  EXPECT_EQ(stack.lookup(x), one);
  stack.pop();
  stack.pop();
  EXPECT_EQ(stack.lookup(x), nullptr);
}

TEST(Lookup, NamesMatchWholeAndExactly) {
  Stack stack;
  stack.push(new Symbol("abc"), Integer::make(1));
  EXPECT_EQ(stack.lookup(Symbol("abcd")), nullptr);
  EXPECT_EQ(stack.lookup(Symbol("ab")), nullptr);
  EXPECT_EQ(stack.lookup(Symbol("ABC")), nullptr);
  EXPECT_NE(stack.lookup(Symbol("abc")), nullptr);
}

TEST(Lookup, ABindingToNoValueLooksLikeNoBinding) {
  Stack stack;
  stack.push(Symbol::named("x"), Integer::make(1));
  stack.push(Symbol::named("x"), nullptr);
  EXPECT_EQ(stack.lookup(*Symbol::named("x")), nullptr);
}

TEST(LookupDeathTest, ABindingNamedByANonSymbolStopsTheSearch) {
  EXPECT_EXIT(
      {
        errorLinesToStderr();
        Stack stack;
        stack.push(Symbol::named("x"), Integer::make(1));
        stack.push(Integer::make(5), Integer::make(1));
        (void)stack.lookup(*Symbol::named("x"));
      },
      testing::ExitedWithCode(1), "Error: tried to getString from non-String.");
}

TEST(LookupDeathTest, ABindingWithoutValueFailsWhenMatched) {
  EXPECT_EXIT(
      {
        errorLinesToStderr();
        Stack stack;
        stack.pushWithoutValue(Symbol::named("x"));
        (void)stack.lookup(*Symbol::named("x"));
      },
      testing::ExitedWithCode(1), "Error: tried to getCar from non-Cons.");
}

TEST(LookupDeathTest, ABindingNamedByNoValueIsAnUnboundSymbol) {
  EXPECT_EXIT(
      {
        errorLinesToStderr();
        Stack stack;
        stack.push(nullptr, Integer::make(1));
        (void)stack.lookup(*Symbol::named("x"));
      },
      testing::ExitedWithCode(1), "Error: unbound symbol.");
}

// A binding as the plain walk sees it, and what the walk gives for a name.
struct Entry {
  Item* name;
  bool hasValue;
  Item* value;
};
enum class Walk { value, none, fails };
struct WalkResult {
  Walk kind;
  Item* value = nullptr;
  std::size_t position = 0;  // of the binding matched, from 1
};

WalkResult walk(const std::vector<Entry>& entries, const std::string& name) {
  for (auto entry = entries.rbegin(); entry != entries.rend(); ++entry) {
    if (entry->name == nullptr || !isSymbol(*entry->name)) return {Walk::fails};
    if (entry->name->getString() == name) {
      const auto position = static_cast<std::size_t>(entries.rend() - entry);
      return entry->hasValue ? WalkResult{Walk::value, entry->value, position} : WalkResult{Walk::fails};
    }
  }
  return {Walk::none};
}

// The position the trace reports for a lookup is the binding the walk stops at.
TEST(Lookup, IndexAgreesWithTheWalkThroughRandomPushesAndPops) {
  const std::vector<std::string> names{"a", "b", "c", "d"};
  std::mt19937 random(20261207);
  for (int round = 0; round < 20; ++round) {
    Stack stack;
    std::vector<Entry> entries;
    for (int step = 0; step < 400; ++step) {
      if (random() % 10 < 4 && !entries.empty()) {
        stack.pop();
        entries.pop_back();
      } else {
        // Symbols of one name are sometimes shared and sometimes not.
        const std::string& name = names[random() % names.size()];
        Item* symbol = random() % 2 == 0 ? Symbol::named(name) : new Symbol(name);
        Entry entry{symbol, true, new Integer(step)};
        switch (random() % 12) {
          case 0:
            entry.name = Integer::make(7);
            break;
          case 1:
            entry.hasValue = false;
            break;
          case 2:
            entry.name = nullptr;
            break;
          case 3:
            entry.value = nullptr;
            break;
          default:
            break;
        }
        if (entry.hasValue) {
          stack.push(entry.name, entry.value);
        } else {
          stack.pushWithoutValue(entry.name);
        }
        entries.push_back(entry);
      }
      ASSERT_EQ(stack.size(), entries.size());
      for (const std::string& name : names) {
        const WalkResult expected = walk(entries, name);
        // Failing lookups end the process; they are covered one by one above.
        if (expected.kind != Walk::fails) {
          ASSERT_EQ(stack.lookup(Symbol(name)), expected.value) << "round " << round << " step " << step;
        }
        if (expected.kind == Walk::value) {
          ASSERT_EQ(stack.positionOf(Symbol(name)), expected.position) << "round " << round << " step " << step;
        }
      }
    }
  }
}

}  // namespace
