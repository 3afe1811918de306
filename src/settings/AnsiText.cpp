#include "settings/AnsiText.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <iconv.h>
#include <langinfo.h>

#include <cerrno>
#endif

#include <algorithm>

#include "base/Utf8Character.h"

namespace qm {

#ifdef _WIN32

namespace {

// Byte by byte, for text that is not all characters of the code page: each
// character it holds converts, and each byte or pair that is none becomes '?'.
std::wstring WidenEachCharacter(std::string_view text, UINT code_page) {
  std::wstring wide;
  while (!text.empty()) {
    bool lead = IsDBCSLeadByteEx(code_page, static_cast<BYTE>(text.front()));
    std::size_t length = std::min<std::size_t>(lead ? 2 : 1, text.size());
    wchar_t units[2];
    int count = MultiByteToWideChar(code_page, MB_ERR_INVALID_CHARS, text.data(),
                                    static_cast<int>(length), units, 2);
    if (count > 0) {
      wide.append(units, static_cast<std::size_t>(count));
    } else {
      wide.push_back(L'?');
    }
    text.remove_prefix(length);
  }
  return wide;
}

// UTF-8 that is not well formed gets U+FFFD, which no code page holds and so
// ends up as '?' as well.
std::wstring Widen(std::string_view text, UINT code_page) {
  if (text.empty()) return {};
  const DWORD flags = code_page == CP_UTF8 ? 0 : MB_ERR_INVALID_CHARS;
  int size = static_cast<int>(text.size());
  int wide_size = MultiByteToWideChar(code_page, flags, text.data(), size, nullptr, 0);
  if (wide_size <= 0) return WidenEachCharacter(text, code_page);
  std::wstring wide(static_cast<std::size_t>(wide_size), L'\0');
  MultiByteToWideChar(code_page, flags, text.data(), size, wide.data(), wide_size);
  return wide;
}

// A character the code page lacks becomes '?', never a look-alike: best-fit
// mapping would quietly turn "café" into "cafe", another folder. UTF-8 holds
// every character and takes neither flag nor replacement.
std::string Narrow(const std::wstring& wide, UINT code_page) {
  if (wide.empty()) return {};
  const bool utf8 = code_page == CP_UTF8;
  const DWORD flags = utf8 ? 0 : WC_NO_BEST_FIT_CHARS;
  const char* replacement = utf8 ? nullptr : "?";
  int size = static_cast<int>(wide.size());
  int narrow_size =
      WideCharToMultiByte(code_page, flags, wide.data(), size, nullptr, 0, replacement, nullptr);
  std::string narrow(static_cast<std::size_t>(std::max(narrow_size, 0)), '\0');
  if (narrow_size > 0) {
    WideCharToMultiByte(code_page, flags, wide.data(), size, narrow.data(), narrow_size,
                        replacement, nullptr);
  }
  return narrow;
}

}  // namespace

std::string ToAnsi(std::string_view utf8) { return Narrow(Widen(utf8, CP_UTF8), CP_ACP); }

std::string FromAnsi(std::string_view ansi) { return Narrow(Widen(ansi, CP_ACP), CP_UTF8); }

std::string FromStoredText(std::string_view stored) {
  const bool in_code_page =
      stored.empty() || MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, stored.data(),
                                            static_cast<int>(stored.size()), nullptr, 0) > 0;
  if (GetACP() != CP_UTF8 && !in_code_page && IsValidUtf8(stored)) return std::string(stored);
  return FromAnsi(stored);
}

#else

namespace {

constexpr char kUtf8[] = "UTF-8";

std::string EffectiveCharset(const std::string& charset) {
  if (charset.empty() || charset == "ANSI_X3.4-1968" || charset == "ASCII" ||
      charset == "US-ASCII") {
    return kUtf8;
  }
  return charset;
}

class Converter {
 public:
  Converter(const std::string& to, const std::string& from)
      : handle_(iconv_open(to.c_str(), from.c_str())) {}
  ~Converter() {
    if (valid()) iconv_close(handle_);
  }
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;

  bool valid() const { return handle_ != reinterpret_cast<iconv_t>(-1); }

  // True when every byte of `input` belongs to a character the converter takes.
  bool TakesAll(std::string_view input) {
    char* in = const_cast<char*>(input.data());
    std::size_t in_left = input.size();
    std::string output;
    while (in_left > 0) {
      if (!Step(&in, &in_left, &output)) return false;
    }
    return true;
  }

  // Converts all of `input`; what cannot be converted becomes '?'.
  std::string Run(std::string_view input, bool input_is_utf8) {
    std::string output;
    char* in = const_cast<char*>(input.data());
    std::size_t in_left = input.size();
    while (in_left > 0) {
      if (Step(&in, &in_left, &output)) continue;
      output.push_back('?');
      // One '?' for a character the other side lacks, or for one byte that is
      // no character.
      std::size_t skip =
          input_is_utf8 ? std::max<std::size_t>(Utf8CharacterLength({in, in_left}), 1) : 1;
      in += skip;
      in_left -= skip;
    }
    Step(nullptr, nullptr, &output);  // end a stateful encoding in its initial shift state
    return output;
  }

 private:
  // One call of iconv; false when it stopped at input it cannot convert.
  bool Step(char** in, std::size_t* in_left, std::string* output) {
    char buffer[1024];
    char* out = buffer;
    std::size_t out_left = sizeof buffer;
    std::size_t result = iconv(handle_, in, in_left, &out, &out_left);
    int error = errno;
    output->append(buffer, static_cast<std::size_t>(out - buffer));
    return result != static_cast<std::size_t>(-1) || error == E2BIG;
  }

  iconv_t handle_;
};

// Without a converter for the charset only ASCII can be trusted to pass unchanged.
std::string AsciiOnly(std::string_view text) {
  std::string result(text);
  std::replace_if(
      result.begin(), result.end(), [](char c) { return static_cast<unsigned char>(c) > 0x7F; },
      '?');
  return result;
}

std::string LocaleCharset() { return nl_langinfo(CODESET); }

}  // namespace

std::string Utf8ToCharset(std::string_view utf8, const std::string& charset) {
  Converter converter(EffectiveCharset(charset), kUtf8);
  return converter.valid() ? converter.Run(utf8, true) : AsciiOnly(utf8);
}

std::string CharsetToUtf8(std::string_view text, const std::string& charset) {
  Converter converter(kUtf8, EffectiveCharset(charset));
  return converter.valid() ? converter.Run(text, false) : AsciiOnly(text);
}

std::string StoredTextToUtf8(std::string_view stored, const std::string& charset) {
  const std::string effective = EffectiveCharset(charset);
  if (effective != kUtf8 && IsValidUtf8(stored)) {
    Converter converter(kUtf8, effective);
    if (converter.valid() && !converter.TakesAll(stored)) return std::string(stored);
  }
  return CharsetToUtf8(stored, charset);
}

std::string ToAnsi(std::string_view utf8) { return Utf8ToCharset(utf8, LocaleCharset()); }

std::string FromAnsi(std::string_view ansi) { return CharsetToUtf8(ansi, LocaleCharset()); }

std::string FromStoredText(std::string_view stored) {
  return StoredTextToUtf8(stored, LocaleCharset());
}

#endif

}  // namespace qm
