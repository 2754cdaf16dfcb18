#include "false.h"

#include "output.h"

False* False::false_ = nullptr;

False* False::create() {
  false_ = new False();
  return false_;
}

void False::print(std::ostream& os) const { write(os, "#f"); }

bool False::isFalse() const { return true; }
