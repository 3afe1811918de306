#include "imap/ImapParser.h"

#include <algorithm>
#include <limits>

#include "base/Failure.h"

namespace qm {
namespace {

constexpr std::size_t kReceiveChunk = 64 * 1024;

Failure Malformed() {
  return Failure(FailureKind::MailStore, Cause::kMailServer,
                 "the mail server sent a malformed response");
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// ATOM-CHAR: any 7-bit character except controls, space and ( ) { % * " \ ].
// The opening bracket is left out where a section follows an attribute name.
bool IsAtomChar(char c, bool allow_bracket) {
  const auto byte = static_cast<unsigned char>(c);
  if (byte <= 0x20 || byte >= 0x7f) return false;
  switch (c) {
    case '(':
    case ')':
    case '{':
    case '%':
    case '*':
    case '"':
    case '\\':
    case ']':
      return false;
    case '[':
      return allow_bracket;
    default:
      return true;
  }
}

std::string Upper(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c; });
  return text;
}

bool IsStatus(const std::string& keyword) {
  return keyword == "OK" || keyword == "NO" || keyword == "BAD";
}

}  // namespace

ImapParser::ImapParser(ImapTransport& transport) : transport_(transport), buffer_(kReceiveChunk) {}

void ImapParser::StreamFetchItem(std::string item, LiteralSink* sink) {
  stream_item_ = std::move(item);
  sink_ = sink;
}

void ImapParser::Refill() {
  begin_ = 0;
  end_ = transport_.Receive(buffer_.data(), buffer_.size());
  if (end_ == 0 || end_ > buffer_.size()) throw Malformed();  // a transport never does this
}

char ImapParser::Peek() {
  if (AtEnd()) Refill();
  return buffer_[begin_];
}

// A byte of a value that may be longer than a line may be (the structure of
// a message of many parts): bounded by the response's limit alone.
char ImapParser::TakeLong() {
  const char c = Peek();
  ++begin_;
  Hold(1);
  return c;
}

char ImapParser::Take() {
  const char c = Peek();
  ++begin_;
  if (++line_bytes_ > kLineLimit) throw Malformed();
  Hold(1);
  return c;
}

void ImapParser::Hold(std::size_t bytes) {
  held_bytes_ += bytes;
  if (held_bytes_ > kResponseLimit) throw Malformed();
}

void ImapParser::Expect(char wanted) {
  if (Take() != wanted) throw Malformed();
}

void ImapParser::ExpectCrlf() {
  Expect('\r');
  Expect('\n');
  line_bytes_ = 0;
}

std::string ImapParser::Atom(bool allow_bracket) {
  std::string atom;
  while (IsAtomChar(Peek(), allow_bracket)) atom += Take();
  if (atom.empty()) throw Malformed();
  return atom;
}

// tag = 1*<any ASTRING-CHAR except "+">
std::string ImapParser::Tag() {
  std::string tag;
  for (char c = Peek(); (IsAtomChar(c, true) && c != '+') || c == ']'; c = Peek()) tag += Take();
  if (tag.empty()) throw Malformed();
  return tag;
}

std::uint64_t ImapParser::ParseNumber(const std::string& digits) {
  std::uint64_t value = 0;
  for (char c : digits) {
    if (!IsDigit(c)) throw Malformed();
    const auto digit = static_cast<std::uint64_t>(c - '0');
    if (value > (std::numeric_limits<std::uint64_t>::max() - digit) / 10) throw Malformed();
    value = value * 10 + digit;
  }
  return value;
}

std::uint32_t ImapParser::Number32(bool allow_zero) {
  std::string digits;
  while (IsDigit(Peek())) digits += Take();
  if (digits.empty()) throw Malformed();
  const std::uint64_t value = ParseNumber(digits);
  if (value > std::numeric_limits<std::uint32_t>::max() || (value == 0 && !allow_zero)) {
    throw Malformed();
  }
  return static_cast<std::uint32_t>(value);
}

ImapValue ImapParser::Value(int depth) {
  const char c = Peek();
  if (c == '(') return List(depth + 1);
  ImapValue value;
  if (c == '"' || c == '{') {
    value.kind = ImapValue::Kind::kString;
    value.text = c == '"' ? Quoted() : Literal();
    return value;
  }
  if (c == '\\') {  // a flag: "\" atom, or "\*" in a list of permanent flags
    Take();
    value.kind = ImapValue::Kind::kAtom;
    value.text = Peek() == '*' ? std::string("\\") + Take() : "\\" + Atom(true);
    return value;
  }
  value.text = Atom(true);
  if (std::all_of(value.text.begin(), value.text.end(), IsDigit)) {
    value.kind = ImapValue::Kind::kNumber;
    value.number = ParseNumber(value.text);
  } else if (Upper(value.text) == "NIL") {
    value.kind = ImapValue::Kind::kNil;
    value.text.clear();
  } else {
    value.kind = ImapValue::Kind::kAtom;
  }
  return value;
}

