#include "settings/RegFileValue.h"

#include <algorithm>
#include <utility>

#include "settings/AnsiText.h"
#include "settings/RegFileEncoding.h"

namespace qm {

namespace {

constexpr std::uint32_t kRegExpandSz = 2;
constexpr std::uint32_t kRegMultiSz = 7;
constexpr std::size_t kWrapColumn = 76;  // hex lists wrap like regedit's do

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool IsStringType(std::uint32_t type) {
  return type == kRegSz || type == kRegExpandSz || type == kRegMultiSz;
}

std::string TextOf(const Bytes& data) { return std::string(data.begin(), data.end()); }

Bytes BytesOf(std::string_view text) { return Bytes(text.begin(), text.end()); }

// ---------------------------------------------------------------------------
// Reading.

bool ConsumePrefix(std::string_view* text, std::string_view prefix) {
  if (!text->starts_with(prefix)) return false;
  text->remove_prefix(prefix.size());
  return true;
}

std::optional<unsigned> HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  c = LowerAscii(c);
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return std::nullopt;
}

// 1 to `max_digits` hex digits, nothing else.
std::optional<std::uint32_t> ParseHex(std::string_view text, std::size_t max_digits) {
  if (text.empty() || text.size() > max_digits) return std::nullopt;
  std::uint32_t value = 0;
  for (char c : text) {
    std::optional<unsigned> digit = HexDigit(c);
    if (!digit) return std::nullopt;
    value = value * 16 + *digit;
  }
  return value;
}

// A quoted text at the start of `*text`, with \\ and \" escapes; the closing
// quote is consumed.
std::optional<std::string> ParseQuoted(std::string_view* text) {
  if (!ConsumePrefix(text, "\"")) return std::nullopt;
  std::string result;
  for (std::size_t i = 0; i < text->size(); ++i) {
    char c = (*text)[i];
    if (c == '"') {
      text->remove_prefix(i + 1);
      return result;
    }
    if (c == '\\' && i + 1 < text->size()) c = (*text)[++i];
    result += c;
  }
  return std::nullopt;
}

bool OnlyCommentLeft(std::string_view text) {
  text = TrimBlanks(text);
  return text.empty() || text.front() == ';';
}

Bytes DwordData(std::uint32_t value) {
  return {static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8),
          static_cast<std::uint8_t>(value >> 16), static_cast<std::uint8_t>(value >> 24)};
}

// "xx,xx,..." where a line ending in a backslash continues on the next line.
std::optional<Bytes> ParseHexList(std::string_view first_line, std::span<const RegFileLine> lines,
                                  ParsedValue* parsed) {
  std::string joined(TrimBlanks(first_line));
  while (!joined.empty() && joined.back() == '\\') {
    if (parsed->line_count == lines.size()) {
      parsed->open_at_end = true;
      break;
    }
    joined.pop_back();
    joined += TrimBlanks(lines[parsed->line_count++].content);
  }
  Bytes bytes;
  std::string_view rest = joined;
  while (!rest.empty()) {
    std::size_t comma = rest.find(',');
    std::optional<std::uint32_t> byte = ParseHex(TrimBlanks(rest.substr(0, comma)), 2);
    if (!byte) return std::nullopt;
    bytes.push_back(static_cast<std::uint8_t>(*byte));
    if (comma == std::string_view::npos) break;
    rest = TrimBlanks(rest.substr(comma + 1));  // a trailing comma ends the list
  }
  return bytes;
}

// The part after '=' of a value line.
bool ParseData(std::string_view text, std::span<const RegFileLine> lines, ParsedValue* parsed,
               StoredValue* stored) {
  RegValue& value = stored->value;
  if (text.starts_with('"')) {
    std::optional<std::string> content = ParseQuoted(&text);
    if (!content || !OnlyCommentLeft(text)) return false;
    value.type = kRegSz;
    value.data = BytesOf(*content);
    value.data.push_back(0);
    stored->quoted = true;
    return true;
  }
  if (ConsumePrefix(&text, "dword:")) {
    std::optional<std::uint32_t> number = ParseHex(TrimBlanks(text), 8);
    if (!number) return false;
    value.type = kRegDword;
    value.data = DwordData(*number);
    return true;
  }
  if (ConsumePrefix(&text, "hex:")) {
    value.type = kRegBinary;
  } else if (ConsumePrefix(&text, "hex(")) {
    std::size_t close = text.find("):");
    std::optional<std::uint32_t> type =
        close == std::string_view::npos ? std::nullopt : ParseHex(text.substr(0, close), 8);
    if (!type) return false;
    value.type = *type;
    text.remove_prefix(close + 2);
  } else {
    return false;
  }
  std::optional<Bytes> bytes = ParseHexList(text, lines, parsed);
  if (!bytes) return false;
  value.data = std::move(*bytes);
  return true;
}

