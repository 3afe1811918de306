#include "text/PasswordCandidates.h"

#include <unicode/bytestream.h>
#include <unicode/normalizer2.h>
#include <unicode/uniset.h>
#include <unicode/utf8.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <initializer_list>
#include <limits>
#include <memory>
#include <optional>
#include <utility>

#include "base/Failure.h"
#include "text/Charset.h"

namespace qm {
namespace {

constexpr std::size_t kShortestValue = 4;
constexpr std::size_t kLongestValue = 64;

// U+FF0E, kept out of the width folding: after a value it ends the sentence.
constexpr std::string_view kWideFullStop = "\xEF\xBC\x8E";
constexpr std::string_view kIdeographicFullStop = "。";
constexpr std::string_view kTopicParticle = "は";

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\f' || c == '\v'; }

bool IsAsciiAlnum(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

// Printable ASCII other than the space.
bool IsValueByte(char c) { return c > ' ' && c < '\x7f'; }

char AsciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

std::size_t SkipBlanks(std::string_view line, std::size_t pos) {
  while (pos < line.size() && IsBlank(line[pos])) ++pos;
  return pos;
}

std::string_view TrimBlanks(std::string_view text) {
  const std::size_t begin = SkipBlanks(text, 0);
  std::size_t end = text.size();
  while (end > begin && IsBlank(text[end - 1])) --end;
  return text.substr(begin, end - begin);
}

bool StartsWithAt(std::string_view line, std::size_t pos, std::string_view word) {
  return pos <= line.size() && line.substr(pos).starts_with(word);
}

// `word` is lower-case ASCII.
bool StartsWithNoCaseAt(std::string_view line, std::size_t pos, std::string_view word) {
  if (pos > line.size() || line.size() - pos < word.size()) return false;
  for (std::size_t i = 0; i < word.size(); ++i) {
    if (AsciiLower(line[pos + i]) != word[i]) return false;
  }
  return true;
}

UChar32 CodePointAt(std::string_view line, std::size_t pos) {
  if (pos >= line.size()) return U_SENTINEL;
  const auto* bytes = reinterpret_cast<const uint8_t*>(line.data());
  auto at = static_cast<int32_t>(pos);
  UChar32 c;
  U8_NEXT(bytes, at, static_cast<int32_t>(line.size()), c);
  return c;
}

UChar32 CodePointBefore(std::string_view line, std::size_t pos) {
  if (pos == 0) return U_SENTINEL;
  const auto* bytes = reinterpret_cast<const uint8_t*>(line.data());
  auto at = static_cast<int32_t>(pos);
  UChar32 c;
  U8_PREV(bytes, 0, at, c);
  return c;
}

// Katakana letters and the prolonged sound mark, not the middle dot ・ that
// separates words.
bool IsKatakana(UChar32 c) { return (c >= 0x30A1 && c <= 0x30FA) || (c >= 0x30FC && c <= 0x30FF); }

// NFKC, except for U+FF0E: full-width and half-width forms become their
// ordinary ones, in labels and values alike.
class WidthFolding {
 public:
  WidthFolding() {
    UErrorCode status = U_ZERO_ERROR;
    const icu::Normalizer2* nfkc = icu::Normalizer2::getNFKCInstance(status);
    if (U_FAILURE(status) || nfkc == nullptr) {
      throw Failure(FailureKind::Internal, Cause::kInternal, "width folding unavailable (ICU)");
    }
    folded_.add(0, 0x10FFFF);
    folded_.remove(0xFF0E);
    folded_.freeze();
    normalizer_ = std::make_unique<icu::FilteredNormalizer2>(*nfkc, folded_);
  }

  // `line` is valid UTF-8.
  std::string Fold(std::string_view line) const {
    if (line.size() > static_cast<std::size_t>(std::numeric_limits<int32_t>::max())) {
      throw Failure(FailureKind::Internal, Cause::kInternal, "text line too long to read");
    }
    std::string folded;
    icu::StringByteSink<std::string> sink(&folded, static_cast<int32_t>(line.size()));
    UErrorCode status = U_ZERO_ERROR;
    normalizer_->normalizeUTF8(0, icu::StringPiece(line.data(), static_cast<int32_t>(line.size())),
                               sink, nullptr, status);
    if (U_FAILURE(status)) {
      throw Failure(FailureKind::Internal, Cause::kInternal, "width folding failed (ICU)");
    }
    return folded;
  }

 private:
  icu::UnicodeSet folded_;  // the normalizer refers to it: declared first
  std::unique_ptr<icu::FilteredNormalizer2> normalizer_;
};

struct BracketPair {
  std::string_view open;
  std::string_view close;
};

constexpr std::array<BracketPair, 14> kBrackets = {{
    {"「", "」"},
    {"『", "』"},
    {"【", "】"},
    {"〔", "〕"},
    {"〈", "〉"},
    {"《", "》"},
    {"“", "”"},
    {"‘", "’"},
    {"[", "]"},
    {"(", ")"},
    {"<", ">"},
    {"{", "}"},
    {"\"", "\""},
    {"'", "'"},
}};

bool IsAsciiOpener(char c) { return c == '(' || c == '[' || c == '<' || c == '{'; }

// Length of a bracket closing a label at `pos` (】, ], ) ...), or 0. Quotes
// are not among them: a quoted word is a label only before a colon.
std::size_t LabelCloserLength(std::string_view line, std::size_t pos) {
  for (const BracketPair& pair : kBrackets) {
    if (pair.close == pair.open) continue;
    if (StartsWithAt(line, pos, pair.close)) return pair.close.size();
  }
  return 0;
}

// How a label may be followed by its value.
enum class LabelKind {
  kJapanese,    // パスワード: also by は「...」 or a blank and a value ending the line
  kMarkedOnly,  // パス and the Latin labels: only by a colon or a closing bracket
};

struct Label {
  std::size_t end;
  LabelKind kind;
};

std::optional<Label> JapaneseLabelAt(std::string_view line, std::size_t pos) {
  static constexpr std::string_view kPassword = "パスワード";
  static constexpr std::string_view kNotice = "通知";
  static constexpr std::string_view kPass = "パス";
  if (StartsWithAt(line, pos, kPassword)) {
    std::size_t end = pos + kPassword.size();
    if (StartsWithAt(line, end, kNotice)) end += kNotice.size();
    return Label{end, LabelKind::kJapanese};
  }
  if (!StartsWithAt(line, pos, kPass)) return std::nullopt;
  const std::size_t end = pos + kPass.size();
  if (IsKatakana(CodePointBefore(line, pos)) || IsKatakana(CodePointAt(line, end))) {
    return std::nullopt;
  }
  return Label{end, LabelKind::kMarkedOnly};
}

// Characters that join a Latin label to a word or a URL before it (bypass,
// ?pw=, ID/PW): the label is then part of something else.
bool JoinsWord(char c) {
  return IsAsciiAlnum(c) || std::string_view("/?&=._-@#%+").find(c) != std::string_view::npos;
}

std::optional<Label> LatinLabelAt(std::string_view line, std::size_t pos) {
  if (pos > 0 && JoinsWord(line[pos - 1])) return std::nullopt;
  for (const std::string_view word : {"password", "passwd", "pass", "pw"}) {
    if (!StartsWithNoCaseAt(line, pos, word)) continue;
    const std::size_t end = pos + word.size();
    if (end < line.size() && IsAsciiAlnum(line[end])) continue;
    return Label{end, LabelKind::kMarkedOnly};
  }
  return std::nullopt;
}

std::optional<Label> LabelAt(std::string_view line, std::size_t pos) {
  if (auto label = JapaneseLabelAt(line, pos)) return label;
  return LatinLabelAt(line, pos);
}

// A run of value characters at `pos`: printable ASCII and U+FF0E. Reading
// stops one character past the longest value, so that a run costs at most
// that much whatever follows.
struct Run {
  std::size_t begin;
  std::size_t end;
  std::size_t characters;

  bool Overlong() const { return characters > kLongestValue; }
};

Run ValueRunAt(std::string_view line, std::size_t pos) {
  Run run{pos, pos, 0};
  while (run.end < line.size() && run.characters <= kLongestValue) {
    if (IsValueByte(line[run.end])) {
      run.end += 1;
    } else if (StartsWithAt(line, run.end, kWideFullStop)) {
      run.end += kWideFullStop.size();
    } else {
      break;
    }
    ++run.characters;
  }
  return run;
}

// The password in the characters of a run, or nothing when they are not one.
std::optional<std::string> PasswordOf(std::string_view raw) {
  while (raw.ends_with(kWideFullStop)) raw.remove_suffix(kWideFullStop.size());
  std::string value;
  for (std::size_t pos = 0; pos < raw.size();) {
    if (StartsWithAt(raw, pos, kWideFullStop)) {
      value += '.';
      pos += kWideFullStop.size();
    } else {
      value += raw[pos++];
    }
  }
  if (value.size() < kShortestValue || value.size() > kLongestValue) return std::nullopt;
  if (std::none_of(value.begin(), value.end(), IsAsciiAlnum)) return std::nullopt;
  if (value.find("://") != std::string::npos) return std::nullopt;
  return value;
}

struct Value {
  std::string text;
  std::size_t end;  // just past the value and its brackets
  bool bracketed;
};

// A value between a non-ASCII bracket pair at `pos` (「abc123」).
std::optional<Value> WideBracketedValueAt(std::string_view line, std::size_t pos) {
  for (const BracketPair& pair : kBrackets) {
    if (static_cast<unsigned char>(pair.open[0]) < 0x80) continue;
    if (!StartsWithAt(line, pos, pair.open)) continue;
    const Run run = ValueRunAt(line, pos + pair.open.size());
    if (run.Overlong() || !StartsWithAt(line, run.end, pair.close)) return std::nullopt;
    auto text = PasswordOf(line.substr(run.begin, run.end - run.begin));
    if (!text) return std::nullopt;
    return Value{std::move(*text), run.end + pair.close.size(), true};
  }
  return std::nullopt;
}

// A value at `pos`: bracketed, or a bare run of value characters.
std::optional<Value> ValueAt(std::string_view line, std::size_t pos) {
  if (pos >= line.size()) return std::nullopt;
  if (static_cast<unsigned char>(line[pos]) >= 0x80) return WideBracketedValueAt(line, pos);
  const Run run = ValueRunAt(line, pos);
  if (run.Overlong()) return std::nullopt;
  std::string_view raw = line.substr(run.begin, run.end - run.begin);
  bool bracketed = false;
  for (const BracketPair& pair : kBrackets) {
    if (pair.open.size() != 1 || raw.size() < 2) continue;
    if (raw.front() == pair.open[0] && raw.back() == pair.close[0]) {
      raw = raw.substr(1, raw.size() - 2);
      bracketed = true;
      break;
    }
  }
  // A run cut short by other text may end in the bracket opening a remark.
  const bool cut_by_text = run.end < line.size() && !IsBlank(line[run.end]);
  if (!bracketed && cut_by_text && !raw.empty() && IsAsciiOpener(raw.back())) {
    raw.remove_suffix(1);
  }
  auto text = PasswordOf(raw);
  if (!text) return std::nullopt;
  return Value{std::move(*text), run.end, bracketed};
}

// Nothing but blanks and a sentence's end follow `pos`.
bool EndsLine(std::string_view line, std::size_t pos) {
  pos = SkipBlanks(line, pos);
  if (StartsWithAt(line, pos, kIdeographicFullStop)) pos += kIdeographicFullStop.size();
  return SkipBlanks(line, pos) == line.size();
}

std::optional<Value> BracketedOnly(std::optional<Value> value) {
  if (value && !value->bracketed) return std::nullopt;
  return value;
}

// Past a short remark in parentheses between a label and its colon
// (パスワード（半角英数字）：), or `pos` when there is none.
std::size_t AfterRemark(std::string_view line, std::size_t pos) {
  constexpr std::size_t kLongestRemark = 64;
  if (!StartsWithAt(line, pos, "(")) return pos;
  const std::size_t close = line.substr(pos, kLongestRemark).find(')');
  if (close == std::string_view::npos) return pos;
  const std::size_t after = SkipBlanks(line, pos + close + 1);
  return (after < line.size() && (line[after] == ':' || line[after] == '=')) ? after : pos;
}

// The value that follows a label on its line.
std::optional<Value> ValueAfterLabel(std::string_view line, const Label& label) {
  std::size_t pos = SkipBlanks(line, label.end);
  const bool blank_after_label = pos > label.end;
  pos = AfterRemark(line, pos);
  bool marked = false;
  if (const std::size_t closer = LabelCloserLength(line, pos)) {
    pos = SkipBlanks(line, pos + closer);
    marked = true;
  }
  if (pos < line.size() && (line[pos] == ':' || line[pos] == '=')) {
    pos = SkipBlanks(line, pos + 1);
    marked = true;
  }
  if (marked) return ValueAt(line, pos);
  if (label.kind != LabelKind::kJapanese) return std::nullopt;
  if (StartsWithAt(line, pos, kTopicParticle)) {
    return BracketedOnly(ValueAt(line, SkipBlanks(line, pos + kTopicParticle.size())));
  }
  auto value = ValueAt(line, pos);
  if (value && !value->bracketed && !(blank_after_label && EndsLine(line, value->end))) {
    return std::nullopt;
  }
  return value;
}

bool ContainsAny(std::string_view text, std::initializer_list<std::string_view> words) {
  return std::any_of(words.begin(), words.end(),
                     [text](std::string_view word) { return text.find(word) != text.npos; });
}

// What follows a label with no value says the value is on the next line.
bool AnnouncesNextLine(std::string_view rest) {
  std::size_t pos = SkipBlanks(rest, 0);
  while (const std::size_t closer = LabelCloserLength(rest, pos)) {
    pos = SkipBlanks(rest, pos + closer);
  }
  rest = TrimBlanks(rest.substr(pos));
  if (rest.empty() || rest.ends_with(':')) return true;
  std::string lower(rest);
  std::transform(lower.begin(), lower.end(), lower.begin(), AsciiLower);
  if (ContainsAny(lower, {"別", "後ほど", "後日", "追って", "改めて", "separate", "later"})) {
    return false;
  }
  return ContainsAny(lower, {"以下", "下記", "次の", "お知らせ", "ご連絡", "通知", "お送り", "送付",
                             "送ります", "below", "follow"});
}

// A line that is one value and nothing else.
std::optional<std::string> WholeLineValue(std::string_view line) {
  auto value = ValueAt(line, SkipBlanks(line, 0));
  if (!value || !EndsLine(line, value->end)) return std::nullopt;
  return std::move(value->text);
}

struct QuotedLine {
  std::string_view text;
  int depth;
};

QuotedLine WithoutQuoteMarks(std::string_view line) {
  int depth = 0;
  std::size_t pos = SkipBlanks(line, 0);
  while (pos < line.size() && line[pos] == '>') {
    ++depth;
    pos = SkipBlanks(line, pos + 1);
  }
  return {line.substr(pos), depth};
}

// Reads folded lines in order and keeps the candidates they give.
class CandidateCollector {
 public:
  void ReadLine(std::string_view folded_line) {
    const QuotedLine line = WithoutQuoteMarks(folded_line);
    if (TrimBlanks(line.text).empty()) return;
    if (awaited_depth_ == line.depth) {
      if (auto value = WholeLineValue(line.text)) Add(std::move(*value));
    }
    awaited_depth_.reset();
    if (ReadLabels(line.text)) awaited_depth_ = line.depth;
  }

  bool Full() const { return found_.size() >= kMaxPasswordCandidates; }
  std::vector<std::string> Take() { return std::move(found_); }

 private:
  void Add(std::string value) {
    if (Full() || std::find(found_.begin(), found_.end(), value) != found_.end()) return;
    found_.push_back(std::move(value));
  }

  // Adds the values after the labels of `line`; true when its last label has
  // none and announces one on the next line.
  bool ReadLabels(std::string_view line) {
    constexpr std::size_t kNone = std::string_view::npos;
    std::size_t open_label_end = kNone;  // end of the last label, while no value follows it
    std::size_t pos = 0;
    while (pos < line.size() && !Full()) {
      const auto label = LabelAt(line, pos);
      if (!label) {
        ++pos;
        continue;
      }
      if (auto value = ValueAfterLabel(line, *label)) {
        Add(std::move(value->text));
        pos = value->end;
        open_label_end = kNone;
      } else {
        pos = label->end;
        open_label_end = label->end;
      }
    }
    return open_label_end != kNone && AnnouncesNextLine(line.substr(open_label_end));
  }

  std::optional<int> awaited_depth_;  // quote depth of the line to hold an announced value
  std::vector<std::string> found_;
};

}  // namespace

std::vector<std::string> PasswordCandidates(std::string_view text) {
  const std::string valid = ReplaceInvalidUtf8(text);
  const WidthFolding folding;
  CandidateCollector collector;
  std::string_view rest = valid;
  while (!rest.empty() && !collector.Full()) {
    const std::size_t end = rest.find('\n');
    collector.ReadLine(folding.Fold(rest.substr(0, end)));
    rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
  }
  return collector.Take();
}

bool MentionsPassword(std::string_view subject) {
  const std::string line = WidthFolding().Fold(ReplaceInvalidUtf8(subject));
  for (std::size_t pos = 0; pos < line.size(); ++pos) {
    if (LabelAt(line, pos)) return true;
  }
  return false;
}

}  // namespace qm
