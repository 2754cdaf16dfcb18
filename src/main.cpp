// The driver: one run reads one expression, echoes it, evaluates it and writes
// the result.
#include <iostream>
#include <new>

#include "fail.h"
#include "item.h"
#include "output.h"
#include "parser.h"
#include "trace.h"

namespace {

[[noreturn]] void run() {
  std::cout << "Vellumark" << std::endl << std::endl;
  auto* parser = new Parser();
  Item* item = parser->readItem();
  trace::read(item);
  std::cout << "In:   " << item << std::endl;
  Item* result = item->evaluate();
  // Checked before the label, so that a result holding no value gives the
  // error line alone.
  checkBound(result);
  std::cout << "Out:  " << result << std::endl;
  finish(0);
}

}  // namespace

int main(int argc, char** argv) {
  // The interpreter writes only through std::cout, so it needs no tie to C
  // stdio; its own large buffer writes a long list in a few system calls.
  // Line ends still flush it where the output format asks.
  std::ios::sync_with_stdio(false);
  useLargeOutputBuffer();
  std::set_new_handler(failOutOfMemory);
  trace::start(argc, argv);
  run();
}
