// Reads arbitrary bytes as a settings file and writes its values back, as a
// save does, then one of them changed and two values new to the file. Whatever the file: decoding
// and encoding it again gives its bytes; each write changes one stretch of lines (the value's own,
// or new ones) and keeps every other line byte for byte; and the written file reads as the same
// values, with the new ones added.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "settings/RegFileDocument.h"
#include "settings/RegFileEncoding.h"

namespace {

// Writes beyond these add nothing but time: each one reindexes the file.
constexpr std::size_t kMostWrites = 24;

constexpr char kNewKey[] = "HKEY_CURRENT_USER\\SOFTWARE\\Vantrel\\QuillmarFuzz";

void Require(bool condition, const char* what) {
  if (condition) return;
  std::fprintf(stderr, "violated: %s\n", what);
  std::abort();
}

// Lines with their line breaks, split independently of the document's own splitting.
std::vector<std::string_view> Lines(std::string_view text) {
  std::vector<std::string_view> lines;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    const std::size_t length = end == std::string_view::npos ? text.size() : end + 1;
    lines.push_back(text.substr(0, length));
    text.remove_prefix(length);
  }
  return lines;
}

std::string_view Trimmed(std::string_view line) {
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.remove_suffix(1);
  const std::size_t begin = line.find_first_not_of(" \t");
  if (begin == std::string_view::npos) return {};
  return line.substr(begin, line.find_last_not_of(" \t") - begin + 1);
}

bool IsValueLine(std::string_view line) {
  const std::string_view text = Trimmed(line);
  return !text.empty() && (text.front() == '"' || text.front() == '@');
}

// The same line, or the file's unfinished last line that got its line break.
bool SameLine(std::string_view before, std::string_view after, bool before_is_last) {
  if (before == after) return true;
  if (!before_is_last || before.ends_with('\n') || !after.starts_with(before)) return false;
  const std::string_view added = after.substr(before.size());
  return added == "\n" || added == "\r\n";
}

// The lines of one value: a value line and the continuation lines it asks for.
bool IsOneValue(const std::vector<std::string_view>& lines) {
  if (lines.empty() || !IsValueLine(lines.front())) return false;
  for (std::size_t i = 1; i < lines.size(); ++i) {
    if (!Trimmed(lines[i - 1]).ends_with('\\')) return false;
  }
  return true;
}

// What a write may add besides the value: a new section with the blank line
// before it, and a comment that closes a hex list left open at the end.
bool IsAddedLine(std::string_view line, const std::string& key) {
  const std::string_view text = Trimmed(line);
  return text.empty() || text == ";" || text == "[" + key + "]" || IsValueLine(line) ||
         line.starts_with("  ");
}

void CheckOneStretchChanged(std::string_view before_text, std::string_view after_text,
                            const std::string& key) {
  const std::vector<std::string_view> before = Lines(before_text);
  const std::vector<std::string_view> after = Lines(after_text);
  std::size_t prefix = 0;
  while (prefix < before.size() && prefix < after.size() &&
         SameLine(before[prefix], after[prefix], prefix + 1 == before.size())) {
    ++prefix;
  }
  // A value rewritten with the same first lines differs from its middle on:
  // the stretch starts where the value does.
  while (prefix > 0 && prefix < before.size() && !IsValueLine(before[prefix]) &&
         Trimmed(before[prefix - 1]).ends_with('\\')) {
    --prefix;
  }
  std::size_t suffix = 0;
  while (suffix < before.size() - prefix && suffix < after.size() - prefix &&
         before[before.size() - 1 - suffix] == after[after.size() - 1 - suffix]) {
    ++suffix;
  }
  const std::vector<std::string_view> removed(before.begin() + prefix, before.end() - suffix);
  const std::vector<std::string_view> added(after.begin() + prefix, after.end() - suffix);
  Require(removed.empty() || IsOneValue(removed), "a write removes one value's lines only");
  for (std::string_view line : added) {
    Require(IsAddedLine(line, key), "a write adds the value's lines only");
  }
}

struct Written {
  std::string key;
  qm::RegValue value;
};

void PutChecked(qm::RegFileDocument* document, const Written& write) {
  const std::string before = document->FileText().text;
  document->Put(write.key, write.value);
  CheckOneStretchChanged(before, document->FileText().text, write.key);
}

// What a reading gives after `value` was written among `values`.
void ExpectWritten(std::vector<qm::RegValue>* values, const qm::RegValue& value) {
  for (qm::RegValue& existing : *values) {
    if (qm::SameRegistryName(existing.name, value.name)) {
      existing = value;
      return;
    }
  }
  values->push_back(value);
}

// The values of every key, as a reading gives them.
std::map<std::string, std::vector<qm::RegValue>> AllValues(const qm::RegFileDocument& document) {
  std::map<std::string, std::vector<qm::RegValue>> values;
  for (const std::string& key : document.KeyPaths()) {
    std::optional<std::vector<qm::RegValue>> found = document.Values(key);
    Require(found.has_value(), "every listed key has values");
    values[qm::FoldRegistryName(key)] = std::move(*found);
  }
  return values;
}

void CheckHeader(const qm::RegFileDocument& document, const qm::RegFileText& decoded) {
  const std::string text = document.FileText().text;
  if (document.header() != qm::RegFileHeader::None) {
    Require(text == decoded.text, "an unchanged file with a header is written as it was");
  } else {
    Require(text.starts_with("REGEDIT4") && text.ends_with(decoded.text),
            "an unchanged file without a header gets REGEDIT4 before its own lines");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const std::optional<qm::RegFileText> decoded = qm::DecodeRegFile(input);
  if (!decoded) return 0;  // set aside by a write, never parsed
  Require(qm::EncodeRegFile(*decoded) == input, "decoding and encoding keep every byte");

  qm::RegFileDocument document(*decoded);
  CheckHeader(document, *decoded);
  std::map<std::string, std::vector<qm::RegValue>> expected = AllValues(document);

  std::vector<Written> writes;
  for (const std::string& key : document.KeyPaths()) {
    for (const qm::RegValue& value : expected[qm::FoldRegistryName(key)]) {
      if (writes.size() < kMostWrites) writes.push_back({key, value});
    }
  }
  for (const Written& write : writes) PutChecked(&document, write);

  // A value changed (where a key has some), and one new to the file.
  if (!writes.empty()) {
    const Written changed{writes.front().key, {writes.front().value.name, qm::kRegSz, {'c', 0}}};
    PutChecked(&document, changed);
    ExpectWritten(&expected[qm::FoldRegistryName(changed.key)], changed.value);
  }
  const qm::RegValue probe{"QuillmarFuzzProbe", qm::kRegSz, {'p', 0}};
  const std::vector<std::string> keys = document.KeyPaths();
  if (!keys.empty()) {
    PutChecked(&document, {keys.front(), probe});
    ExpectWritten(&expected[qm::FoldRegistryName(keys.front())], probe);
  }
  PutChecked(&document, {kNewKey, probe});
  ExpectWritten(&expected[qm::FoldRegistryName(kNewKey)], probe);

  const std::optional<qm::RegFileText> written =
      qm::DecodeRegFile(qm::EncodeRegFile(document.FileText()));
  Require(written.has_value() && written->encoding == decoded->encoding,
          "the written file is text in the encoding it had");
  const qm::RegFileDocument reread(*written);
  Require(reread.header() != qm::RegFileHeader::None, "the written file has a header");
  Require(AllValues(reread) == expected, "the written file reads as the same values");
  return 0;
}
