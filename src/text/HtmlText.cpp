#include "text/HtmlText.h"

#include <unicode/utf8.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <utility>

#include "text/Charset.h"

namespace qm {
namespace {

bool IsHtmlSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f'; }

bool IsAsciiLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

bool IsAsciiDigit(char c) { return c >= '0' && c <= '9'; }

char AsciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool IsOneOf(std::string_view name, std::initializer_list<std::string_view> names) {
  return std::find(names.begin(), names.end(), name) != names.end();
}

// Elements that start and end a line of text.
bool BreaksLine(std::string_view name) {
  return IsOneOf(name, {"p",       "div",        "tr",       "li",      "h1",         "h2",
                        "h3",      "h4",         "h5",       "h6",      "table",      "ul",
                        "ol",      "dl",         "dt",       "dd",      "blockquote", "pre",
                        "hr",      "center",     "section",  "article", "header",     "footer",
                        "address", "form",       "caption",  "nav",     "aside",      "main",
                        "figure",  "figcaption", "fieldset", "legend",  "details",    "summary"});
}

// Elements whose content is never shown as text.
bool HidesContent(std::string_view name) { return IsOneOf(name, {"script", "style", "title"}); }

bool BelongsInHead(std::string_view name) {
  return IsOneOf(name,
                 {"title", "meta", "link", "style", "script", "base", "noscript", "template"});
}

struct NamedReference {
  std::string_view name;
  std::string_view text;
};

constexpr NamedReference kNamedReferences[] = {
    {"amp", "&"},         {"AMP", "&"},       {"lt", "<"},        {"LT", "<"},
    {"gt", ">"},          {"GT", ">"},        {"quot", "\""},     {"QUOT", "\""},
    {"apos", "'"},        {"nbsp", "\u00A0"}, {"ensp", "\u2002"}, {"emsp", "\u2003"},
    {"thinsp", "\u2009"}, {"shy", "\u00AD"},  {"copy", "©"},      {"reg", "®"},
    {"trade", "™"},       {"hellip", "…"},    {"mdash", "—"},     {"ndash", "–"},
    {"lsquo", "‘"},       {"rsquo", "’"},     {"ldquo", "“"},     {"rdquo", "”"},
    {"laquo", "«"},       {"raquo", "»"},     {"middot", "·"},    {"bull", "•"},
    {"times", "×"},       {"divide", "÷"},    {"deg", "°"},       {"plusmn", "±"},
    {"yen", "¥"},         {"euro", "€"},      {"cent", "¢"},      {"pound", "£"},
    {"sect", "§"},        {"para", "¶"},      {"larr", "←"},      {"rarr", "→"},
    {"uarr", "↑"},        {"darr", "↓"},      {"zwnj", "\u200C"}, {"zwj", "\u200D"},
};

constexpr std::size_t kLongestReferenceName = 6;

// Collects the text, collapsing white space as a browser shows it.
class TextWriter {
 public:
  // Characters that show (not white space).
  void Visible(std::string_view characters) {
    if (space_pending_ && !AtLineStart()) text_ += ' ';
    space_pending_ = false;
    text_ += characters;
  }
  void Space() { space_pending_ = true; }
  void LineBreak() {
    space_pending_ = false;
    text_ += '\n';
  }
  void EndBlock() {
    if (AtLineStart()) {
      space_pending_ = false;
    } else {
      LineBreak();
    }
  }
  std::string Take() {
    while (!text_.empty() && text_.back() == '\n') text_.pop_back();
    return std::move(text_);
  }

 private:
  bool AtLineStart() const { return text_.empty() || text_.back() == '\n'; }

