#pragma once
// Sets an environment variable for one test and puts the old value back.

#include <optional>
#include <string>

namespace qm::testing {

class EnvOverride {
 public:
  EnvOverride(const char* name, const std::string& value);
  ~EnvOverride();
  EnvOverride(const EnvOverride&) = delete;
  EnvOverride& operator=(const EnvOverride&) = delete;

 private:
  const char* name_;
  std::optional<std::string> old_;
};

}  // namespace qm::testing
