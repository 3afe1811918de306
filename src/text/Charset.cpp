#include "text/Charset.h"

#include <unicode/ucnv.h>
#include <unicode/ucnv_cb.h>
#include <unicode/ustring.h>
#include <unicode/utf8.h>

#include <algorithm>
#include <array>
#include <memory>
#include <utility>

#include "base/Utf8Character.h"
#include "text/HeaderText.h"

namespace qm {
namespace {

struct ConverterCloser {
  void operator()(UConverter* converter) const { ucnv_close(converter); }
};
using Converter = std::unique_ptr<UConverter, ConverterCloser>;

// Writes U+FFFD for every undecodable sequence and counts how many there were,
// so that one routine serves both the lenient and the exact conversion.
void SubstituteAndCount(const void* context, UConverterToUnicodeArgs* args, const char*, int32_t,
                        UConverterCallbackReason reason, UErrorCode* status) {
  if (reason != UCNV_UNASSIGNED && reason != UCNV_ILLEGAL && reason != UCNV_IRREGULAR) return;
  ++*static_cast<int*>(const_cast<void*>(context));
  *status = U_ZERO_ERROR;
  const UChar replacement = 0xFFFD;
  ucnv_cbToUWriteUChars(args, &replacement, 1, 0, status);
}

std::string Utf16ToUtf8(const std::u16string& text) {
  UErrorCode status = U_ZERO_ERROR;
  int32_t length = 0;
  u_strToUTF8WithSub(nullptr, 0, &length, text.data(), static_cast<int32_t>(text.size()), 0xFFFD,
                     nullptr, &status);
  std::string result(static_cast<size_t>(length), '\0');
  status = U_ZERO_ERROR;
  u_strToUTF8WithSub(result.data(), length, &length, text.data(), static_cast<int32_t>(text.size()),
                     0xFFFD, nullptr, &status);
  if (U_FAILURE(status)) return {};
  return result;
}

struct Conversion {
  std::string text;
  int substitutions = 0;
};

std::optional<Conversion> Convert(std::string_view bytes, const char* icu_name) {
  UErrorCode status = U_ZERO_ERROR;
  Converter converter(ucnv_open(icu_name, &status));
  if (U_FAILURE(status) || !converter) return std::nullopt;
  Conversion result;
  ucnv_setToUCallBack(converter.get(), SubstituteAndCount, &result.substitutions, nullptr, nullptr,
                      &status);
  if (U_FAILURE(status)) return std::nullopt;

  std::u16string utf16;
  std::array<UChar, 1024> chunk;
  const char* source = bytes.data();
  const char* source_end = source + bytes.size();
  do {
    status = U_ZERO_ERROR;
    UChar* target = chunk.data();
    ucnv_toUnicode(converter.get(), &target, chunk.data() + chunk.size(), &source, source_end,
                   nullptr, true, &status);
    utf16.append(chunk.data(), target);
  } while (status == U_BUFFER_OVERFLOW_ERROR);
  if (U_FAILURE(status)) return std::nullopt;
  result.text = Utf16ToUtf8(utf16);
  return result;
}

char AsciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool IsCharsetNameCharacter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '_' || c == '.' ||
         c == ':' || c == '+' || c == '(' || c == ')';
}

// The ICU converter name for a charset label from a message, or nullopt when
// the label is empty or not a plausible name. Labels may carry an RFC 2231
// language ("iso-2022-jp*ja"). Every Shift_JIS label maps to Windows-31J, the
// table with the NEC and IBM extensions that Japanese mailers really send.
std::optional<std::string> IcuCharsetName(std::string_view label) {
  label = label.substr(0, label.find('*'));
  while (!label.empty() && (label.front() == ' ' || label.front() == '"')) label.remove_prefix(1);
  while (!label.empty() && (label.back() == ' ' || label.back() == '"')) label.remove_suffix(1);
  if (label.empty() || label.size() > 64) return std::nullopt;
  std::string name;
  for (char c : label) name += AsciiLower(c);
  if (!std::all_of(name.begin(), name.end(), IsCharsetNameCharacter)) return std::nullopt;
  static constexpr std::array<std::string_view, 11> kShiftJisLabels = {
      "shift_jis", "shift-jis", "sjis",    "x-sjis",      "ms_kanji",  "csshiftjis",
      "cp932",     "ms932",     "ibm-943", "windows-31j", "x-ms-cp932"};
  if (std::find(kShiftJisLabels.begin(), kShiftJisLabels.end(), name) != kShiftJisLabels.end()) {
    return "windows-31j";
  }
  return name;
}

bool IsAsciiLabel(std::string_view icu_name) {
  return icu_name == "us-ascii" || icu_name == "ascii" || icu_name == "ansi_x3.4-1968";
}

bool HasEightBit(std::string_view bytes) {
  return std::any_of(bytes.begin(), bytes.end(),
                     [](char c) { return static_cast<unsigned char>(c) >= 0x80; });
}

// Length of the ISO-2022 G0 designation (ESC ( F, ESC $ F, ESC $ ( F) at
// bytes[pos], or 0 when there is none.
size_t G0EscapeLength(std::string_view bytes, size_t pos) {
  if (pos + 2 >= bytes.size() || bytes[pos] != '\x1b') return 0;
  if (bytes[pos + 1] == '(') return 3;
  if (bytes[pos + 1] != '$') return 0;
  if (bytes[pos + 2] != '(') return 3;
  return pos + 3 < bytes.size() ? 4 : 0;
}

// Drops every G0 designation that is at once followed by another one. Such an
// escape has no effect, but ICU reports the pair as an error, and it is what
// joining encoded words ("...ESC ( B" + "ESC $ B...") produces.
std::string CollapseRedundantEscapes(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  size_t pos = 0;
  while (pos < bytes.size()) {
    const size_t length = G0EscapeLength(bytes, pos);
    if (length == 0) {
      out += bytes[pos++];
      continue;
    }
    if (G0EscapeLength(bytes, pos + length) == 0) out.append(bytes.substr(pos, length));
    pos += length;
  }
  return out;
}

bool IsIso2022Jp(std::string_view icu_name) {
  return icu_name.starts_with("iso-2022-jp") || icu_name.starts_with("csiso2022jp");
}

// Labels that name the JIS standard rather than a Windows code page. ICU
// decodes them all with Microsoft's table; the standard maps six characters
// differently (0x8160 is WAVE DASH, not FULLWIDTH TILDE), and that is what the
// sender's text means and what other Unix mail tools show.
bool NamesJisStandard(std::string_view label) {
  std::string name;
  for (char c : label.substr(0, label.find('*'))) {
    if (c != ' ' && c != '"') name += AsciiLower(c);
  }
  static constexpr std::array<std::string_view, 8> kJisLabels = {
      "shift_jis", "shift-jis", "sjis", "x-sjis", "csshiftjis", "euc-jp", "x-euc-jp", "eucjp"};
  return IsIso2022Jp(name) ||
         std::find(kJisLabels.begin(), kJisLabels.end(), name) != kJisLabels.end();
}

// Replaces the Microsoft mappings of the six differing JIS characters by the
// standard ones, in UTF-8.
std::string WithJisStandardMapping(std::string text) {
  static constexpr std::array<std::pair<std::string_view, std::string_view>, 6> kStandard = {{
      {"\xEF\xBD\x9E", "\xE3\x80\x9C"},  // FULLWIDTH TILDE -> WAVE DASH
      {"\xE2\x88\xA5", "\xE2\x80\x96"},  // PARALLEL TO -> DOUBLE VERTICAL LINE
      {"\xEF\xBC\x8D", "\xE2\x88\x92"},  // FULLWIDTH HYPHEN-MINUS -> MINUS SIGN
      {"\xEF\xBF\xA0", "\xC2\xA2"},      // FULLWIDTH CENT SIGN -> CENT SIGN
      {"\xEF\xBF\xA1", "\xC2\xA3"},      // FULLWIDTH POUND SIGN -> POUND SIGN
      {"\xEF\xBF\xA2", "\xC2\xAC"},      // FULLWIDTH NOT SIGN -> NOT SIGN
  }};
  for (const auto& [microsoft, standard] : kStandard) {
    for (size_t at = text.find(microsoft); at != std::string::npos;
         at = text.find(microsoft, at + standard.size())) {
      text.replace(at, microsoft.size(), standard);
    }
  }
  return text;
}

}  // namespace

