#pragma once
// A byte-level registry: the six operations the settings store needs, with the
// Win32 meaning of each. Names and text data are in the "ANSI" character set of
// the platform (see AnsiText.h). Results are 0 on success, a Win32 error code
// otherwise.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace qm {

enum class RegistryRoot { LocalMachine, CurrentUser };

inline constexpr std::uint32_t kRegSz = 1;
inline constexpr std::uint32_t kRegBinary = 3;
inline constexpr std::uint32_t kRegDword = 4;

inline constexpr long kErrorSuccess = 0;
inline constexpr long kErrorFileNotFound = 2;
inline constexpr long kErrorAccessDenied = 5;
inline constexpr long kErrorInvalidHandle = 6;

using RegistryKey = std::uintptr_t;
using Bytes = std::vector<std::uint8_t>;

class Registry {
 public:
  virtual ~Registry() = default;

  // Open an existing key for reading (RegOpenKeyA).
  virtual long OpenKey(RegistryRoot root, const std::string& sub_key, RegistryKey* key) = 0;
  // Create the key, or open it if it exists, for querying and setting (RegCreateKeyExA).
  virtual long CreateKey(RegistryRoot root, const std::string& sub_key, RegistryKey* key) = 0;
  // Read one value whole, whatever its length (RegQueryValueExA, size asked first).
  virtual long QueryValue(RegistryKey key, const std::string& name, std::uint32_t* type,
                          Bytes* data) = 0;
  // Write one value (RegSetValueExA).
  virtual long SetValue(RegistryKey key, const std::string& name, std::uint32_t type,
                        const Bytes& data) = 0;
  // Remove one value (RegDeleteValueA): kErrorFileNotFound when it is absent.
  virtual long DeleteValue(RegistryKey key, const std::string& name) = 0;
  // Release the handle; a store that buffers writes makes them lasting here.
  virtual long CloseKey(RegistryKey key) = 0;
};

// Told when the settings file could not be read as text and was moved to
// `moved_to` before a new one was written (the file store only).
using SetAsideNotice = std::function<void(const std::filesystem::path& moved_to)>;

// The registry of this platform: the real one on Windows, the REGEDIT4 file
// elsewhere (see RegFileRegistry.h).
std::unique_ptr<Registry> OpenPlatformRegistry(SetAsideNotice notice = {});

}  // namespace qm
