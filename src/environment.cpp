#include "environment.h"

#include "stack.h"

Stack* Environment::stack_ = nullptr;

Stack* Environment::create() {
  stack_ = new Stack();
  return stack_;
}
