// The truth value "#t": one shared value, the only one that counts as true.
#pragma once

#include "item.h"

class True final : public Item {
 public:
  // The one true value, made on first request.
  static True* getInstance() { return true_ != nullptr ? true_ : create(); }

  void print(std::ostream& os) const override;
  bool isTrue() const override;

 private:
  True() = default;
  static True* create();
  static True* true_;
};

inline Item* getTrue() { return True::getInstance(); }
