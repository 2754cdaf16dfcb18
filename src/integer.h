// A 32-bit signed integer value.
#pragma once

#include "item.h"

static_assert(sizeof(int) == 4, "integers are 32-bit two's complement");

class Integer final : public Item {
 public:
  explicit Integer(int number) : number_(number) {}

  // An integer of `number`. Small numbers, the ones programs use over and
  // over, are shared: nothing can tell two equal integers apart, since values
  // never change and nothing compares them by identity.
  static Integer* make(int number);
  // The shared numbers.
  static constexpr int smallestShared = -128;
  static constexpr int largestShared = 1023;

  void print(std::ostream& os) const override;
  int getInt() const override;
  // The same as print, for the printer, which meets integers often enough in
  // a list for the virtual call to show.
  void printNumber(std::ostream& os) const;

 private:
  int number_;
};

// 32-bit two's-complement arithmetic that wraps instead of overflowing: the
// work is done on unsigned values, where wrapping is defined, and converted
// back, which is modular.
inline int wrappingAdd(int a, int b) { return static_cast<int>(static_cast<unsigned>(a) + static_cast<unsigned>(b)); }
inline int wrappingSub(int a, int b) { return static_cast<int>(static_cast<unsigned>(a) - static_cast<unsigned>(b)); }
inline int wrappingMul(int a, int b) { return static_cast<int>(static_cast<unsigned>(a) * static_cast<unsigned>(b)); }
