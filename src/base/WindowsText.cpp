#include "base/WindowsText.h"

#include <windows.h>

#include <cerrno>
#include <climits>

namespace qm {

int Utf16Of(std::string_view utf8, std::wstring& utf16) {
  utf16.clear();
  if (utf8.empty()) return 0;
  if (utf8.size() > INT_MAX) return EILSEQ;
  const int length = static_cast<int>(utf8.size());
  const int size =
      ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), length, nullptr, 0);
  if (size <= 0) return EILSEQ;
  utf16.resize(static_cast<std::size_t>(size));
  ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), length, utf16.data(), size);
  return 0;
}

int Utf8Of(std::wstring_view utf16, std::string& utf8) {
  utf8.clear();
  if (utf16.empty()) return 0;
  if (utf16.size() > INT_MAX) return EILSEQ;
  const int length = static_cast<int>(utf16.size());
  const int size = ::WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, utf16.data(), length,
                                         nullptr, 0, nullptr, nullptr);
  if (size <= 0) return EILSEQ;
  utf8.resize(static_cast<std::size_t>(size));
  ::WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, utf16.data(), length, utf8.data(), size,
                        nullptr, nullptr);
  return 0;
}

}  // namespace qm
