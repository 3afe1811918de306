#include "settings/OpenedKey.h"

#include <utility>

namespace qm {

OpenedKey::OpenedKey(Registry& registry, RegistryRoot root, const std::string& sub_key,
                     Access access)
    : registry_(registry) {
  RegistryKey key = 0;
  const long result = access == Access::kCreate ? registry_.CreateKey(root, sub_key, &key)
                                                : registry_.OpenKey(root, sub_key, &key);
  if (result == kErrorSuccess) key_ = key;
}

std::optional<RegistryData> OpenedKey::Query(const std::string& name) const {
  if (!is_open()) return std::nullopt;
  RegistryData value;
  if (registry_.QueryValue(key_, name, &value.type, &value.data) != kErrorSuccess) {
    return std::nullopt;
  }
  return value;
}

long OpenedKey::Set(const std::string& name, std::uint32_t type, const Bytes& data) {
  return is_open() ? registry_.SetValue(key_, name, type, data) : kErrorInvalidHandle;
}

long OpenedKey::Delete(const std::string& name) {
  return is_open() ? registry_.DeleteValue(key_, name) : kErrorInvalidHandle;
}

long OpenedKey::Close() {
  if (!is_open()) return kErrorSuccess;
  return registry_.CloseKey(std::exchange(key_, 0));
}

}  // namespace qm
