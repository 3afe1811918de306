#pragma once
// A secret store in memory, for tests that check what the sign-on keeps
// without a keyring or a settings file.

#include <map>
#include <optional>
#include <string>
#include <utility>

#include "secrets/SecretStore.h"

namespace qm::testing {

class MemorySecretStore : public SecretStore {
 public:
  std::optional<std::string> Read(SecretKind kind, const std::string& store) override {
    const auto found = secrets_.find({kind, store});
    if (found == secrets_.end()) return std::nullopt;
    return found->second;
  }
  void Write(SecretKind kind, const std::string& store, const std::string& secret) override {
    secrets_[{kind, store}] = secret;
    ++writes_;
  }
  void Erase(SecretKind kind, const std::string& store) override { secrets_.erase({kind, store}); }
  std::string Where() const override { return "memory"; }
  bool IsKeyring() const override { return false; }

  int writes() const { return writes_; }

 private:
  std::map<std::pair<SecretKind, std::string>, std::string> secrets_;
  int writes_ = 0;
};

}  // namespace qm::testing
