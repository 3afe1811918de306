#pragma once
// A registry kept in one text file in the REGEDIT4 format, for platforms without
// the Windows registry. The file holds any number of keys of both roots; a key is
// read from the file when it is opened, and the values written through a handle
// are merged into the file, which is rewritten atomically, when the handle closes.
// A missing, unreadable or malformed file reads as an empty registry; malformed
// lines are skipped.

#include <filesystem>
#include <map>
#include <memory>

#include "frame/Registry.h"

namespace qm {

class RegFileRegistry : public Registry {
 public:
  explicit RegFileRegistry(std::filesystem::path file);
  ~RegFileRegistry() override;  // closes, and so stores, handles still open
  RegFileRegistry(const RegFileRegistry&) = delete;
  RegFileRegistry& operator=(const RegFileRegistry&) = delete;

  long OpenKey(RegistryRoot root, const std::string& sub_key, RegistryKey* key) override;
  long CreateKey(RegistryRoot root, const std::string& sub_key, RegistryKey* key) override;
  long QueryValue(RegistryKey key, const std::string& name, std::uint32_t* type,
                  Bytes* data) override;
  long SetValue(RegistryKey key, const std::string& name, std::uint32_t type,
                const Bytes& data) override;
  long CloseKey(RegistryKey key) override;

 private:
  struct OpenedKey;

  long Open(RegistryRoot root, const std::string& sub_key, bool create, RegistryKey* key);
  OpenedKey* Find(RegistryKey key);

  std::filesystem::path file_;
  std::map<RegistryKey, std::unique_ptr<OpenedKey>> opened_;
  RegistryKey next_key_ = 1;
};

}  // namespace qm
