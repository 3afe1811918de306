#include "mail/SaveAttachments.h"

#include <algorithm>
#include <cstddef>
#include <limits>
#include <string>
#include <vector>

#include "base/Failure.h"
#include "base/Utf8Character.h"
#include "mail/MMes.h"
#include "save/DestinationFolder.h"

namespace qm {
namespace {

#ifdef _WIN32
constexpr char kSeparator = '\\';
#else
constexpr char kSeparator = '/';
#endif

std::vector<std::string_view> Characters(std::string_view text) {
  std::vector<std::string_view> characters;
  for (std::size_t at = 0; at < text.size();) {
    // A byte that is no character stands alone.
    const std::size_t length = std::max<std::size_t>(Utf8CharacterLength(text.substr(at)), 1);
    characters.push_back(text.substr(at, length));
    at += length;
  }
  return characters;
}

// The part of `path` after its last separator, found on the reversed text:
// the first separator there is the last one of the path. A path without one
// is a name already.
std::string FileNameOf(const std::string& path) {
  const std::string reversed = ReverseText(path);
  const std::size_t k = reversed.find(kSeparator);
  if (k == std::string::npos) return path;
  return ReverseText(std::string_view(reversed).substr(0, k));
}

std::int32_t NextIndex(std::int64_t counter) {
  if (counter >= std::numeric_limits<std::int32_t>::max()) {
    throw Failure(FailureKind::Internal, Cause::kInternal, "too many attachments in one message");
  }
  return static_cast<std::int32_t>(counter + 1);
}

// The current attachment's file, written now; no name past the last.
WrittenFile NextFile(MMes& messages, const FileStarted& started) {
  if (started) started(messages.AttachmentName());
  return messages.AttachmentFile();
}

}  // namespace

std::string ReverseText(std::string_view text) {
  const std::vector<std::string_view> characters = Characters(text);
  std::string reversed;
  reversed.reserve(text.size());
  for (auto it = characters.rbegin(); it != characters.rend(); ++it) reversed.append(*it);
  return reversed;
}

std::int64_t SaveAttachments(MMes& messages, DestinationFolder& destination,
                             const FileStarted& started) {
  std::int64_t counter = 0;
  WrittenFile file = NextFile(messages, started);
  if (file.name.empty()) return 0;
  messages.MarkRead();
  while (!file.name.empty()) {
    // The folder takes the file over: it is moved there, not left behind.
    destination.Add(file, FileNameOf(file.name), messages.CurrentMessage());
    const std::int32_t next = NextIndex(counter);
    counter = next;
    messages.SetAttachmentIndex(next);
    file = NextFile(messages, started);
  }
  return counter;
}

}  // namespace qm