ImapValue ImapParser::List(int depth) {
  if (depth > kDepthLimit) throw Malformed();
  Expect('(');
  ImapValue list;
  list.kind = ImapValue::Kind::kList;
  if (Peek() == ')') {
    Take();
    return list;
  }
  for (;;) {
    Hold(sizeof(ImapValue));  // many tiny items must not escape the memory bound
    list.items.push_back(Value(depth));
    const char next = Take();
    if (next == ')') return list;
    if (next != ' ') throw Malformed();
  }
}

// A quoted string; only \\ and \" may be escaped, and it cannot span lines.
std::string ImapParser::Quoted() {
  Expect('"');
  std::string text;
  for (;;) {
    char c = Take();
    if (c == '"') return text;
    if (c == '\\') {
      c = Take();
      if (c != '\\' && c != '"') throw Malformed();
    } else if (c == '\r' || c == '\n' || c == '\0') {
      throw Malformed();
    }
    text += c;
  }
}

// "{" number "}" CRLF; the size must not exceed `limit`.
std::uint64_t ImapParser::LiteralSize(std::uint64_t limit) {
  Expect('{');
  std::string digits;
  while (IsDigit(Peek())) digits += Take();
  if (digits.empty() || digits.size() > 20) throw Malformed();
  const std::uint64_t size = ParseNumber(digits);
  Expect('}');
  ExpectCrlf();
  if (size > limit) throw Malformed();
  return size;
}

std::string ImapParser::Literal() {
  const std::uint64_t size = LiteralSize(kLiteralLimit);
  Hold(size);
  std::string bytes;
  bytes.reserve(size);
  while (bytes.size() < size) {
    if (AtEnd()) Refill();
    const std::size_t n = std::min(end_ - begin_, static_cast<std::size_t>(size - bytes.size()));
    bytes.append(buffer_.data() + begin_, n);
    begin_ += n;
  }
  return bytes;
}

void ImapParser::KeepRawFetchItem(std::string item) { raw_item_ = std::move(item); }

std::string ImapParser::TakeUnparsed() {
  std::string bytes(buffer_.data() + begin_, end_ - begin_);
  begin_ = end_ = 0;
  return bytes;
}

// Quoted strings and literals are copied as they are, and the nesting is
// only counted; sizes stay bounded like those of any other response.
ImapValue ImapParser::RawList() {
  ImapValue value;
  value.kind = ImapValue::Kind::kRaw;
  std::string& text = value.text;
  std::size_t depth = 0;
  do {
    const char c = Peek();
    if (c == '"') {
      RawQuoted(text);
    } else if (c == '{') {
      const std::string literal = Literal();
      text += "{" + std::to_string(literal.size()) + "}\r\n" + literal;
    } else if (c == '\r' || c == '\n' || c == '\0') {
      throw Malformed();
    } else {
      if (c == '(') ++depth;
      if (c == ')') --depth;
      text += TakeLong();
    }
  } while (depth > 0);
  return value;
}

void ImapParser::RawQuoted(std::string& text) {
  text += TakeLong();  // the opening quote
  for (;;) {
    const char c = TakeLong();
    if (c == '\r' || c == '\n' || c == '\0') throw Malformed();
    text += c;
    if (c == '"') return;
    if (c == '\\') {
      const char escaped = TakeLong();
      if (escaped != '\\' && escaped != '"') throw Malformed();
      text += escaped;
    }
  }
}

ImapValue ImapParser::StreamedLiteral() {
  ImapValue value;
  value.kind = ImapValue::Kind::kStreamed;
  value.number = LiteralSize(kStreamLimit);
  sink_->Begin();
  for (std::uint64_t left = value.number; left > 0;) {
    if (AtEnd()) Refill();
    const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(end_ - begin_, left));
    sink_->Write(std::string_view(buffer_.data() + begin_, n));
    begin_ += n;
    left -= n;
  }
  return value;
}

