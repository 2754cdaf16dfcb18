#include "parser.h"

#include <string>

#include "empty.h"
#include "fail.h"
#include "integer.h"
#include "platform.h"
#include "symbol.h"
#include "trace.h"

namespace {

constexpr std::size_t blockSize = std::size_t{1} << 16;

}  // namespace

Parser::Parser() : buffer_(new unsigned char[blockSize]) {}

bool Parser::isWhitespace() const {
  return current_ == ' ' || current_ == '\t' || current_ == '\n' || current_ == '\r';
}

bool Parser::isPunctuation() const { return current_ == '(' || current_ == ')' || current_ == '.' || isWhitespace(); }

bool Parser::isDigit() const { return current_ >= '0' && current_ <= '9'; }

void Parser::refill() {
  const std::ptrdiff_t count = platform::readInput(buffer_.get(), blockSize);
  // Input that cannot be read is no end of input: the run must not report
  // success for what it never saw.
  if (count < 0) fail(Error::unreadableInput);
  if (count == 0) {
    trace::inputEnded(line_, column_, !isPunctuation());
    finish(0);  // The end of the input ends the run quietly.
  }
  next_ = buffer_.get();
  end_ = next_ + count;
}

void Parser::giveBack() {
  platform::giveBackInput(static_cast<std::size_t>(end_ - next_));
  next_ = end_;
}

void Parser::getNextChar() {
  if (next_ == end_) refill();
#ifdef VELLUMARK_TRACE
  lastLine_ = line_;
  lastColumn_ = column_;
  if (current_ == '\n') {
    ++line_;
    column_ = 1;
  } else {
    ++column_;
  }
#endif
  current_ = *next_++;
}

void Parser::skipWhitespace() {
  while (isWhitespace()) getNextChar();
}

Item* Parser::readInteger() {
  int value = 0;
  while (isDigit()) {
    value = wrappingAdd(wrappingMul(value, 10), current_ - '0');
    getNextChar();
  }
  return Integer::make(value);
}

Item* Parser::readSymbol() {
  name_.clear();
  // A NUL byte ends the name; what follows it up to the punctuation is read
  // and dropped, never stored, however long it runs.
  bool ended = false;
  while (!isPunctuation()) {
    ended = ended || current_ == '\0';
    if (!ended) name_.push_back(static_cast<char>(current_));
    getNextChar();
  }
  return Symbol::named(name_);
}

Item* Parser::readCdr(OpenLists& open) {
  OpenList& list = open.top();
  skipWhitespace();
  if (current_ == ')') {
    Item* finished = list.elements.finish(getEmpty());
    open.pop();
    trace::listClosed(finished, line_, column_);
    getNextChar();
    return finished;
  }
  if (current_ == '.') {
    getNextChar();
    list.dotted = true;
  }
  return nullptr;
}

Item* Parser::readItem() {
  // Lists are read with a stack of the open ones instead of recursion, so that
  // neither a long list nor deep nesting can exhaust the call stack. The
  // characters taken and the values built are those of the recursive grammar:
  //   item := "(" tail | numeral | symbol
  //   tail := ")" | "." item ")" | item tail
  OpenLists open;
  std::uint32_t deepest = 0;
  for (;;) {
    // An item begins here.
    skipWhitespace();
    Item* value = nullptr;
    if (current_ == '(') {
      trace::listOpened(line_, column_);
      getNextChar();
      // A list read as an element is one level deeper than the list it is in;
      // one read as a dotted tail continues that list when printed.
      const std::uint32_t nesting = open.empty() ? 0 : open.top().nesting + (open.top().dotted ? 0 : 1);
      if (nesting > deepest) deepest = nesting;
      open.push(OpenList{{}, false, nesting});
      value = readCdr(open);
    } else if (isDigit()) {
      const std::uint32_t line = line_;
      const std::uint32_t column = column_;
      value = readInteger();
      trace::atomRead(line, column, lastLine_, lastColumn_);
    } else if (isPunctuation()) {
      trace::readFailed(line_, column_);
      fail(Error::badInput);
    } else {
      const std::uint32_t line = line_;
      const std::uint32_t column = column_;
      value = readSymbol();
      trace::atomRead(line, column, lastLine_, lastColumn_);
    }
    // Hand each finished value to the list it belongs to; a list that ends
    // with it is itself finished and handed on in turn.
    while (value != nullptr) {
      if (open.empty()) {
        trace::readBeyond(current_, next_, end_);
        giveBack();
        if (deepest > madeSoFar.read) madeSoFar.read = deepest;
        return value;
      }
      OpenList& list = open.top();
      if (list.dotted) {
        skipWhitespace();
        if (current_ != ')') {
          trace::readFailed(line_, column_);
          fail(Error::badPair);
        }
        value = list.elements.finish(value);
        open.pop();
        trace::listClosed(value, line_, column_);
        getNextChar();
      } else {
        list.elements.add(value);
        trace::elementAdded(list.elements.last());
        value = readCdr(open);
      }
    }
  }
}
