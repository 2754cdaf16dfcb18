#include "integer.h"

#include <charconv>

#include "output.h"

void Integer::print(std::ostream& os) const {
  char digits[12];
  const auto end = std::to_chars(digits, digits + sizeof digits, number_).ptr;
  write(os, std::string_view(digits, static_cast<std::size_t>(end - digits)));
}

int Integer::getInt() const { return number_; }