  std::string text_;
  bool space_pending_ = false;
};

struct Tag {
  std::string name;  // lower case, cut at kLongestTagName
  bool end = false;
  bool empty = false;  // written <.../>
};

constexpr std::size_t kLongestTagName = 16;

// Just past the '>' that ends a tag whose attributes start at `pos` (the end
// of `html` when there is none). A quote opens a value only after '='.
std::size_t AfterTag(std::string_view html, std::size_t pos) {
  bool after_equals = false;
  while (pos < html.size()) {
    const char c = html[pos];
    if (c == '>') return pos + 1;
    if ((c == '"' || c == '\'') && after_equals) {
      const std::size_t close = html.find(c, pos + 1);
      if (close == std::string_view::npos) return html.size();
      pos = close + 1;
      after_equals = false;
      continue;
    }
    if (c == '=') {
      after_equals = true;
    } else if (!IsHtmlSpace(c)) {
      after_equals = false;
    }
    ++pos;
  }
  return html.size();
}

// Just past the next `end` from `pos` on; the end of `html` when there is none.
std::size_t AfterNext(std::string_view html, std::size_t pos, std::string_view end) {
  const std::size_t found = html.find(end, pos);
  return found == std::string_view::npos ? html.size() : found + end.size();
}

// Reads the tag name at `pos` into `tag`; returns where it ends.
std::size_t ReadTagName(std::string_view html, std::size_t pos, Tag& tag) {
  while (pos < html.size() && (IsAsciiLetter(html[pos]) || IsAsciiDigit(html[pos]) ||
                               html[pos] == '-' || html[pos] == ':')) {
    if (tag.name.size() < kLongestTagName) tag.name += AsciiLower(html[pos]);
    ++pos;
  }
  return pos;
}

// Just past the end tag of a hidden element, from `pos` on.
std::size_t AfterHiddenContent(std::string_view html, std::size_t pos, std::string_view name) {
  for (pos = html.find("</", pos); pos != std::string_view::npos; pos = html.find("</", pos + 2)) {
    std::size_t at = pos + 2;
    bool same = true;
    for (std::size_t i = 0; i < name.size() && same; ++i, ++at) {
      same = at < html.size() && AsciiLower(html[at]) == name[i];
    }
    if (same &&
        (at == html.size() || html[at] == '>' || html[at] == '/' || IsHtmlSpace(html[at]))) {
      return AfterTag(html, at);
    }
  }
  return html.size();
}

void AppendCodePoint(uint32_t code_point, std::string& out) {
  const bool valid =
      code_point != 0 && code_point <= 0x10FFFF && !(code_point >= 0xD800 && code_point <= 0xDFFF);
  const auto c = static_cast<UChar32>(valid ? code_point : 0xFFFD);
  std::array<uint8_t, U8_MAX_LENGTH> bytes;
  int32_t length = 0;
  U8_APPEND_UNSAFE(bytes.data(), length, c);
  out.append(reinterpret_cast<const char*>(bytes.data()), static_cast<std::size_t>(length));
}

int DigitValue(char c, bool hexadecimal) {
  if (IsAsciiDigit(c)) return c - '0';
  if (!hexadecimal) return -1;
  const char lower = AsciiLower(c);
  return (lower >= 'a' && lower <= 'f') ? lower - 'a' + 10 : -1;
}

// &#...; or &#x...; at `pos`: bytes read (0 when it is none), its text into `out`.
std::size_t ReadNumericReference(std::string_view html, std::size_t pos, std::string& out) {
  std::size_t at = pos + 2;
  const bool hexadecimal = at < html.size() && (html[at] == 'x' || html[at] == 'X');
  if (hexadecimal) ++at;
  const std::size_t digits_start = at;
  uint32_t value = 0;
  for (int digit; at < html.size() && (digit = DigitValue(html[at], hexadecimal)) >= 0; ++at) {
    value = std::min<uint32_t>(value * (hexadecimal ? 16 : 10) + static_cast<uint32_t>(digit),
                               0x110000);  // saturates past the last code point
  }
  if (at == digits_start) return 0;
  if (at < html.size() && html[at] == ';') ++at;
  AppendCodePoint(value, out);
  return at - pos;
}

// &name; at `pos`: bytes read (0 when it is none), its text into `out`.
std::size_t ReadNamedReference(std::string_view html, std::size_t pos, std::string& out) {
  std::size_t at = pos + 1;
  while (at < html.size() && at - pos <= kLongestReferenceName &&
         (IsAsciiLetter(html[at]) || IsAsciiDigit(html[at]))) {
    ++at;
  }
  if (at == pos + 1 || at >= html.size() || html[at] != ';') return 0;
  const std::string_view name = html.substr(pos + 1, at - pos - 1);
  for (const NamedReference& reference : kNamedReferences) {
    if (reference.name != name) continue;
    out += reference.text;
    return at + 1 - pos;
  }
  return 0;
}

// Reads an HTML text once, start to end.
class HtmlReader {
 public:
  explicit HtmlReader(std::string_view html) : html_(html) {}

