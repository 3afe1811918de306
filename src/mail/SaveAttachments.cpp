#include "mail/SaveAttachments.h"

#include <cstddef>
#include <limits>
#include <string>
#include <vector>

#include "base/Failure.h"
#include "mail/MMes.h"
#include "save/DestinationFolder.h"

namespace qm {
namespace {

#ifdef _WIN32
constexpr char kSeparator = '\\';
#else
constexpr char kSeparator = '/';
#endif

// Byte length of the UTF-8 character starting at text[at]; 1 for a byte that
// does not start a valid sequence.
std::size_t CharacterLength(std::string_view text, std::size_t at) {
  const auto lead = static_cast<unsigned char>(text[at]);
  const std::size_t length = lead < 0x80           ? 1
                             : (lead >> 5) == 0x06 ? 2
                             : (lead >> 4) == 0x0E ? 3
                             : (lead >> 3) == 0x1E ? 4
                                                   : 0;
  if (length <= 1 || at + length > text.size()) return 1;
  for (std::size_t i = 1; i < length; ++i) {
    if ((static_cast<unsigned char>(text[at + i]) & 0xC0) != 0x80) return 1;
  }
  return length;
}

std::vector<std::string_view> Characters(std::string_view text) {
  std::vector<std::string_view> characters;
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t length = CharacterLength(text, at);
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
