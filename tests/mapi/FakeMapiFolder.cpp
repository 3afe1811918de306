#include "FakeMapiFolder.h"

#include <algorithm>
#include <atomic>

namespace qm::fake_mapi {
namespace {

// Closes a Win32 file or search handle at the end of a scope.
class Handle {
 public:
  explicit Handle(HANDLE handle) : handle_(handle) {}
  ~Handle() {
    if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  HANDLE get() const { return handle_; }
  bool ok() const { return handle_ != INVALID_HANDLE_VALUE; }

 private:
  HANDLE handle_;
};

bool IsDots(const wchar_t* name) { return wcscmp(name, L".") == 0 || wcscmp(name, L"..") == 0; }

// The names in `folder` that are folders (`folders`) or files, sorted ordinally.
std::vector<std::wstring> NamesIn(const std::wstring& folder, bool folders) {
  std::vector<std::wstring> names;
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return names;
  do {
    const bool is_folder = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    if (is_folder == folders && !IsDots(found.cFileName)) names.emplace_back(found.cFileName);
  } while (FindNextFileW(search, &found));
  FindClose(search);
  std::sort(names.begin(), names.end());
  return names;
}

std::optional<std::string> ReadBytes(const std::wstring& path) {
  Handle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                          FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.ok()) return std::nullopt;
  std::string bytes;
  char chunk[16 * 1024];
  DWORD got = 0;
  while (::ReadFile(file.get(), chunk, sizeof chunk, &got, nullptr) && got > 0) {
    bytes.append(chunk, got);
  }
  return bytes;
}

bool WriteBytes(const std::wstring& path, const std::string& bytes) {
  Handle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                          FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.ok()) return false;
  DWORD written = 0;
  return WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
         written == bytes.size();
}

KeyValues ParseKeyValues(const std::string& text) {
  KeyValues values;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const size_t equals = line.find('=');
    if (equals != std::string::npos) values[line.substr(0, equals)] = line.substr(equals + 1);
    start = end + 1;
  }
  return values;
}

bool Exists(const std::wstring& path) {
  return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

}  // namespace

std::wstring WideOfUtf8(std::string_view utf8) {
  if (utf8.empty()) return {};
  const int size = static_cast<int>(utf8.size());
  const int length = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, nullptr, 0);
  std::wstring wide(length, L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, wide.data(), length);
  return wide;
}

std::string Utf8OfWide(std::wstring_view wide) {
  if (wide.empty()) return {};
  const int size = static_cast<int>(wide.size());
  const int length =
      WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, nullptr, 0, nullptr, nullptr);
  std::string utf8(length, '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, utf8.data(), length, nullptr, nullptr);
  return utf8;
}

std::wstring WideOfAnsi(const char* ansi) {
  if (ansi == nullptr || *ansi == '\0') return {};
  const int length = MultiByteToWideChar(CP_ACP, 0, ansi, -1, nullptr, 0);
  std::wstring wide(length, L'\0');
  MultiByteToWideChar(CP_ACP, 0, ansi, -1, wide.data(), length);
  wide.resize(wcslen(wide.c_str()));
  return wide;
}

std::string AnsiOfWide(std::wstring_view wide, bool* lossy) {
  BOOL used_default = FALSE;
  std::string ansi;
  if (!wide.empty()) {
    const int size = static_cast<int>(wide.size());
    const DWORD flags = WC_NO_BEST_FIT_CHARS;
    const int length =
        WideCharToMultiByte(CP_ACP, flags, wide.data(), size, nullptr, 0, "?", nullptr);
    ansi.assign(length, '\0');
    WideCharToMultiByte(CP_ACP, flags, wide.data(), size, ansi.data(), length, "?", &used_default);
  }
  if (lossy != nullptr) *lossy = used_default != FALSE;
  return ansi;
}

std::vector<std::wstring> MailboxFolder::MessageIds() const {
  return NamesIn(root_ + L"\\messages", true);
}

bool MailboxFolder::IsUnread(const std::wstring& id) const {
  return Exists(MessageFolder(id) + L"\\unread");
}

void MailboxFolder::MarkRead(const std::wstring& id) const {
  DeleteFileW((MessageFolder(id) + L"\\unread").c_str());
}

Envelope MailboxFolder::ReadEnvelope(const std::wstring& id) const {
  const std::optional<std::string> text = ReadBytes(MessageFolder(id) + L"\\envelope.txt");
  KeyValues values = ParseKeyValues(text.value_or(""));
  return {WideOfUtf8(values["subject"]), WideOfUtf8(values["sender"]),
          WideOfUtf8(values["address"])};
}

std::optional<std::vector<std::wstring>> MailboxFolder::WriteAttachments(
    const std::wstring& id) const {
  const std::wstring source = MessageFolder(id) + L"\\files";
  const std::vector<std::wstring> names = NamesIn(source, false);
  std::vector<std::wstring> written;
  if (names.empty()) return written;
  const std::optional<std::wstring> folder = FreshTempFolder();
  if (!folder) return std::nullopt;
  for (const std::wstring& name : names) {
    const std::optional<std::string> bytes = ReadBytes(source + L"\\" + name);
    const std::wstring target = *folder + L"\\" + name;
    if (!bytes || !WriteBytes(target, *bytes)) return std::nullopt;
    written.push_back(target);
  }
  return written;
}

KeyValues MailboxFolder::Behaviour() const {
  return ParseKeyValues(ReadBytes(root_ + L"\\behaviour.txt").value_or(""));
}

void MailboxFolder::Log(std::string_view line) const {
  Handle file(CreateFileW((root_ + L"\\calls.log").c_str(), FILE_APPEND_DATA,
                          FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                          FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.ok()) return;
  const std::string text = std::string(line) + "\n";
  DWORD written = 0;
  WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

std::wstring MailboxFolder::MessageFolder(const std::wstring& id) const {
  return root_ + L"\\messages\\" + id;
}

// temp\<n>\ with n counting up from 1 over the whole process; a number
// another process already took is skipped.
std::optional<std::wstring> MailboxFolder::FreshTempFolder() const {
  static std::atomic<unsigned> next{1};
  const std::wstring temp = root_ + L"\\temp";
  CreateDirectoryW(temp.c_str(), nullptr);
  for (int attempt = 0; attempt < 10000; ++attempt) {
    const std::wstring folder = temp + L"\\" + std::to_wstring(next++);
    if (CreateDirectoryW(folder.c_str(), nullptr)) return folder;
    if (GetLastError() != ERROR_ALREADY_EXISTS) return std::nullopt;
  }
  return std::nullopt;
}

}  // namespace qm::fake_mapi