// The rest of the line up to CRLF; 8-bit bytes are tolerated, NUL and bare
// CR or LF are not.
std::string ImapParser::Text() {
  std::string text;
  for (char c = Peek(); c != '\r'; c = Peek()) {
    if (c == '\n' || c == '\0') throw Malformed();
    text += Take();
  }
  ExpectCrlf();
  return text;
}

// resp-text after a status keyword: [SP ["[" code [SP argument] "]"] [SP] text] CRLF.
// A missing text is accepted, as some servers send "a1 OK" alone.
void ImapParser::StatusText(ImapResponse& response) {
  if (Peek() != ' ') return ExpectCrlf();
  Take();
  if (Peek() == '[') {
    Take();
    response.code = Upper(Atom(true));
    if (Peek() == ' ') {
      Take();
      for (char c = Peek(); c != ']'; c = Peek()) {
        if (c == '\r' || c == '\n' || c == '\0') throw Malformed();
        response.code_argument += Take();
      }
      if (response.code_argument.empty()) throw Malformed();
    }
    Expect(']');
    if (Peek() == ' ') Take();
  }
  response.text = Text();
}

void ImapParser::GenericData(ImapResponse& response) {
  while (Peek() == ' ') {
    Take();
    Hold(sizeof(ImapValue));
    response.data.push_back(Value(0));
  }
  ExpectCrlf();
}

// An attribute name: atom characters, then an optional "[section]" and an
// optional "<origin>", as in BODY[HEADER.FIELDS (SUBJECT FROM)]<0>.
std::string ImapParser::FetchItemName() {
  std::string name = Atom(false);
  if (Peek() == '[') {
    name += Take();
    for (char c = Peek(); c != ']'; c = Peek()) {
      const auto byte = static_cast<unsigned char>(c);
      if (byte < 0x20 || byte >= 0x7f) throw Malformed();
      name += Take();
    }
    name += Take();
    if (Peek() == '<') {
      name += Take();
      name += std::to_string(Number32(true));
      Expect('>');
      name += '>';
    }
  }
  return Upper(std::move(name));
}

std::vector<ImapFetchItem> ImapParser::FetchAttributes() {
  Expect('(');
  std::vector<ImapFetchItem> items;
  for (;;) {
    ImapFetchItem item;
    item.name = FetchItemName();
    Expect(' ');
    const bool streamed = sink_ != nullptr && item.name == stream_item_ && Peek() == '{';
    const bool raw = !raw_item_.empty() && item.name == raw_item_ && Peek() == '(';
    item.value = streamed ? StreamedLiteral() : raw ? RawList() : Value(1);
    Hold(sizeof(ImapFetchItem));
    items.push_back(std::move(item));
    const char next = Take();
    if (next == ')') return items;
    if (next != ' ') throw Malformed();
  }
}

void ImapParser::Untagged(ImapResponse& response) {
  if (IsDigit(Peek())) {
    response.has_number = true;
    response.number = Number32(true);
    Expect(' ');
    response.keyword = Upper(Atom(true));
    if (response.keyword == "FETCH") {
      Expect(' ');
      if (response.number == 0) throw Malformed();
      response.fetch = FetchAttributes();
      return ExpectCrlf();
    }
    if (response.keyword == "EXPUNGE" && response.number == 0) throw Malformed();
    if (response.keyword == "EXISTS" || response.keyword == "RECENT" ||
        response.keyword == "EXPUNGE") {
      return ExpectCrlf();
    }
    return GenericData(response);
  }
  response.keyword = Upper(Atom(true));
  if (IsStatus(response.keyword) || response.keyword == "BYE" || response.keyword == "PREAUTH") {
    return StatusText(response);
  }
  GenericData(response);
}

ImapResponse ImapParser::Next() {
  line_bytes_ = 0;
  held_bytes_ = 0;
  ImapResponse response;
  const char first = Peek();
  if (first == '+') {
    Take();
    response.kind = ImapResponse::Kind::kContinuation;
    if (Peek() == '\r') {
      ExpectCrlf();  // a bare "+" line
    } else {
      Expect(' ');
      response.text = Text();
    }
  } else if (first == '*') {
    Take();
    Expect(' ');
    response.kind = ImapResponse::Kind::kUntagged;
    Untagged(response);
  } else {
    response.kind = ImapResponse::Kind::kTagged;
    response.tag = Tag();
    Expect(' ');
    response.keyword = Upper(Atom(true));
    if (!IsStatus(response.keyword)) throw Malformed();
    StatusText(response);
  }
  return response;
}

}  // namespace qm
