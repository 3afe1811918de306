#include "text/EncodedWords.h"

#include <gmime/gmime.h>

#include <algorithm>

#include "text/Charset.h"
#include "text/HeaderText.h"

namespace qm {
namespace {

constexpr size_t kMaxCharsetLength = 75;

bool IsBase64Character(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' ||
         c == '/' || c == '=';
}

bool IsWordCharacter(char c) {
  const auto byte = static_cast<unsigned char>(c);
  return byte > 0x20 && byte < 0x7F && c != '?';
}

// Decodes one run of base64 without '=' in it, padding it first: mailers drop
// the padding, and GMime's decoder keeps an incomplete last group back.
std::string DecodeBase64Run(std::string run) {
  if (run.size() % 4 == 1) run.pop_back();  // six lone bits make no byte
  while (run.size() % 4 != 0) run += '=';
  std::string out(run.size(), '\0');
  int state = 0;
  guint32 save = 0;
  const size_t length = g_mime_encoding_base64_decode_step(
      reinterpret_cast<const unsigned char*>(run.data()), run.size(),
      reinterpret_cast<unsigned char*>(out.data()), &state, &save);
  out.resize(length);
  return out;
}

// Base64 payload, lenient: runs separated by padding are decoded one by one,
// and missing padding is tolerated.
std::string DecodeBase64Leniently(std::string_view payload) {
  std::string bytes;
  size_t pos = 0;
  while (pos < payload.size()) {
    const size_t end = std::min(payload.find('=', pos), payload.size());
    if (end > pos) bytes += DecodeBase64Run(std::string(payload.substr(pos, end - pos)));
    pos = end;
    while (pos < payload.size() && payload[pos] == '=') ++pos;
  }
  return bytes;
}

// Q payload: '_' is a space, "=XX" a byte; an incomplete escape at the end is
// kept as written.
std::string DecodeQ(std::string_view payload) {
  std::string input(payload);
  std::replace(input.begin(), input.end(), '_', ' ');
  std::string out(input.size(), '\0');
  int state = 0;
  guint32 save = 0;
  const size_t length = g_mime_encoding_quoted_decode_step(
      reinterpret_cast<const unsigned char*>(input.data()), input.size(),
      reinterpret_cast<unsigned char*>(out.data()), &state, &save);
  out.resize(length);
  const size_t held_back = std::min(static_cast<size_t>(std::max(state, 0)), input.size());
  out += input.substr(input.size() - held_back);
  return out;
}

std::string CharsetKey(std::string_view label) {
  std::string key(label.substr(0, label.find('*')));
  for (char& c : key) c = static_cast<char>((c >= 'A' && c <= 'Z') ? c - 'A' + 'a' : c);
  return key;
}

bool IsAllSpace(std::string_view text) {
  return std::all_of(text.begin(), text.end(), IsHeaderSpace);
}

// Adjacent words of one charset, waiting to be converted together.
class PendingWords {
 public:
  bool empty() const { return !has_words_; }
  bool Accepts(const EncodedWord& word) const {
    return !empty() && CharsetKey(word.charset) == charset_key_;
  }
  void Add(const EncodedWord& word) {
    if (empty()) {
      charset_ = word.charset;
      charset_key_ = CharsetKey(word.charset);
      has_words_ = true;
    }
    bytes_ += word.bytes;
  }
  void FlushInto(std::string& out) {
    if (empty()) return;
    out += ConvertToUtf8(bytes_, charset_);
    charset_.clear();
    charset_key_.clear();
    bytes_.clear();
    has_words_ = false;
  }

 private:
  std::string charset_;
  std::string charset_key_;
  std::string bytes_;
  bool has_words_ = false;
};

}  // namespace

bool IsHeaderSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

std::optional<EncodedWord> ParseEncodedWord(std::string_view text, size_t start) {
  if (text.substr(start, 2) != "=?") return std::nullopt;
  size_t pos = start + 2;
  const size_t charset_start = pos;
  while (pos < text.size() && IsWordCharacter(text[pos]) &&
         pos - charset_start < kMaxCharsetLength) {
    ++pos;
  }
  if (pos == charset_start || pos + 2 >= text.size() || text[pos] != '?') return std::nullopt;
  EncodedWord word;
  word.charset = std::string(text.substr(charset_start, pos - charset_start));
  const char encoding = text[pos + 1];
  if (text[pos + 2] != '?') return std::nullopt;
  pos += 3;
  const size_t payload_start = pos;
  while (pos < text.size() && IsWordCharacter(text[pos])) ++pos;
  if (pos + 1 >= text.size() || text[pos] != '?' || text[pos + 1] != '=') return std::nullopt;
  const std::string_view payload = text.substr(payload_start, pos - payload_start);
  if (encoding == 'B' || encoding == 'b') {
    if (!std::all_of(payload.begin(), payload.end(), IsBase64Character)) return std::nullopt;
    word.bytes = DecodeBase64Leniently(payload);
  } else if (encoding == 'Q' || encoding == 'q') {
    word.bytes = DecodeQ(payload);
  } else {
    return std::nullopt;
  }
  word.end = pos + 2;
  return word;
}

std::string DecodeEncodedWords(std::string_view text) {
  std::string out;
  PendingWords pending;
  size_t literal_start = 0;
  size_t search = 0;
  while ((search = text.find("=?", search)) != std::string_view::npos) {
    auto word = ParseEncodedWord(text, search);
    if (!word) {
      ++search;
      continue;
    }
    const std::string_view literal = text.substr(literal_start, search - literal_start);
    if (pending.empty() || !IsAllSpace(literal)) {
      pending.FlushInto(out);
      out += literal;
    }
    if (!pending.Accepts(*word)) pending.FlushInto(out);
    pending.Add(*word);
    search = literal_start = word->end;
  }
  pending.FlushInto(out);
  out += text.substr(literal_start);
  return out;
}

std::string WithoutNulAndLineBreaks(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    if (c != '\0' && c != '\r' && c != '\n') out += c;
  }
  return out;
}

std::string UnfoldAndDecodeBytes(std::string_view raw) {
  std::string unfolded;
  unfolded.reserve(raw.size());
  for (char c : raw) {
    if (c != '\r' && c != '\n') unfolded += c;
  }
  return DecodeHeaderBytes(unfolded);
}

std::string ReadQuotedString(std::string_view text, size_t& pos) {
  std::string content;
  ++pos;  // the opening quote
  while (pos < text.size() && text[pos] != '"') {
    const bool escape = text[pos] == '\\' && pos + 1 < text.size() &&
                        (text[pos + 1] == '"' || text[pos + 1] == '\\');
    if (escape) ++pos;
    content += text[pos++];
  }
  if (pos < text.size()) ++pos;  // the closing quote
  return content;
}

}  // namespace qm
