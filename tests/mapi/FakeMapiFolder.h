#pragma once
// The mailbox folder that the stand-in Simple MAPI provider serves (see
// FakeMapiMailbox.h for its layout), read and written with the wide Win32
// calls so that every name is Unicode. Part of the provider DLL only: it uses
// no project library. Functions may throw std::bad_alloc; the DLL's exports
// catch everything.

#include <windows.h>

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qm::fake_mapi {

std::wstring WideOfUtf8(std::string_view utf8);
std::string Utf8OfWide(std::wstring_view wide);
// A caller's ANSI (CP_ACP) string; NULL reads as "".
std::wstring WideOfAnsi(const char* ansi);
// `wide` in the ANSI code page, '?' for what it cannot hold (no best fit);
// `lossy` says whether that happened.
std::string AnsiOfWide(std::wstring_view wide, bool* lossy = nullptr);

// The key=value lines of a UTF-8 file; the last line of a key wins.
using KeyValues = std::map<std::string, std::string>;

struct Envelope {
  std::wstring subject;
  std::wstring sender;
  std::wstring address;
};

class MailboxFolder {
 public:
  explicit MailboxFolder(std::wstring root) : root_(std::move(root)) {}

  const std::wstring& root() const { return root_; }

  // The message IDs (folder names), in ordinal UTF-16 order.
  std::vector<std::wstring> MessageIds() const;
  bool IsUnread(const std::wstring& id) const;
  void MarkRead(const std::wstring& id) const;
  Envelope ReadEnvelope(const std::wstring& id) const;
  // Copies the message's attachments, in name order, into a fresh folder
  // temp\<n>\ under their own names: their full paths, or nullopt when one
  // could not be written. Writes no folder for a message without files.
  std::optional<std::vector<std::wstring>> WriteAttachments(const std::wstring& id) const;

  KeyValues Behaviour() const;
  // Appends one UTF-8 line to calls.log.
  void Log(std::string_view line) const;

 private:
  std::wstring MessageFolder(const std::wstring& id) const;
  std::optional<std::wstring> FreshTempFolder() const;

  std::wstring root_;
};

}  // namespace qm::fake_mapi
