// The empty list, "()": one shared value that ends every proper list.
#pragma once

#include "item.h"

class Empty final : public Item {
 public:
  // The one empty list, made on first request.
  static Empty* getInstance();

  void print(std::ostream& os) const override;
  bool isEmpty() const override;

 private:
  Empty() = default;
  static Empty* empty_;
};

Item* getEmpty();
