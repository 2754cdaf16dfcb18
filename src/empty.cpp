#include "empty.h"

#include "output.h"

Empty* Empty::empty_ = nullptr;

Empty* Empty::create() {
  empty_ = new Empty();
  return empty_;
}

void Empty::print(std::ostream& os) const { write(os, "()"); }

bool Empty::isEmpty() const { return true; }
