// Where the one binding stack of a run is found.
#pragma once

class Stack;

class Environment {
 public:
  Environment() = delete;

  // The binding stack, made on first use.
  static Stack* getInstance();

 private:
  static Stack* stack_;
};
