#include <io.h>
#include <shlobj.h>
#include <windows.h>

#include <filesystem>
#include <string>

#include "base/Failure.h"
#include "frame/ScanLock.h"

namespace qm {
namespace {

namespace fs = std::filesystem;

// %LOCALAPPDATA%\Quillmar, made when missing.
fs::path LockFolder() {
  PWSTR local = nullptr;
  if (::SHGetKnownFolderPath(FOLDERID_LocalAppData, KF_FLAG_CREATE, nullptr, &local) != S_OK) {
    ::CoTaskMemFree(local);
    throw Failure(FailureKind::Internal, Cause::kSystem,
                  "cannot find the local application data folder, which keeps two scans apart",
                  ENOENT);
  }
  const fs::path folder = fs::path(local) / L"Quillmar";
  ::CoTaskMemFree(local);
  std::error_code ignored;
  fs::create_directories(folder, ignored);  // a failure shows in the open that follows
  return folder;
}

std::string Shown(const fs::path& path) {
  const std::u8string text = path.u8string();
  return std::string(reinterpret_cast<const char*>(text.data()), text.size());
}

}  // namespace

// The lock is the file itself, opened shared with nobody: a second scan's
// open fails with a sharing violation until this process's handle closes,
// which the system does whenever the process ends, however it ends. Not
// inherited by a password command.
ScanLock::ScanLock() {
  const fs::path path = LockFolder() / L"Quillmar.lock";
  const HANDLE file = ::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                    OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    const DWORD error = ::GetLastError();
    if (error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION) {
      throw Failure(FailureKind::Overlap, Cause::kScanRunning,
                    "another scan is running; this one did not start");
    }
    throw Failure(FailureKind::Internal, Cause::kSystem,
                  "cannot open " + Shown(path) + ", which keeps two scans apart", EACCES);
  }
  file_.Reset(::_open_osfhandle(reinterpret_cast<intptr_t>(file), 0));
  if (!file_.valid()) ::CloseHandle(file);
}

}  // namespace qm
