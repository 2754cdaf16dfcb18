#include "true.h"

#include "output.h"

True* True::true_ = nullptr;

True* True::create() {
  true_ = new True();
  return true_;
}

void True::print(std::ostream& os) const { write(os, "#t"); }

bool True::isTrue() const { return true; }
