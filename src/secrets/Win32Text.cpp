#include "secrets/Win32Text.h"

#include <windows.h>

#include "base/WindowsText.h"
#include "base/WipeSecret.h"

namespace qm {
namespace {

bool IsUtf8(const std::string& bytes) {
  return bytes.empty() || ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes.data(),
                                                static_cast<int>(bytes.size()), nullptr, 0) > 0;
}

std::wstring WideFromCodePage(std::string_view text, UINT code_page, DWORD flags) {
  if (text.empty()) return {};
  const int size = static_cast<int>(text.size());
  const int length = ::MultiByteToWideChar(code_page, flags, text.data(), size, nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(length), L'\0');
  ::MultiByteToWideChar(code_page, flags, text.data(), size, wide.data(), length);
  return wide;
}

// The UTF-8 of wide text from the system; an unpaired surrogate in it becomes
// U+FFFD rather than failing what only shows it.
std::string Utf8FromWide(std::wstring_view text) {
  std::string utf8;
  if (Utf8Of(text, utf8) != 0) {
    const int size = static_cast<int>(text.size());
    const int length =
        ::WideCharToMultiByte(CP_UTF8, 0, text.data(), size, nullptr, 0, nullptr, nullptr);
    utf8.assign(static_cast<std::size_t>(length), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.data(), size, utf8.data(), length, nullptr, nullptr);
  }
  return utf8;
}

}  // namespace

std::string Utf8FromConsoleBytes(const std::string& bytes, std::uint32_t code_page) {
  if (IsUtf8(bytes)) return bytes;
  std::wstring wide = WideFromCodePage(bytes, code_page, 0);
  std::string utf8 = Utf8FromWide(wide);
  WipeWide(wide);
  return utf8;
}

std::string SystemErrorText(std::uint32_t error) {
  wchar_t* words = nullptr;
  const DWORD length = ::FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, error, 0, reinterpret_cast<wchar_t*>(&words), 0, nullptr);
  std::string text = length > 0 ? Utf8FromWide(std::wstring_view(words, length)) : "";
  ::LocalFree(words);
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) {
    text.pop_back();
  }
  const std::string number = "(error " + std::to_string(error) + ")";
  return text.empty() ? number : text + " " + number;
}

void WipeWide(std::wstring& text) {
  ::SecureZeroMemory(text.data(), text.size() * sizeof(wchar_t));
  text.clear();
}

}  // namespace qm
