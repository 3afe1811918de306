#include "base/ReadRegularFile.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>

#include "base/FileSystem.h"
#include "base/UniqueFd.h"

namespace qm {
namespace {

RegularFileContent WithState(RegularFileState state, int error = 0) {
  RegularFileContent content;
  content.state = state;
  content.error = error;
  return content;
}

RegularFileContent StateOfFailedOpen(int error) {
  switch (error) {
    case ENOENT:
    case ENOTDIR:
      return WithState(RegularFileState::kMissing);
    case ELOOP:   // the link that is not followed
    case EISDIR:  // a folder
    case ENXIO:   // a FIFO, a socket, a device
      return WithState(RegularFileState::kNotRegular);
    default:
      return WithState(RegularFileState::kUnreadable, error);
  }
}

// Reads to the end, one byte beyond `limit` at most: a file that grew after
// fstat is still caught.
RegularFileContent ReadUpTo(int descriptor, std::size_t limit) {
  RegularFileContent content;
  char buffer[16 * 1024];
  for (;;) {
    const std::size_t room = std::min(sizeof buffer, limit + 1 - content.bytes.size());
    const ssize_t count = ::read(descriptor, buffer, room);
    if (count < 0 && errno == EINTR) continue;
    if (count < 0) return WithState(RegularFileState::kUnreadable, errno);
    if (count == 0) break;
    content.bytes.append(buffer, static_cast<std::size_t>(count));
    if (content.bytes.size() > limit) return WithState(RegularFileState::kTooLarge);
  }
  content.state = RegularFileState::kRead;
  return content;
}

}  // namespace

RegularFileContent ReadRegularFile(const std::filesystem::path& path, std::size_t limit,
                                   FinalLink link) {
  const UniqueFd descriptor(fs::OpenForReading(fs::kNoFolder, fs::NameOf(path), link));
  if (!descriptor.valid()) return StateOfFailedOpen(errno);
  fs::EntryInfo info;
  if (fs::InfoOf(descriptor.get(), info) != 0) {
    return WithState(RegularFileState::kUnreadable, errno);
  }
  if (info.size > limit) return WithState(RegularFileState::kTooLarge);
  return ReadUpTo(descriptor.get(), limit);
}

}  // namespace qm
