#include "text/HeaderText.h"

#include <vector>

#include "text/EncodedWords.h"

namespace qm {
namespace {

std::string_view TrimSpace(std::string_view text) {
  while (!text.empty() && IsHeaderSpace(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsHeaderSpace(text.back())) text.remove_suffix(1);
  return text;
}

std::string DecodePhrase(std::string_view phrase) {
  return std::string(TrimSpace(WithoutNulAndLineBreaks(DecodeEncodedWords(phrase))));
}

bool IsAddressSpecial(char c) {
  return IsHeaderSpace(c) || c == '"' || c == '(' || c == '<' || c == ':' || c == ',' || c == ';';
}

// Reads the comment starting at text[pos] ('('), nested comments included,
// and moves pos past it. Returns the text inside the outer parentheses.
std::string ReadComment(std::string_view text, size_t& pos) {
  std::string content;
  int depth = 0;
  do {
    const char c = text[pos++];
    if (c == '\\' && pos < text.size()) {
      content += text[pos++];
      continue;
    }
    if (c == '(' && depth++ == 0) continue;
    if (c == ')' && --depth == 0) break;
    content += c;
  } while (pos < text.size());
  return content;
}

// Reads an atom (anything up to a special), taking an encoded word whole even
// when its payload holds specials such as ',' or ':'.
std::string_view ReadAtom(std::string_view text, size_t& pos) {
  const size_t start = pos;
  while (pos < text.size() && !IsAddressSpecial(text[pos])) {
    if (auto word = ParseEncodedWord(text, pos)) {
      pos = word->end;
    } else {
      ++pos;
    }
  }
  return text.substr(start, pos - start);
}

// The address inside <...>: source routes ("@relay:") dropped, spaces trimmed.
std::string ReadAngleAddress(std::string_view text, size_t& pos) {
  const size_t start = ++pos;
  while (pos < text.size() && text[pos] != '>') ++pos;
  std::string_view address = text.substr(start, pos - start);
  if (pos < text.size()) ++pos;
  const size_t route_end = address.rfind(':');
  if (route_end != std::string_view::npos) address.remove_prefix(route_end + 1);
  return std::string(TrimSpace(address));
}

// The words of one mailbox seen so far. A segment is a run of words not
// separated by whitespace; `raw` keeps it as written (for a bare address),
// `phrase` holds its words with quotes removed (for a display name).
class MailboxWords {
 public:
  void AddWord(std::string_view raw, std::string_view phrase) {
    if (segments_.empty() || separated_) segments_.push_back({});
    segments_.back().raw += raw;
    segments_.back().phrase += phrase;
    separated_ = false;
  }
  void Separate() { separated_ = true; }
  void AddComment(std::string comment) {
    if (comment_.empty()) comment_ = std::move(comment);
    separated_ = true;
  }
  void Clear() { *this = MailboxWords(); }

  Mailbox WithAddress(std::string address) const {
    return {DecodePhrase(JoinPhrase(segments_.size())), std::move(address)};
  }

  // A mailbox written without angle brackets: "a@b", "a@b (Name)", or words
  // followed by an address from a careless mailer. nullopt when empty.
  std::optional<Mailbox> AsBareMailbox() const {
    if (segments_.empty()) return std::nullopt;
    size_t address_index = segments_.size();
    for (size_t i = 0; i < segments_.size(); ++i) {
      if (segments_[i].raw.find('@') != std::string::npos) address_index = i;
    }
    if (address_index == segments_.size()) {
      if (segments_.size() > 1) return WithAddress("");
      address_index = 0;
    }
    Mailbox mailbox{DecodePhrase(JoinPhrase(address_index)), segments_[address_index].raw};
    if (mailbox.name.empty()) mailbox.name = DecodePhrase(comment_);
    return mailbox;
  }

 private:
  struct Segment {
    std::string raw;
    std::string phrase;
  };
  std::string JoinPhrase(size_t skip) const {
    std::string phrase;
    for (size_t i = 0; i < segments_.size(); ++i) {
      if (i == skip) continue;
      if (!phrase.empty()) phrase += ' ';
      phrase += segments_[i].phrase;
    }
    return phrase;
  }

  std::vector<Segment> segments_;
  std::string comment_;
  bool separated_ = false;
};

// Blank: nothing but spaces, tabs and ideographic spaces (U+3000).
bool IsBlank(std::string_view text) {
  constexpr std::string_view kIdeographicSpace = "\xE3\x80\x80";
  while (!text.empty()) {
    if (text.front() == ' ' || text.front() == '\t') {
      text.remove_prefix(1);
    } else if (text.starts_with(kIdeographicSpace)) {
      text.remove_prefix(kIdeographicSpace.size());
    } else {
      return false;
    }
  }
  return true;
}

}  // namespace

std::string DecodeUnstructured(std::string_view raw) {
  return DecodePhrase(UnfoldAndDecodeBytes(raw));
}

Mailbox ParseFirstMailbox(std::string_view raw) {
  const std::string text = UnfoldAndDecodeBytes(raw);
  MailboxWords words;
  size_t pos = 0;
  while (pos < text.size()) {
    const char c = text[pos];
    if (c == '"') {
      const size_t start = pos;
      std::string content = ReadQuotedString(text, pos);
      words.AddWord(std::string_view(text).substr(start, pos - start), content);
    } else if (c == '(') {
      words.AddComment(ReadComment(text, pos));
    } else if (c == '<') {
      return words.WithAddress(ReadAngleAddress(text, pos));
    } else if (c == ':') {
      words.Clear();  // a group's name
      ++pos;
    } else if (c == ',' || c == ';') {
      if (auto mailbox = words.AsBareMailbox()) return *mailbox;
      ++pos;
    } else if (IsHeaderSpace(c)) {
      words.Separate();
      ++pos;
    } else {
      const std::string_view atom = ReadAtom(text, pos);
      words.AddWord(atom, atom);
    }
  }
  return words.AsBareMailbox().value_or(Mailbox{});
}

std::string SenderDisplayName(const Mailbox& mailbox) {
  return IsBlank(mailbox.name) ? mailbox.address : mailbox.name;
}

}  // namespace qm
