#include "tests/mapi/FakeMapiMailbox.h"

#include <windows.h>

#include <algorithm>
#include <sstream>
#include <stdexcept>

#include "tests/support/FileBytes.h"

namespace qm::testing {
namespace {

namespace fs = std::filesystem;

constexpr wchar_t kVariable[] = L"QM_FAKE_MAPI_MAILBOX";
constexpr wchar_t kClientKey[] = L"Software\\Clients\\Mail";
constexpr wchar_t kClientName[] = L"QuillmarFakeMail";

std::string Utf8OfPath(const fs::path& path) {
  const std::u8string utf8 = path.generic_u8string();
  return std::string(utf8.begin(), utf8.end());
}

void SetString(HKEY key, const wchar_t* name, const std::wstring& value) {
  const auto bytes = static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t));
  const LSTATUS status =
      RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()), bytes);
  if (status != ERROR_SUCCESS) throw std::runtime_error("cannot set a mail client value");
}

// Creates (or opens) HKLM\`path` and sets its string values.
void WriteKey(const std::wstring& path,
              const std::vector<std::pair<const wchar_t*, std::wstring>>& values) {
  HKEY key = nullptr;
  if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key,
                      nullptr) != ERROR_SUCCESS) {
    throw std::runtime_error("cannot create the mail client key");
  }
  try {
    for (const auto& [name, value] : values) SetString(key, name, value);
  } catch (...) {
    RegCloseKey(key);
    throw;
  }
  RegCloseKey(key);
}

std::wstring EnvironmentValue(bool& present) {
  wchar_t value[4 * MAX_PATH] = L"";
  present = GetEnvironmentVariableW(kVariable, value, 4 * MAX_PATH) > 0;
  return value;
}

}  // namespace

fs::path PathOfUtf8(const std::string& utf8) {
  return fs::path(std::u8string(utf8.begin(), utf8.end()));
}

FakeMapiMailbox::FakeMapiMailbox() {
  old_mailbox_ = EnvironmentValue(had_mailbox_);
  fs::create_directories(path() / "messages");
  SetEnvironmentVariableW(kVariable, path().wstring().c_str());
}

FakeMapiMailbox::~FakeMapiMailbox() {
  SetEnvironmentVariableW(kVariable, had_mailbox_ ? old_mailbox_.c_str() : nullptr);
}

// The DLL's Unix path as Wine's Z: drive sees it.
std::wstring FakeMapiMailbox::ProviderPath() {
  std::wstring path = L"Z:" + PathOfUtf8(QM_FAKE_MAPI_DLL).wstring();
  std::replace(path.begin(), path.end(), L'/', L'\\');
  return path;
}

// Simple MAPI calls go to DLLPath, MAPIFreeBuffer to DLLPathEx: the same DLL.
void FakeMapiMailbox::Register() {
  WriteKey(kClientKey, {{nullptr, kClientName}});
  const std::wstring dll = ProviderPath();
  WriteKey(std::wstring(kClientKey) + L"\\" + kClientName,
           {{L"DLLPath", dll}, {L"DLLPathEx", dll}});
}

void FakeMapiMailbox::AddMessage(const std::string& id, const std::string& subject,
                                 const std::string& sender, const std::string& address, bool unread,
                                 const std::vector<File>& files) {
  const fs::path message = path() / "messages" / PathOfUtf8(id);
  fs::create_directories(message / "files");
  WriteFile(message / "envelope.txt",
            "subject=" + subject + "\nsender=" + sender + "\naddress=" + address + "\n");
  if (unread) WriteFile(message / "unread", "");
  for (const File& file : files) WriteFile(message / "files" / PathOfUtf8(file.name), file.bytes);
}

void FakeMapiMailbox::SetBehaviour(const std::string& key, const std::string& value) {
  behaviour_[key] = value;
  std::string text;
  for (const auto& [each, setting] : behaviour_) text += each + "=" + setting + "\n";
  WriteFile(path() / "behaviour.txt", text);
}

std::vector<std::string> FakeMapiMailbox::Calls() const {
  std::istringstream log(ReadFile(path() / "calls.log"));
  std::vector<std::string> lines;
  for (std::string line; std::getline(log, line);) lines.push_back(line);
  return lines;
}

bool FakeMapiMailbox::IsUnread(const std::string& id) const {
  return fs::exists(path() / "messages" / PathOfUtf8(id) / "unread");
}

std::vector<std::string> FakeMapiMailbox::TempFiles() const {
  std::vector<std::string> files;
  const fs::path temp = path() / "temp";
  if (!fs::exists(temp)) return files;
  for (const auto& entry : fs::recursive_directory_iterator(temp)) {
    if (entry.is_regular_file()) files.push_back(Utf8OfPath(fs::relative(entry.path(), temp)));
  }
  std::sort(files.begin(), files.end());
  return files;
}

}  // namespace qm::testing
