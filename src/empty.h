// The empty list, "()": one shared value that ends every proper list.
#pragma once

#include "item.h"

class Empty final : public Item {
 public:
  // The one empty list, made on first request.
  static Empty* getInstance() { return empty_ != nullptr ? empty_ : create(); }

  void print(std::ostream& os) const override;
  bool isEmpty() const override;

 private:
  Empty() = default;
  static Empty* create();
  static Empty* empty_;
};

inline Item* getEmpty() { return Empty::getInstance(); }
