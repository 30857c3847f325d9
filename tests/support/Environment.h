#pragma once
// Environment variables a test sets for the library, and puts back.

#include <stdlib.h>

#include <optional>
#include <string>

namespace testsupport {

// An empty value removes the variable.
inline void SetVariable(const char* name, const std::string& value) {
#ifdef _WIN32
    _putenv_s(name, value.c_str());
#else
    value.empty() ? unsetenv(name) : setenv(name, value.c_str(), 1);
#endif
}

// The variable as given while this lives; what it was afterwards.
class ScopedVariable {
  public:
    ScopedVariable(const char* name, const std::string& value) : name_(name) {
        if (const char* old = getenv(name)) old_ = old;
        SetVariable(name, value);
    }
    ~ScopedVariable() { SetVariable(name_, old_.value_or("")); }
    ScopedVariable(const ScopedVariable&) = delete;
    ScopedVariable& operator=(const ScopedVariable&) = delete;

  private:
    const char* name_;
    std::optional<std::string> old_;
};

}  // namespace testsupport
