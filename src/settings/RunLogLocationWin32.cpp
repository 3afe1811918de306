#include "settings/RunLogLocation.h"

// clang-format off
#include <windows.h>
#include <shlobj.h>
// clang-format on

#include <memory>

namespace qm {
namespace {

struct FreeTaskMemory {
  void operator()(wchar_t* text) const { CoTaskMemFree(text); }
};

}  // namespace

// The known folder, not the LOCALAPPDATA variable: a scheduled task may start
// with an environment of its own.
std::filesystem::path RunLogPath() {
  wchar_t* found = nullptr;
  const HRESULT result =
      SHGetKnownFolderPath(FOLDERID_LocalAppData, KF_FLAG_DEFAULT, nullptr, &found);
  const std::unique_ptr<wchar_t, FreeTaskMemory> folder(found);
  if (FAILED(result) || !folder) return {};
  return std::filesystem::path(folder.get()) / L"Quillmar" / L"quillmar.log";
}

}  // namespace qm
