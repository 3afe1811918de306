#pragma once
// A registry kept in one text file in the format of regedit, for platforms
// without the Windows registry. The file holds any number of keys of both
// roots; a key is read from the file when it is opened, and the values written
// through a handle go into the file, which is rewritten atomically, when the
// handle closes. The rewrite changes only the lines of the values written or
// deleted and keeps every other line as it was (see RegFileDocument.h).
//
// A missing file reads as an empty registry, and so does a file that is no
// text at all or larger than a settings file can be (kSettingsFileLimit);
// before a new file is written, such a file is made private and moved aside
// as "<name>.unreadable-<local time>", and the owner is told where it went. A
// file that exists but cannot be read, or is no regular file (a FIFO, a
// device, a symbolic link), reads as empty too and is never replaced.

#include <filesystem>
#include <map>
#include <memory>

#include "settings/Registry.h"

namespace qm {

class RegFileRegistry : public Registry {
 public:
  explicit RegFileRegistry(std::filesystem::path file, SetAsideNotice notice = {});
  ~RegFileRegistry() override;  // closes, and so stores, handles still open
  RegFileRegistry(const RegFileRegistry&) = delete;
  RegFileRegistry& operator=(const RegFileRegistry&) = delete;

  long OpenKey(RegistryRoot root, const std::string& sub_key, RegistryKey* key) override;
  long CreateKey(RegistryRoot root, const std::string& sub_key, RegistryKey* key) override;
  long QueryValue(RegistryKey key, const std::string& name, std::uint32_t* type,
                  Bytes* data) override;
  long SetValue(RegistryKey key, const std::string& name, std::uint32_t type,
                const Bytes& data) override;
  long DeleteValue(RegistryKey key, const std::string& name) override;
  long CloseKey(RegistryKey key) override;

 private:
  struct Change;
  struct OpenedKey;

  long Open(RegistryRoot root, const std::string& sub_key, bool create, RegistryKey* key);
  long Store(const OpenedKey& opened);
  OpenedKey* Find(RegistryKey key);

  std::filesystem::path file_;
  SetAsideNotice notice_;
  std::map<RegistryKey, std::unique_ptr<OpenedKey>> opened_;
  RegistryKey next_key_ = 1;
};

}  // namespace qm
