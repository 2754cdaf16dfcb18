// Where the one binding stack of a run is found.
#pragma once

class Stack;

class Environment {
 public:
  Environment() = delete;

  // The binding stack, made on first use.
  static Stack* getInstance() { return stack_ != nullptr ? stack_ : create(); }

 private:
  static Stack* create();
  static Stack* stack_;
};
