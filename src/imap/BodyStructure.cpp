#include "imap/BodyStructure.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <optional>
#include <string>
#include <vector>

namespace qm {
namespace {

// Nested deeper than this, a structure is taken for one that may hold files.
constexpr int kDepthLimit = 16;

// A value of the structure: a list, a string (quoted or literal), NIL, or an
// atom such as a number.
struct Node {
  enum class Kind { kList, kString, kNil, kAtom };
  Kind kind = Kind::kNil;
  std::string text;
  std::vector<Node> items;
};

std::string Upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

// A strict reader of the raw text; any surprise gives nothing.
class Reader {
 public:
  explicit Reader(std::string_view text) : text_(text) {}

  std::optional<Node> Whole() {
    std::optional<Node> node = Value(0);
    if (!node || at_ != text_.size()) return std::nullopt;
    return node;
  }

 private:
  std::optional<Node> Value(int depth) {
    if (at_ >= text_.size()) return std::nullopt;
    const char c = text_[at_];
    if (c == '(') return List(depth + 1);
    if (c == '"') return Quoted();
    if (c == '{') return Literal();
    return Atom();
  }

  std::optional<Node> List(int depth) {
    if (depth > kDepthLimit) return std::nullopt;
    // One space between items; none between the parts of a multipart.
    ++at_;
    Node list;
    list.kind = Node::Kind::kList;
    while (at_ < text_.size() && text_[at_] != ')') {
      // The parts of a multipart follow each other without a space.
      if (!list.items.empty() && text_[at_] == ' ') ++at_;
      std::optional<Node> item = Value(depth);
      if (!item) return std::nullopt;
      list.items.push_back(std::move(*item));
    }
    if (at_ >= text_.size()) return std::nullopt;
    ++at_;
    return list;
  }

  std::optional<Node> Quoted() {
    Node node;
    node.kind = Node::Kind::kString;
    for (++at_; at_ < text_.size(); ++at_) {
      char c = text_[at_];
      if (c == '"') {
        ++at_;
        return node;
      }
      if (c == '\\') {
        if (++at_ >= text_.size()) return std::nullopt;
        c = text_[at_];
      }
      node.text += c;
    }
    return std::nullopt;
  }

  // "{" size "}" CRLF, then that many bytes.
  std::optional<Node> Literal() {
    const std::size_t close = text_.find('}', at_);
    if (close == std::string_view::npos) return std::nullopt;
    std::size_t size = 0;
    const auto [end, error] = std::from_chars(text_.data() + at_ + 1, text_.data() + close, size);
    if (error != std::errc() || end != text_.data() + close) return std::nullopt;
    const std::size_t begin = close + 3;
    if (text_.substr(close + 1, 2) != "\r\n" || begin > text_.size() ||
        size > text_.size() - begin) {
      return std::nullopt;
    }
    Node node;
    node.kind = Node::Kind::kString;
    node.text = std::string(text_.substr(begin, size));
    at_ = begin + size;
    return node;
  }

  std::optional<Node> Atom() {
    const std::size_t begin = at_;
    while (at_ < text_.size() && text_[at_] != ' ' && text_[at_] != ')' && text_[at_] != '(') {
      ++at_;
    }
    if (at_ == begin) return std::nullopt;
    Node node;
    node.text = std::string(text_.substr(begin, at_ - begin));
    node.kind = Upper(node.text) == "NIL" ? Node::Kind::kNil : Node::Kind::kAtom;
    return node;
  }

  std::string_view text_;
  std::size_t at_ = 0;
};

bool IsString(const Node& node, std::string_view upper) {
  return node.kind == Node::Kind::kString && Upper(node.text) == upper;
}

// A parameter list (or NIL) names a file when any key starts with `key`,
// which also catches RFC 2231 forms such as "NAME*" and "FILENAME*0*".
bool NamesAFile(const Node& params, std::string_view key) {
  if (params.kind == Node::Kind::kNil) return false;
  if (params.kind != Node::Kind::kList || params.items.size() % 2 != 0) return true;
  for (std::size_t i = 0; i < params.items.size(); i += 2) {
    const Node& name = params.items[i];
    if (name.kind != Node::Kind::kString) return true;
    if (Upper(name.text).starts_with(key)) return true;
  }
  return false;
}

// An HTML body: text/html, no file name, and a disposition that is known
// (extension data present) and not an attachment. A text/plain body is never
// one: uuencoded files hide in plain text.
bool IsHtmlBody(const Node& part) {
  const std::vector<Node>& f = part.items;
  // type, subtype, params, id, description, encoding, size, lines, md5, disposition
  if (f.size() < 10 || !IsString(f[0], "TEXT") || !IsString(f[1], "HTML")) return false;
  if (NamesAFile(f[2], "NAME")) return false;
  const Node& disposition = f[9];
  if (disposition.kind == Node::Kind::kNil) return true;
  if (disposition.kind != Node::Kind::kList || disposition.items.size() != 2) return false;
  return IsString(disposition.items[0], "INLINE") && !NamesAFile(disposition.items[1], "FILENAME");
}

bool HoldsNoFile(const Node& body) {
  if (body.kind != Node::Kind::kList || body.items.empty()) return false;
  if (body.items[0].kind != Node::Kind::kList) return IsHtmlBody(body);
  // A multipart: its parts, then its subtype.
  const auto first_other = std::find_if(body.items.begin(), body.items.end(),
                                        [](const Node& n) { return n.kind != Node::Kind::kList; });
  if (first_other == body.items.end() || !IsString(*first_other, "ALTERNATIVE")) return false;
  return std::all_of(body.items.begin(), first_other,
                     [](const Node& part) { return HoldsNoFile(part); });
}

}  // namespace

bool MayHoldAttachment(std::string_view raw) {
  const std::optional<Node> structure = Reader(raw).Whole();
  return !structure || !HoldsNoFile(*structure);
}

}  // namespace qm