  std::string Read() {
    std::size_t pos = 0;
    while (pos < html_.size()) pos = ReadAt(pos);
    return writer_.Take();
  }

 private:
  std::size_t ReadAt(std::size_t pos) {
    if (html_[pos] == '<') {
      if (auto after = ReadMarkup(pos)) return *after;
    } else if (html_[pos] == '&') {
      std::string text;
      const std::size_t used = html_.substr(pos).starts_with("&#")
                                   ? ReadNumericReference(html_, pos, text)
                                   : ReadNamedReference(html_, pos, text);
      if (used > 0) {
        if (!in_head_) writer_.Visible(text);
        return pos + used;
      }
    }
    ReadCharacter(html_[pos]);
    return pos + 1;
  }

  void ReadCharacter(char c) {
    if (in_head_) return;
    if (!IsHtmlSpace(c)) {
      writer_.Visible(std::string_view(&c, 1));
    } else if (preformatted_ == 0) {
      writer_.Space();
    } else if (c == '\n') {
      writer_.LineBreak();
    } else if (c != '\r') {
      writer_.Visible(std::string_view(&c, 1));
    }
  }

  // Just past the comment, declaration or tag at `pos` ('<'); nothing when
  // the '<' starts none and is text.
  std::optional<std::size_t> ReadMarkup(std::size_t pos) {
    const std::string_view rest = html_.substr(pos);
    if (rest.starts_with("<!--")) return AfterNext(html_, pos + 4, "-->");
    if (rest.size() < 2) return std::nullopt;
    if (rest[1] == '!' || rest[1] == '?') return AfterNext(html_, pos + 2, ">");
    Tag tag;
    std::size_t at = pos + 1;
    if (rest[1] == '/') {
      tag.end = true;
      ++at;
      if (rest.size() < 3 || !IsAsciiLetter(rest[2])) return AfterNext(html_, at, ">");
    } else if (!IsAsciiLetter(rest[1])) {
      return std::nullopt;
    }
    at = AfterTag(html_, ReadTagName(html_, at, tag));
    tag.empty = at >= 2 && html_[at - 1] == '>' && html_[at - 2] == '/';
    Apply(tag);
    if (!tag.end && !tag.empty && HidesContent(tag.name)) {
      return AfterHiddenContent(html_, at, tag.name);
    }
    return at;
  }

  void Apply(const Tag& tag) {
    if (tag.name == "head") {
      in_head_ = !tag.end;
      return;
    }
    if (in_head_ && !tag.end && !BelongsInHead(tag.name)) in_head_ = false;
    if (tag.name == "br") {
      if (!in_head_) writer_.LineBreak();
    } else if (tag.name == "td" || tag.name == "th") {
      if (!tag.end) writer_.Space();
    } else if (BreaksLine(tag.name)) {
      if (tag.name == "pre" && !tag.empty) {
        preformatted_ = tag.end ? std::max(preformatted_ - 1, 0) : preformatted_ + 1;
      }
      writer_.EndBlock();
    }
  }

  std::string_view html_;
  TextWriter writer_;
  int preformatted_ = 0;  // pre elements open
  bool in_head_ = false;
};

}  // namespace

std::string HtmlToText(std::string_view html) {
  const std::string valid = ReplaceInvalidUtf8(html);
  return HtmlReader(valid).Read();
}

}  // namespace qm
