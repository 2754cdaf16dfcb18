#include "fail.h"

#include <cstdlib>
#include <iostream>

#include "trace.h"

void fail(std::string_view line) { fail(line, std::cout); }

void fail(std::string_view line, std::ostream& out) {
  trace::failing(line);
  out << line << std::endl;
  finish(1);
}

void failOutOfMemory() { fail("Error: out of memory."); }

int outputStatus(int status) {
  std::cout.flush();
  return std::cout ? status : 1;
}

void finish(int status) {
  trace::finishing(status);
  std::exit(outputStatus(status));
}
