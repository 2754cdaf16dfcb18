// Reads one expression from standard input: integers, symbols, lists and
// dotted pairs. It holds one character of lookahead, so after an expression
// exactly one character beyond it has been taken from the input (what the
// reader took beyond that is given back where the input can seek). Reaching the
// end of the input anywhere ends the run quietly with status 0.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "chunked.h"
#include "cons.h"
#include "item.h"

class Parser {
 public:
  Parser();

  // Skips whitespace and reads one expression. Ends the run with "Bad input."
  // when a ")" or "." stands where an expression must begin, and with
  // "Bad pair" when anything but ")" follows the expression after a ".".
  Item* readItem();

  // The character tests, on the current character.
  bool isWhitespace() const;
  bool isPunctuation() const;
  bool isDigit() const;

 private:
  // A list whose "(" has been read and whose ")" has not.
  struct OpenList {
    ListBuilder elements;
    bool dotted = false;  // its "." has been read; the tail comes next
    // How many lists the printer is inside while printing this one's
    // elements (see MadeSoFar): 0 for the outermost list.
    std::uint32_t nesting = 0;
  };

  void getNextChar();
  void skipWhitespace();
  Item* readInteger();
  Item* readSymbol();
  // Reads on in the innermost open list, after its "(" or after an element:
  // at its ")" closes it and returns it; otherwise returns null, with the list
  // marked dotted when a "." was read, and an item comes next.
  // The open lists, innermost on top. A chunked stack: a program nested a
  // hundred thousand deep would otherwise be copied into ever larger arrays.
  using OpenLists = ChunkedStack<OpenList, 8>;
  Item* readCdr(OpenLists& open);
  void refill();
  // Hands what was read beyond the lookahead back to standard input, where it
  // can be (see platform::giveBackInput), and forgets it.
  void giveBack();

  int current_ = ' ';
#ifdef VELLUMARK_TRACE
  // Where the current character stands, and the one before it: line and
  // column from 1. Only the traced build tells places.
  std::uint32_t line_ = 1;
  std::uint32_t column_ = 0;
  std::uint32_t lastLine_ = 1;
  std::uint32_t lastColumn_ = 0;
#else
  static constexpr std::uint32_t line_ = 0;
  static constexpr std::uint32_t column_ = 0;
  static constexpr std::uint32_t lastLine_ = 0;
  static constexpr std::uint32_t lastColumn_ = 0;
#endif
  std::string name_;  // the name being read, kept to reuse its storage
  // Input is taken in large blocks; `next_` and `end_` delimit what is left.
  std::unique_ptr<unsigned char[]> buffer_;
  const unsigned char* next_ = nullptr;
  const unsigned char* end_ = nullptr;
};
