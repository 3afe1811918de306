#include "tests/support/EnvOverride.h"

#include <stdlib.h>

namespace qm::testing {

EnvOverride::EnvOverride(const char* name, const std::string& value) : name_(name) {
  if (const char* old = ::getenv(name)) old_ = old;
  ::setenv(name, value.c_str(), 1);
}

EnvOverride::~EnvOverride() {
  if (old_) {
    ::setenv(name_, old_->c_str(), 1);
  } else {
    ::unsetenv(name_);
  }
}

}  // namespace qm::testing
