#include "settings/RegFileDocument.h"

#include <algorithm>
#include <span>
#include <unordered_map>
#include <unordered_set>
#include <utility>

namespace qm {

namespace {

constexpr std::string_view kRegedit4 = "REGEDIT4";
constexpr std::string_view kVersion5 = "Windows Registry Editor Version 5.00";

// Lines end at LF; a CR right before it (or at the very end) belongs to the ending.
std::vector<RegFileLine> SplitLines(std::string_view text) {
  std::vector<RegFileLine> lines;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    std::string_view content = text.substr(0, end);
    RegFileLine line;
    if (content.ends_with('\r')) {
      content.remove_suffix(1);
      line.ending = "\r";
    }
    line.content = content;
    if (end != std::string_view::npos) line.ending += '\n';
    lines.push_back(std::move(line));
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
  }
  return lines;
}

// The ending of the file's first finished line; LF for a file that has none.
std::string LineEndingOf(const std::vector<RegFileLine>& lines) {
  for (const RegFileLine& line : lines) {
    if (line.ending.ends_with('\n')) return line.ending;
  }
  return "\n";
}

RegFileHeader HeaderOf(std::string_view line) {
  line = TrimBlanks(line);
  if (line == kRegedit4) return RegFileHeader::Regedit4;
  if (line == kVersion5) return RegFileHeader::Version5;
  return RegFileHeader::None;
}

bool IsBlank(const RegFileLine& line) { return TrimBlanks(line.content).empty(); }

}  // namespace

RegFileDocument::RegFileDocument(const RegFileText& text)
    : encoding_(text.encoding), lines_(SplitLines(text.text)), line_ending_(LineEndingOf(lines_)) {
  Index();
}

RegFileDialect RegFileDocument::dialect() const {
  return {encoding_ != RegFileEncoding::Ansi, header_ == RegFileHeader::Version5};
}

std::vector<std::string> RegFileDocument::KeyPaths() const {
  std::vector<std::string> keys;
  std::unordered_set<std::string> seen;
  for (const Section& section : sections_) {
    if (seen.insert(FoldRegistryName(section.key_path)).second) {
      keys.push_back(TextFromFile(section.key_path, dialect()));
    }
  }
  return keys;
}

std::optional<std::vector<RegValue>> RegFileDocument::Values(std::string_view key_path) const {
  const std::string key = TextInFile(key_path, dialect());
  std::vector<const StoredValue*> merged;
  std::unordered_map<std::string, std::size_t> position_of;
  bool found = false;
  for (const Section& section : sections_) {
    if (!SameRegistryName(section.key_path, key)) continue;
    found = true;
    for (const ValueLines& value : section.values) {
      auto [it, added] =
          position_of.try_emplace(FoldRegistryName(value.stored.value.name), merged.size());
      if (added) {
        merged.push_back(&value.stored);
      } else {
        merged[it->second] = &value.stored;
      }
    }
  }
  if (!found) return std::nullopt;
  std::vector<RegValue> values;
  values.reserve(merged.size());
  for (const StoredValue* stored : merged) values.push_back(ValueFromFile(*stored, dialect()));
  return values;
}

void RegFileDocument::AddSection(std::string_view key_path) {
  const std::string key = TextInFile(key_path, dialect());
  const bool present = std::any_of(sections_.begin(), sections_.end(), [&](const Section& section) {
    return SameRegistryName(section.key_path, key);
  });
  if (present) return;
  AppendSection(key, {});
  Index();
}

void RegFileDocument::Put(std::string_view key_path, const RegValue& value) {
  const std::string key = TextInFile(key_path, dialect());
  const std::string name = TextInFile(value.name, dialect());
  const std::vector<std::string> value_lines = FormatValueLines(value, dialect());
  const Section* last_section = nullptr;
  const ValueLines* last_value = nullptr;
  for (const Section& section : sections_) {
    if (!SameRegistryName(section.key_path, key)) continue;
    last_section = &section;
    for (const ValueLines& stored : section.values) {
      if (SameRegistryName(stored.stored.value.name, name)) last_value = &stored;
    }
  }
  if (last_value != nullptr) {
    Splice(last_value->first_line, last_value->line_count, value_lines);
  } else if (last_section != nullptr) {
    const std::vector<ValueLines>& values = last_section->values;
    const std::size_t after = values.empty() ? last_section->header_line + 1
                                             : values.back().first_line + values.back().line_count;
    Splice(after, 0, value_lines);
  } else {
    AppendSection(key, value_lines);
  }
  Index();
}

