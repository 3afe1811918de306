#include "tests/support/EnvOverride.h"

#include <stdlib.h>

namespace qm::testing {
namespace {

// Windows' C runtime has neither setenv nor unsetenv: an empty value there
// removes the variable.
void Set(const char* name, const char* value) {
#ifdef _WIN32
  ::_putenv_s(name, value);
#else
  ::setenv(name, value, 1);
#endif
}

void Unset(const char* name) {
#ifdef _WIN32
  ::_putenv_s(name, "");
#else
  ::unsetenv(name);
#endif
}

}  // namespace

EnvOverride::EnvOverride(const char* name, const std::string& value) : name_(name) {
  if (const char* old = ::getenv(name)) old_ = old;
  Set(name, value.c_str());
}

EnvOverride::~EnvOverride() {
  if (old_) {
    Set(name_, old_->c_str());
  } else {
    Unset(name_);
  }
}

}  // namespace qm::testing
