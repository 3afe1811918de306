#include "mapi/MapiAttachmentFiles.h"

#include <windows.h>

#include <algorithm>
#include <string_view>
#include <utility>

#include "base/Failure.h"
#include "base/Win32Handle.h"
#include "base/WindowsText.h"
#include "base/WriteAll.h"
#include "mapi/AnsiCodePage.h"
#include "mapi/TemporaryFilesRecord.h"
#include "store/UnreadableMessage.h"
#include "text/SafeName.h"

namespace qm {
namespace {

constexpr DWORD kCopyChunk = 256 * 1024;

UnreadableMessage CannotRead(const std::string& what, DWORD error) {
  return UnreadableMessage("", "cannot read the mail program's file of " + what + " (error " +
                                   std::to_string(error) + ")");
}

// The last component of a Windows path.
template <typename Text>
Text AfterLastBackslash(Text path) {
  const auto slash = path.find_last_of(static_cast<typename Text::value_type>('\\'));
  return slash == Text::npos ? path : path.substr(slash + 1);
}

// The file's long name as it is on disk (a short 8.3 path is resolved).
std::wstring NameOnDisk(const std::filesystem::path& file) {
  std::wstring buffer(MAX_PATH, L'\0');
  for (int tries = 0; tries < 2; ++tries) {
    const DWORD size =
        ::GetLongPathNameW(file.c_str(), buffer.data(), static_cast<DWORD>(buffer.size()));
    if (size == 0) break;
    if (size < buffer.size()) {
      buffer.resize(size);
      return std::wstring(AfterLastBackslash(std::wstring_view(buffer)));
    }
    buffer.resize(size);
  }
  return std::wstring(AfterLastBackslash(std::wstring_view(file.native())));
}

// `utf16` as an ANSI call gives it, a '?' for each character the code page
// has not. Mail programs differ on a character outside the 16-bit range
// (two UTF-16 units): one '?' or two. Both forms are given.
std::vector<std::string> AnsiFormsOf(const std::wstring& utf16) {
  std::string one_per_character;
  for (std::size_t i = 0; i < utf16.size(); ++i) {
    const bool pair =
        i + 1 < utf16.size() && IS_HIGH_SURROGATE(utf16[i]) && IS_LOW_SURROGATE(utf16[i + 1]);
    one_per_character += pair ? "?" : LossyAnsiOf(std::wstring_view(utf16).substr(i, 1));
    if (pair) ++i;
  }
  return {LossyAnsiOf(utf16), one_per_character};
}

}  // namespace

MapiAttachmentFiles::MapiAttachmentFiles(std::vector<MapiAttachment> attachments)
    : attachments_(std::move(attachments)) {}

MapiAttachmentFiles::~MapiAttachmentFiles() {
  for (const MapiAttachment& attachment : attachments_) RemoveTemporaryFile(attachment.file);
}

void MapiAttachmentFiles::Write(std::size_t index, int fd, const std::string& what) const {
  const std::filesystem::path& file = attachments_.at(index).file;
  {
    Win32Handle source(::CreateFileW(file.c_str(), GENERIC_READ,
                                     FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                     FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!source.valid()) throw CannotRead(what, ::GetLastError());
    std::string chunk(kCopyChunk, '\0');
    for (;;) {
      DWORD got = 0;
      if (!::ReadFile(source.get(), chunk.data(), kCopyChunk, &got, nullptr)) {
        throw CannotRead(what, ::GetLastError());
      }
      if (got == 0) break;
      WriteAll(fd, chunk.data(), got, what);
    }
  }
  // Copied: the mail program's file goes (what cannot go yet stays in the
  // record, for the next run).
  RemoveTemporaryFile(file);
}

std::string MapiAttachmentName(const char* ansi_name, const std::filesystem::path& file) {
  const std::string given(AfterLastBackslash(std::string_view(ansi_name ? ansi_name : "")));
  const std::wstring on_disk = NameOnDisk(file);
  const std::vector<std::string> forms = AnsiFormsOf(on_disk);
  std::string name;
  if (given.empty() || std::find(forms.begin(), forms.end(), given) != forms.end()) {
    Utf8Of(on_disk, name);
  } else {
    name = Utf8OfAnsi(given.c_str());
  }
  return MakeSafeFileName(name, "attachment.bin");
}

}  // namespace qm
