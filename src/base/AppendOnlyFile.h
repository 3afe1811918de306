#pragma once
// A file opened to add bytes at its end only: never reached through a link
// (a link in its place is refused, not followed), created private to the
// user, and never anything but a regular file. What is already in it is
// never rewritten, so a crash in the middle of a write loses no older byte.

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string_view>

namespace qm {

class AppendOnlyFile {
 public:
  // Opens `path`, creating it when missing. Throws Failure(FileWrite) when it
  // cannot be opened, or is a link or not a regular file.
  explicit AppendOnlyFile(const std::filesystem::path& path);
  ~AppendOnlyFile();
  AppendOnlyFile(const AppendOnlyFile&) = delete;
  AppendOnlyFile& operator=(const AppendOnlyFile&) = delete;

  // The file's size now, in bytes.
  std::uintmax_t Size() const;
  // Adds `bytes` at the end, however far another writer has moved it.
  // Throws Failure(FileWrite).
  void Append(std::string_view bytes);

 private:
  struct Handle;  // the platform's open file
  std::unique_ptr<Handle> handle_;
};

}  // namespace qm
