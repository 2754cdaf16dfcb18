#include "environment.h"

#include "stack.h"

Stack* Environment::stack_ = nullptr;

Stack* Environment::getInstance() {
  if (stack_ == nullptr) stack_ = new Stack();
  return stack_;
}