// ---------------------------------------------------------------------------
// Writing.

std::string Quoted(std::string_view text) {
  std::string result = "\"";
  for (char c : text) {
    if (c == '\\' || c == '"') result += '\\';
    result += c;
  }
  return result + "\"";
}

// Text plus exactly one closing NUL, with no control character but TAB: a
// line break would end the line, and any other one would make the file no text.
bool IsPlainText(const RegValue& value) {
  if (value.type != kRegSz || value.data.empty() || value.data.back() != 0) return false;
  return std::none_of(value.data.begin(), value.data.end() - 1,
                      [](std::uint8_t byte) { return byte < 0x20 && byte != '\t'; });
}

std::string HexNumber(std::uint32_t number, int digits) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string text;
  do {
    text.insert(text.begin(), kDigits[number % 16]);
    number /= 16;
  } while (number != 0 || static_cast<int>(text.size()) < digits);
  return text;
}

std::vector<std::string> HexListLines(std::string first, const Bytes& data) {
  std::vector<std::string> lines{std::move(first)};
  for (std::size_t i = 0; i < data.size(); ++i) {
    lines.back() += HexNumber(data[i], 2);
    if (i + 1 == data.size()) break;
    lines.back() += ',';
    if (lines.back().size() > kWrapColumn) {
      lines.back() += '\\';
      lines.emplace_back("  ");
    }
  }
  return lines;
}

// The data of a hex list as the file holds it.
Bytes HexDataInFile(const RegValue& value, RegFileDialect dialect) {
  if (!dialect.wide_strings || !IsStringType(value.type)) return value.data;
  return BytesOf(Utf8ToUtf16Le(FromAnsi(TextOf(value.data))));
}

}  // namespace

std::string_view TrimBlanks(std::string_view text) {
  std::size_t begin = text.find_first_not_of(" \t");
  if (begin == std::string_view::npos) return {};
  std::size_t end = text.find_last_not_of(" \t");
  return text.substr(begin, end - begin + 1);
}

bool SameRegistryName(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return LowerAscii(x) == LowerAscii(y);
         });
}

std::string FoldRegistryName(std::string_view name) {
  std::string folded(name);
  std::transform(folded.begin(), folded.end(), folded.begin(), LowerAscii);
  return folded;
}

ParsedValue ParseValueLines(std::span<const RegFileLine> lines) {
  ParsedValue parsed;
  std::string_view line = TrimBlanks(lines.front().content);
  StoredValue stored;
  if (!ConsumePrefix(&line, "@")) {
    std::optional<std::string> name = ParseQuoted(&line);
    if (!name) return parsed;
    stored.value.name = std::move(*name);
  }
  line = TrimBlanks(line);
  if (!ConsumePrefix(&line, "=")) return parsed;
  if (ParseData(TrimBlanks(line), lines, &parsed, &stored)) parsed.value = std::move(stored);
  return parsed;
}

std::string TextInFile(std::string_view text, RegFileDialect dialect) {
  return dialect.unicode_text ? FromAnsi(text) : std::string(text);
}

std::string TextFromFile(std::string_view text, RegFileDialect dialect) {
  return dialect.unicode_text ? ToAnsi(text) : std::string(text);
}

RegValue ValueFromFile(const StoredValue& stored, RegFileDialect dialect) {
  RegValue value = stored.value;
  value.name = TextFromFile(value.name, dialect);
  if (stored.quoted && dialect.unicode_text) {
    value.data.pop_back();  // the closing NUL, added again below
    value.data = BytesOf(ToAnsi(TextOf(value.data)));
    value.data.push_back(0);
  } else if (!stored.quoted && dialect.wide_strings && IsStringType(value.type)) {
    value.data = BytesOf(ToAnsi(Utf16LeToUtf8(TextOf(value.data))));
  }
  return value;
}

std::vector<std::string> FormatValueLines(const RegValue& value, RegFileDialect dialect) {
  std::string line =
      (value.name.empty() ? std::string("@") : Quoted(TextInFile(value.name, dialect))) + "=";
  if (IsPlainText(value)) {
    std::string_view text(reinterpret_cast<const char*>(value.data.data()), value.data.size() - 1);
    return {line + Quoted(TextInFile(text, dialect))};
  }
  if (value.type == kRegDword && value.data.size() == 4) {
    const Bytes& d = value.data;
    std::uint32_t number = d[0] | (d[1] << 8) | (d[2] << 16) | (std::uint32_t{d[3]} << 24);
    return {line + "dword:" + HexNumber(number, 8)};
  }
  std::string prefix = value.type == kRegBinary ? "hex:" : "hex(" + HexNumber(value.type, 1) + "):";
  return HexListLines(line + prefix, HexDataInFile(value, dialect));
}

}  // namespace qm
