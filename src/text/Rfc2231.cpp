// Parameters of structured header values (Content-Type, Content-Disposition):
// plain, quoted, RFC 2231 extended and continued, RFC 2047 words inside.

#include <map>
#include <vector>

#include "text/Charset.h"
#include "text/EncodedWords.h"
#include "text/HeaderText.h"

namespace qm {
namespace {

constexpr size_t kMaxSectionDigits = 4;

struct RawParameter {
  std::string name;  // lower case
  std::string value;
};

std::string Lower(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) c = static_cast<char>((c >= 'A' && c <= 'Z') ? c - 'A' + 'a' : c);
  return lower;
}

std::string_view Trim(std::string_view text) {
  while (!text.empty() && IsHeaderSpace(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsHeaderSpace(text.back())) text.remove_suffix(1);
  return text;
}

size_t SkipPast(std::string_view text, size_t pos, char stop) {
  while (pos < text.size() && text[pos] != stop) {
    if (text[pos] == '"') {
      ReadQuotedString(text, pos);
    } else {
      ++pos;
    }
  }
  return pos < text.size() ? pos + 1 : pos;
}

// Reads one "name=value" at pos; nullopt (with pos moved on) for junk.
std::optional<RawParameter> ReadParameter(std::string_view text, size_t& pos) {
  const size_t name_start = pos;
  while (pos < text.size() && text[pos] != '=' && text[pos] != ';') ++pos;
  if (pos >= text.size() || text[pos] == ';') return std::nullopt;
  RawParameter parameter{Lower(Trim(text.substr(name_start, pos - name_start))), {}};
  ++pos;  // '='
  while (pos < text.size() && IsHeaderSpace(text[pos])) ++pos;
  if (pos < text.size() && text[pos] == '"') {
    parameter.value = ReadQuotedString(text, pos);
    pos = SkipPast(text, pos, ';');
  } else {
    const size_t value_start = pos;
    while (pos < text.size() && text[pos] != ';') ++pos;
    parameter.value = std::string(Trim(text.substr(value_start, pos - value_start)));
  }
  return parameter;
}

std::vector<RawParameter> SplitParameters(std::string_view text) {
  std::vector<RawParameter> parameters;
  size_t pos = SkipPast(text, 0, ';');  // past the type or disposition itself
  while (pos < text.size()) {
    if (text[pos] == ';' || IsHeaderSpace(text[pos])) {
      ++pos;
    } else if (auto parameter = ReadParameter(text, pos)) {
      parameters.push_back(std::move(*parameter));
    }
  }
  return parameters;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// %XX escapes to bytes; a '%' not followed by two hex digits stays as it is.
std::string PercentDecode(std::string_view text) {
  std::string bytes;
  for (size_t i = 0; i < text.size(); ++i) {
    const int high = (text[i] == '%' && i + 2 < text.size()) ? HexValue(text[i + 1]) : -1;
    const int low = high >= 0 ? HexValue(text[i + 2]) : -1;
    if (low >= 0) {
      bytes += static_cast<char>(high * 16 + low);
      i += 2;
    } else {
      bytes += text[i];
    }
  }
  return bytes;
}

// One piece of an RFC 2231 value: "name*" (extended), "name*N" or "name*N*".
struct Section {
  std::string value;
  bool extended = false;
};

// The section number of `parameter` relative to `name`: 0 for "name*", N for
// "name*N" or "name*N*"; nullopt when the parameter is another one.
std::optional<std::pair<int, bool>> SectionOf(std::string_view parameter, std::string_view name) {
  if (parameter.size() <= name.size() || parameter.substr(0, name.size()) != name ||
      parameter[name.size()] != '*') {
    return std::nullopt;
  }
  std::string_view rest = parameter.substr(name.size() + 1);
  if (rest.empty()) return std::make_pair(0, true);
  const bool extended = rest.back() == '*';
  if (extended) rest.remove_suffix(1);
  if (rest.empty() || rest.size() > kMaxSectionDigits) return std::nullopt;
  int number = 0;
  for (char c : rest) {
    if (c < '0' || c > '9') return std::nullopt;
    number = number * 10 + (c - '0');
  }
  return std::make_pair(number, extended);
}

// Joins the sections in number order. The first section of an extended value
// starts with "charset'language'"; extended sections are percent-encoded.
std::string DecodeSections(const std::map<int, Section>& sections) {
  std::string charset;
  std::string bytes;
  for (const auto& [number, section] : sections) {
    std::string_view value = section.value;
    if (number == sections.begin()->first && section.extended) {
      const size_t first = value.find('\'');
      const size_t second = first == std::string_view::npos ? first : value.find('\'', first + 1);
      if (second != std::string_view::npos) {
        charset = std::string(value.substr(0, first));
        value.remove_prefix(second + 1);
      }
    }
    bytes += section.extended ? PercentDecode(value) : std::string(value);
  }
  const std::string text =
      charset.empty() ? DecodeHeaderBytes(bytes) : ConvertToUtf8(bytes, charset);
  return DecodeEncodedWords(text);
}

}  // namespace

std::optional<std::string> DecodeParameter(std::string_view raw_value, std::string_view name) {
  const std::string wanted = Lower(name);
  std::optional<std::string> plain;
  std::map<int, Section> sections;
  for (auto& parameter : SplitParameters(UnfoldAndDecodeBytes(raw_value))) {
    if (parameter.name == wanted) {
      if (!plain) plain = DecodeEncodedWords(parameter.value);
    } else if (auto section = SectionOf(parameter.name, wanted)) {
      sections.try_emplace(section->first, Section{std::move(parameter.value), section->second});
    }
  }
  // The RFC 2231 form is the exact one; mailers that send both mean the same.
  if (!sections.empty()) return WithoutNulAndLineBreaks(DecodeSections(sections));
  if (plain) return WithoutNulAndLineBreaks(*plain);
  return std::nullopt;
}

}  // namespace qm
