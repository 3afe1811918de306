#include "settings/Win32Registry.h"

#include <windows.h>

#include <utility>

namespace qm {

namespace {

HKEY RootKey(RegistryRoot root) {
  return root == RegistryRoot::LocalMachine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
}

HKEY Handle(RegistryKey key) { return reinterpret_cast<HKEY>(key); }

RegistryKey Key(HKEY handle) { return reinterpret_cast<RegistryKey>(handle); }

}  // namespace

long Win32Registry::OpenKey(RegistryRoot root, const std::string& sub_key, RegistryKey* key) {
  HKEY handle = nullptr;
  LONG result = RegOpenKeyA(RootKey(root), sub_key.c_str(), &handle);
  if (result == ERROR_SUCCESS) *key = Key(handle);
  return result;
}

long Win32Registry::CreateKey(RegistryRoot root, const std::string& sub_key, RegistryKey* key) {
  char no_class[] = "";
  HKEY handle = nullptr;
  DWORD disposition = 0;
  LONG result =
      RegCreateKeyExA(RootKey(root), sub_key.c_str(), 0, no_class, REG_OPTION_NON_VOLATILE,
                      KEY_QUERY_VALUE | KEY_SET_VALUE, nullptr, &handle, &disposition);
  if (result == ERROR_SUCCESS) *key = Key(handle);
  return result;
}

// The size is asked first and the value then read whole; a value that grows in
// between is asked for again.
long Win32Registry::QueryValue(RegistryKey key, const std::string& name, std::uint32_t* type,
                               Bytes* data) {
  DWORD value_type = 0;
  DWORD size = 0;
  LONG result = RegQueryValueExA(Handle(key), name.c_str(), nullptr, &value_type, nullptr, &size);
  Bytes buffer;
  while (result == ERROR_SUCCESS || result == ERROR_MORE_DATA) {
    buffer.resize(size);
    result = RegQueryValueExA(Handle(key), name.c_str(), nullptr, &value_type,
                              buffer.empty() ? nullptr : buffer.data(), &size);
    if (result == ERROR_SUCCESS) {
      buffer.resize(size);
      if (type != nullptr) *type = value_type;
      if (data != nullptr) *data = std::move(buffer);
      return ERROR_SUCCESS;
    }
  }
  return result;
}

long Win32Registry::SetValue(RegistryKey key, const std::string& name, std::uint32_t type,
                             const Bytes& data) {
  return RegSetValueExA(Handle(key), name.c_str(), 0, type, data.data(),
                        static_cast<DWORD>(data.size()));
}

long Win32Registry::DeleteValue(RegistryKey key, const std::string& name) {
  return RegDeleteValueA(Handle(key), name.c_str());
}

long Win32Registry::CloseKey(RegistryKey key) { return RegCloseKey(Handle(key)); }

}  // namespace qm
