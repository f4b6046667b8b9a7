// Sets an environment variable for one scope and puts the old value back.
#pragma once

#include <cstdlib>
#include <string>

class ScopedVariable {
 public:
  // A null value unsets the variable for the scope.
  ScopedVariable(const char* name, const char* value) : name(name) {
    const char* old = getenv(name);
    hadValue = old != nullptr;
    if (hadValue) oldValue = old;
    if (value != nullptr) setenv(name, value, 1);
    else unsetenv(name);
  }
  ~ScopedVariable() {
    if (hadValue) setenv(name, oldValue.c_str(), 1);
    else unsetenv(name);
  }
  ScopedVariable(const ScopedVariable&) = delete;
  ScopedVariable& operator=(const ScopedVariable&) = delete;

 private:
  const char* name;
  bool hadValue = false;
  std::string oldValue;
};
