#include "true.h"

#include "output.h"

True* True::true_ = nullptr;

True* True::getInstance() {
  if (true_ == nullptr) true_ = new True();
  return true_;
}

void True::print(std::ostream& os) const { write(os, "#t"); }

bool True::isTrue() const { return true; }

Item* getTrue() { return True::getInstance(); }
