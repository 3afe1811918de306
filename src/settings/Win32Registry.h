#pragma once
// The Windows registry through the ANSI entry points of advapi32.

#include "settings/Registry.h"

namespace qm {

class Win32Registry : public Registry {
 public:
  long OpenKey(RegistryRoot root, const std::string& sub_key, RegistryKey* key) override;
  long CreateKey(RegistryRoot root, const std::string& sub_key, RegistryKey* key) override;
  long QueryValue(RegistryKey key, const std::string& name, std::uint32_t* type,
                  Bytes* data) override;
  long SetValue(RegistryKey key, const std::string& name, std::uint32_t type,
                const Bytes& data) override;
  long DeleteValue(RegistryKey key, const std::string& name) override;
  long CloseKey(RegistryKey key) override;
};

}  // namespace qm
