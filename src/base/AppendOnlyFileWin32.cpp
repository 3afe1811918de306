#include "base/AppendOnlyFile.h"

#include <windows.h>

#include <algorithm>
#include <string>

#include "base/Failure.h"

namespace qm {
namespace {

Failure WindowsFailure(const std::string& what) {
  return Failure(FailureKind::FileWrite, Cause::kSystem,
                 what + ": Windows error " + std::to_string(GetLastError()));
}

}  // namespace

struct AppendOnlyFile::Handle {
  HANDLE file = INVALID_HANDLE_VALUE;
  ~Handle() {
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
  }
};

// FILE_APPEND_DATA without FILE_WRITE_DATA: every write goes to the end.
// FILE_FLAG_OPEN_REPARSE_POINT opens a link (or junction) in the file's place
// as itself, so that it is seen and refused instead of followed. Others may
// read, append and rename it (the log's rotation) while it is open.
AppendOnlyFile::AppendOnlyFile(const std::filesystem::path& path)
    : handle_(std::make_unique<Handle>()) {
  handle_->file =
      CreateFileW(path.c_str(), FILE_APPEND_DATA | FILE_READ_ATTRIBUTES,
                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                  FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (handle_->file == INVALID_HANDLE_VALUE) throw WindowsFailure("opening a log");
  BY_HANDLE_FILE_INFORMATION info{};
  if (!GetFileInformationByHandle(handle_->file, &info)) throw WindowsFailure("reading a log");
  constexpr DWORD kNotRegular =
      FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE;
  if ((info.dwFileAttributes & kNotRegular) != 0 || GetFileType(handle_->file) != FILE_TYPE_DISK) {
    throw Failure(FailureKind::FileWrite, Cause::kSystem, "a log is a link or not a file");
  }
}

AppendOnlyFile::~AppendOnlyFile() = default;

std::uintmax_t AppendOnlyFile::Size() const {
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(handle_->file, &size)) throw WindowsFailure("the size of a log");
  return static_cast<std::uintmax_t>(size.QuadPart);
}

void AppendOnlyFile::Append(std::string_view bytes) {
  while (!bytes.empty()) {
    const DWORD piece = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), 1 << 20));
    DWORD written = 0;
    if (!WriteFile(handle_->file, bytes.data(), piece, &written, nullptr) || written == 0) {
      throw WindowsFailure("writing a log");
    }
    bytes.remove_prefix(written);
  }
}

}  // namespace qm
