#include "mapi/AnsiCodePage.h"

#include <windows.h>

#include <climits>

#include "base/WindowsText.h"

namespace qm {
namespace {

// With the system set to UTF-8 as its ANSI code page every character fits,
// and that code page takes no replacement character.
std::string AnsiOf(std::wstring_view utf16, BOOL* lossy) {
  if (utf16.empty() || utf16.size() > INT_MAX) return {};
  const int length = static_cast<int>(utf16.size());
  const bool utf8 = ::GetACP() == CP_UTF8;
  const DWORD flags = utf8 ? 0 : WC_NO_BEST_FIT_CHARS;
  const char* replacement = utf8 ? nullptr : "?";
  if (utf8) lossy = nullptr;
  const int size =
      ::WideCharToMultiByte(CP_ACP, flags, utf16.data(), length, nullptr, 0, replacement, lossy);
  std::string ansi(static_cast<std::size_t>(size > 0 ? size : 0), '\0');
  if (size > 0) {
    ::WideCharToMultiByte(CP_ACP, flags, utf16.data(), length, ansi.data(), size, replacement,
                          lossy);
  }
  return ansi;
}

}  // namespace

std::wstring WideOfAnsi(const char* ansi) {
  if (ansi == nullptr || *ansi == '\0') return {};
  const int size = ::MultiByteToWideChar(CP_ACP, 0, ansi, -1, nullptr, 0);
  if (size <= 1) return {};
  std::wstring utf16(static_cast<std::size_t>(size), L'\0');
  ::MultiByteToWideChar(CP_ACP, 0, ansi, -1, utf16.data(), size);
  utf16.resize(static_cast<std::size_t>(size - 1));  // the terminating NUL
  return utf16;
}

std::string Utf8OfAnsi(const char* ansi) {
  std::string utf8;
  Utf8Of(WideOfAnsi(ansi), utf8);  // the code page decodes to no unpaired surrogate
  return utf8;
}

std::optional<std::string> AnsiOfUtf8(std::string_view utf8) {
  std::wstring utf16;
  if (Utf16Of(utf8, utf16) != 0) return std::nullopt;
  BOOL lossy = FALSE;
  std::string ansi = AnsiOf(utf16, &lossy);
  if (lossy) return std::nullopt;
  return ansi;
}

std::string LossyAnsiOf(std::wstring_view utf16) { return AnsiOf(utf16, nullptr); }

}  // namespace qm
