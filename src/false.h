// The truth value "#f": one shared value. Note that it is not the only value
// that fails a test: only "#t" counts as true.
#pragma once

#include "item.h"

class False final : public Item {
 public:
  // The one false value, made on first request.
  static False* getInstance() { return false_ != nullptr ? false_ : create(); }

  void print(std::ostream& os) const override;
  bool isFalse() const override;

 private:
  False() = default;
  static False* create();
  static False* false_;
};

inline Item* getFalse() { return False::getInstance(); }
