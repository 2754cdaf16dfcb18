#include "false.h"

#include "output.h"

False* False::false_ = nullptr;

False* False::getInstance() {
  if (false_ == nullptr) false_ = new False();
  return false_;
}

void False::print(std::ostream& os) const { write(os, "#f"); }

bool False::isFalse() const { return true; }

Item* getFalse() { return False::getInstance(); }
