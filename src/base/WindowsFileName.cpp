#include "base/WindowsFileName.h"

#include <algorithm>
#include <cerrno>

namespace qm {
namespace {

constexpr std::size_t kLongestComponent = 255;  // UTF-16 units, on NTFS and FAT alike

bool IsRefusedCharacter(wchar_t c) {
  return c < 0x20 || std::wstring_view(L"<>:\"/\\|?*").find(c) != std::wstring_view::npos;
}

wchar_t AsciiUpper(wchar_t c) { return c >= L'a' && c <= L'z' ? c - L'a' + L'A' : c; }

bool EqualsIgnoringAsciiCase(std::wstring_view a, std::wstring_view b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                    [](wchar_t x, wchar_t y) { return AsciiUpper(x) == AsciiUpper(y); });
}

// CON, PRN, AUX, NUL, COM0-9 and LPT0-9 (with the superscript digits ¹²³),
// CONIN$ and CONOUT$: a device, whatever the extension ("aux.txt") and
// with spaces before it ("nul .txt").
bool IsDeviceName(std::wstring_view name) {
  std::wstring_view base = name.substr(0, name.find(L'.'));
  while (!base.empty() && base.back() == L' ') base.remove_suffix(1);
  for (const std::wstring_view device : {L"CON", L"PRN", L"AUX", L"NUL", L"CONIN$", L"CONOUT$"}) {
    if (EqualsIgnoringAsciiCase(base, device)) return true;
  }
  if (base.size() != 4) return false;
  const bool numbered_port = EqualsIgnoringAsciiCase(base.substr(0, 3), L"COM") ||
                             EqualsIgnoringAsciiCase(base.substr(0, 3), L"LPT");
  const wchar_t digit = base[3];
  return numbered_port && ((digit >= L'0' && digit <= L'9') || digit == L'\u00B9' ||
                           digit == L'\u00B2' || digit == L'\u00B3');
}

}  // namespace

int ComponentRefusal(std::wstring_view name) {
  if (name.empty()) return ENOENT;
  if (name.size() > kLongestComponent) return ENAMETOOLONG;
  if (name == L"." || name == L"..") return EINVAL;
  if (std::any_of(name.begin(), name.end(), IsRefusedCharacter)) return EINVAL;
  if (name.back() == L'.' || name.back() == L' ') return EINVAL;
  if (IsDeviceName(name)) return EINVAL;
  return 0;
}

int PathRefusal(std::wstring_view path) {
  if (path.empty()) return ENOENT;
  if (path.find(L'\0') != std::wstring_view::npos) return EINVAL;
  const std::size_t separator = path.find_last_of(L"/\\");
  if (separator == path.size() - 1) return 0;
  std::wstring_view last = separator == std::wstring_view::npos ? path : path.substr(separator + 1);
  // "C:name" is relative to the drive's working folder: the name is after the colon.
  if (separator == std::wstring_view::npos && last.size() >= 2 && last[1] == L':') {
    last.remove_prefix(2);
    if (last.empty()) return 0;
  }
  return ComponentRefusal(last);
}

}  // namespace qm