void RegFileDocument::Remove(std::string_view key_path, std::string_view name) {
  const std::string key = TextInFile(key_path, dialect());
  const std::string file_name = TextInFile(name, dialect());
  // From the last line up, so that the lines still to remove keep their places.
  std::vector<const ValueLines*> doomed;
  for (const Section& section : sections_) {
    if (!SameRegistryName(section.key_path, key)) continue;
    for (const ValueLines& stored : section.values) {
      if (SameRegistryName(stored.stored.value.name, file_name)) doomed.push_back(&stored);
    }
  }
  if (doomed.empty()) return;
  std::sort(doomed.begin(), doomed.end(),
            [](const ValueLines* a, const ValueLines* b) { return a->first_line > b->first_line; });
  for (const ValueLines* value : doomed) {
    const auto first = lines_.begin() + static_cast<std::ptrdiff_t>(value->first_line);
    lines_.erase(first, first + static_cast<std::ptrdiff_t>(value->line_count));
  }
  Index();
}

RegFileText RegFileDocument::FileText() const {
  RegFileText file{encoding_, {}};
  if (header_ == RegFileHeader::None) {
    file.text = std::string(kRegedit4) + line_ending_;
    if (lines_.empty() || !IsBlank(lines_.front())) file.text += line_ending_;
  }
  for (const RegFileLine& line : lines_) {
    file.text += line.content;
    file.text += line.ending;
  }
  return file;
}

void RegFileDocument::Index() {
  sections_.clear();
  open_at_end_ = false;
  header_ = lines_.empty() ? RegFileHeader::None : HeaderOf(lines_.front().content);
  std::optional<std::size_t> section;
  std::size_t line = header_ == RegFileHeader::None ? 0 : 1;
  while (line < lines_.size()) {
    const std::string_view text = TrimBlanks(lines_[line].content);
    if (text.empty() || text.front() == ';') {
      ++line;
    } else if (text.front() == '[') {
      section = StartSection(text, line);
      ++line;
    } else {
      line += IndexValue(line, section);
    }
  }
}

// `[KEY]`; a header that is not closed ends the section before it all the same.
std::optional<std::size_t> RegFileDocument::StartSection(std::string_view text, std::size_t line) {
  if (text.size() < 3 || text.back() != ']') return std::nullopt;
  sections_.push_back(Section{std::string(text.substr(1, text.size() - 2)), line, {}});
  return sections_.size() - 1;
}

// Values before the first section header belong to no key.
std::size_t RegFileDocument::IndexValue(std::size_t line, std::optional<std::size_t> section) {
  ParsedValue parsed = ParseValueLines(std::span(lines_).subspan(line));
  open_at_end_ = parsed.open_at_end;
  if (parsed.value && section) {
    sections_[*section].values.push_back({std::move(*parsed.value), line, parsed.line_count});
  }
  return parsed.line_count;
}

void RegFileDocument::AppendSection(const std::string& key_path,
                                    const std::vector<std::string>& value_lines) {
  std::vector<std::string> added;
  // A hex list left open on the last line would take the next line as its
  // own; a comment line ends it, and it stays what it was: no value.
  if (open_at_end_) added.emplace_back(";");
  if (!added.empty() || (!lines_.empty() && !IsBlank(lines_.back()))) added.emplace_back();
  added.push_back("[" + key_path + "]");
  added.insert(added.end(), value_lines.begin(), value_lines.end());
  Splice(lines_.size(), 0, added);
}

// Replaces `removed` lines at `at` with `contents`. Added lines take the
// file's line ending, but the last of them the ending of the last line
// replaced: a value that was the file's unfinished last line stays so.
void RegFileDocument::Splice(std::size_t at, std::size_t removed,
                             const std::vector<std::string>& contents) {
  std::string last_ending = line_ending_;
  if (removed > 0) {
    last_ending = lines_[at + removed - 1].ending;
  } else if (at == lines_.size()) {
    EndLastLine();
  }
  std::vector<RegFileLine> added;
  added.reserve(contents.size());
  for (const std::string& content : contents) added.push_back({content, line_ending_});
  if (!added.empty()) added.back().ending = last_ending;
  const auto first = lines_.begin() + static_cast<std::ptrdiff_t>(at);
  lines_.erase(first, first + static_cast<std::ptrdiff_t>(removed));
  lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(at), added.begin(), added.end());
}

// The last line gets an ending before another line follows it.
void RegFileDocument::EndLastLine() {
  if (lines_.empty()) return;
  std::string& ending = lines_.back().ending;
  if (ending.ends_with('\n')) return;
  ending = ending.empty() ? line_ending_ : ending + "\n";
}

}  // namespace qm