std::string ReplaceInvalidUtf8(std::string_view text) {
  const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
  const auto length = static_cast<int32_t>(text.size());
  std::string result;
  result.reserve(text.size());
  int32_t i = 0;
  while (i < length) {
    const int32_t start = i;
    UChar32 c;
    U8_NEXT(bytes, i, length, c);
    if (c < 0) {
      result += "\xEF\xBF\xBD";
    } else {
      result.append(text.substr(static_cast<size_t>(start), static_cast<size_t>(i - start)));
    }
  }
  return result;
}

std::optional<std::string> ConvertExactly(std::string_view bytes, const char* icu_name) {
  auto conversion = Convert(bytes, icu_name);
  if (!conversion || conversion->substitutions > 0) return std::nullopt;
  return std::move(conversion->text);
}

std::string DecodeHeaderBytes(std::string_view bytes) {
  if (bytes.find('\x1b') != std::string_view::npos && !HasEightBit(bytes)) {
    if (auto text = ConvertExactly(CollapseRedundantEscapes(bytes), "ISO-2022-JP")) return *text;
  }
  return DecodeUnlabelled(bytes);
}

std::string ConvertToUtf8(std::string_view bytes, std::string_view charset) {
  const auto icu_name = IcuCharsetName(charset);
  if (!icu_name || (IsAsciiLabel(*icu_name) && HasEightBit(bytes))) {
    return DecodeUnlabelled(bytes);
  }
  auto conversion = IsIso2022Jp(*icu_name)
                        ? Convert(CollapseRedundantEscapes(bytes), icu_name->c_str())
                        : Convert(bytes, icu_name->c_str());
  if (!conversion) return DecodeUnlabelled(bytes);
  if (NamesJisStandard(charset)) return WithJisStandardMapping(std::move(conversion->text));
  return std::move(conversion->text);
}

std::string DecodeUnlabelled(std::string_view bytes) {
  if (IsValidUtf8(bytes)) return std::string(bytes);
  for (const char* candidate : {"windows-31j", "EUC-JP"}) {
    if (auto text = ConvertExactly(bytes, candidate)) return *text;
  }
  if (auto text = Convert(bytes, "ISO-8859-1")) return std::move(text->text);
  return ReplaceInvalidUtf8(bytes);
}

}  // namespace qm
