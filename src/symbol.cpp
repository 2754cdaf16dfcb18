#include "symbol.h"

#include "environment.h"
#include "output.h"
#include "stack.h"

Item* Symbol::evaluate() { return Environment::getInstance()->lookup(*this); }

void Symbol::print(std::ostream& os) const { write(os, name_); }

std::string Symbol::getString() const { return name_; }
