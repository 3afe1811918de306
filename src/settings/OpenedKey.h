#pragma once
// One key of a Registry, held open for the scope that reads or writes its
// values and closed when that ends. A store that buffers writes (the settings
// file) makes them lasting at the close: a writer that must know whether they
// lasted closes the key itself (Close) and looks at the result.

#include <cstdint>
#include <optional>
#include <string>

#include "settings/Registry.h"

namespace qm {

// A value as the registry keeps it: its type and its bytes.
struct RegistryData {
  std::uint32_t type = 0;
  Bytes data;
};

class OpenedKey {
 public:
  enum class Access { kRead, kCreate };

  // Opens the key `sub_key` of `root` (kRead: only when it exists; kCreate:
  // creating it when it does not). See is_open() for the result.
  OpenedKey(Registry& registry, RegistryRoot root, const std::string& sub_key, Access access);
  ~OpenedKey() { Close(); }
  OpenedKey(const OpenedKey&) = delete;
  OpenedKey& operator=(const OpenedKey&) = delete;

  bool is_open() const { return key_ != 0; }

  // The value `name`; nothing when it is absent or the key is not open.
  std::optional<RegistryData> Query(const std::string& name) const;
  // The registry's result (a Win32 error code, 0 on success).
  long Set(const std::string& name, std::uint32_t type, const Bytes& data);
  long Delete(const std::string& name);
  // Closes the key now; the registry's result, 0 when it was not open.
  long Close();

 private:
  Registry& registry_;
  RegistryKey key_ = 0;
};

}  // namespace qm
