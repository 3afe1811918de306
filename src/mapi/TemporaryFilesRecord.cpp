#include "mapi/TemporaryFilesRecord.h"

#include <windows.h>

#include <fstream>
#include <sstream>
#include <utility>

#include "base/ReadRegularFile.h"
#include "base/WindowsText.h"

namespace qm {
namespace {

// A record longer than this was not written by the program: it is dropped.
constexpr std::size_t kMaxRecordBytes = 1024 * 1024;

// The record's paths: a regular file of at most kMaxRecordBytes, read whole
// (never a link put in its place), one UTF-8 path per line.
std::vector<std::filesystem::path> ReadRecord(const std::filesystem::path& file) {
  const RegularFileContent content = ReadRegularFile(file, kMaxRecordBytes, FinalLink::kRefuse);
  std::vector<std::filesystem::path> paths;
  if (content.state != RegularFileState::kRead) return paths;
  std::istringstream lines(content.bytes);
  std::string line;
  while (std::getline(lines, line)) {
    std::wstring path;
    if (!line.empty() && Utf16Of(line, path) == 0) paths.emplace_back(path);
  }
  return paths;
}

void WriteRecord(const std::filesystem::path& file, const std::vector<std::filesystem::path>& paths,
                 std::ios::openmode mode) {
  std::ofstream out(file, std::ios::binary | mode);
  for (const std::filesystem::path& path : paths) {
    std::string line;
    if (Utf8Of(path.native(), line) == 0) out << line << '\n';
  }
}

}  // namespace

bool RemoveTemporaryFile(const std::filesystem::path& path) {
  const DWORD attributes = ::GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return true;  // gone already
  if ((attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0) return true;
  return ::DeleteFileW(path.c_str()) != 0;
}

TemporaryFilesRecord::TemporaryFilesRecord(std::filesystem::path file) : file_(std::move(file)) {}

void TemporaryFilesRecord::RemoveRecorded() {
  if (file_.empty()) return;
  std::vector<std::filesystem::path> left;
  for (const std::filesystem::path& path : ReadRecord(file_)) {
    if (!RemoveTemporaryFile(path)) left.push_back(path);
  }
  std::error_code error;
  if (left.empty()) {
    std::filesystem::remove(file_, error);
  } else {
    WriteRecord(file_, left, std::ios::trunc);
  }
}

void TemporaryFilesRecord::Add(const std::vector<std::filesystem::path>& paths) {
  if (file_.empty() || paths.empty()) return;
  std::error_code error;
  std::filesystem::create_directories(file_.parent_path(), error);
  WriteRecord(file_, paths, std::ios::app);
}

}  // namespace qm
