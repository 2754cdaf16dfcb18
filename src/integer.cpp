#include "integer.h"

#include <array>
#include <charconv>

#include "output.h"

namespace {

// The shared integers, made on first use. At namespace scope, so that using
// it needs no check that it was initialised.
std::array<Integer*, Integer::largestShared - Integer::smallestShared + 1> shared{};

}  // namespace

Integer* Integer::make(int number) {
  if (number < smallestShared || number > largestShared) return new Integer(number);
  Integer*& slot = shared[static_cast<std::size_t>(number - smallestShared)];
  if (slot == nullptr) slot = new Integer(number);
  return slot;
}

void Integer::print(std::ostream& os) const { printNumber(os); }

void Integer::printNumber(std::ostream& os) const {
  // A single digit, the commonest number in a program, goes out as one
  // character without the conversion.
  if (number_ >= 0 && number_ <= 9) {
    put(os, static_cast<char>('0' + number_));
    return;
  }
  char digits[12];
  const auto end = std::to_chars(digits, digits + sizeof digits, number_).ptr;
  write(os, std::string_view(digits, static_cast<std::size_t>(end - digits)));
}

int Integer::getInt() const { return number_; }
