// The reader's verdict for the playground's editor comes from the
// interpreter's own Parser, built into the browser's module beside main().
#include <emscripten/emscripten.h>

#include "parser.h"

// Reads one expression from standard input, as a run does, and returns 0 once
// it is read. Every other way a read ends, the end of the input or an error
// line, ends the module through finish() or fail() exactly as on the command
// line. The page's reader worker gives each call a module of its own and its
// input one byte per read(), so the bytes taken and the way the module ended
// say how far the reader got and why it stopped.
extern "C" EMSCRIPTEN_KEEPALIVE int vellumark_read() {
  Parser parser;
  parser.readItem();
  return 0;
}
