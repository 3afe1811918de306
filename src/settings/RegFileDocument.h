#pragma once
// A registry file as its lines, each with its exact text and line ending, and
// an index of which lines are section headers and which hold which value.
// Reading takes every section and value it can parse, with or without a
// header line. Writing splices: a value replaces its own lines where they
// stand, or is inserted; every other line (comments, blank lines, other
// sections, lines that do not parse) stays as it was. Removing a value takes
// out its own lines and nothing else.
//
// Names, key paths and values go in and out in the form of the Registry
// interface; the document converts them to and from the file's own form.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "settings/RegFileEncoding.h"
#include "settings/RegFileValue.h"

namespace qm {

enum class RegFileHeader { None, Regedit4, Version5 };

class RegFileDocument {
 public:
  RegFileDocument() = default;  // an empty file
  explicit RegFileDocument(const RegFileText& text);

  RegFileHeader header() const { return header_; }

  // The keys of the sections, each once, spelt as at its first header.
  std::vector<std::string> KeyPaths() const;

  // The values of the section, in the order they first appear. A key with
  // several sections (in any letter case) reads as one, and a later value
  // replaces an earlier one of the same name. Nothing when no section has the key.
  std::optional<std::vector<RegValue>> Values(std::string_view key_path) const;

  // A new section goes at the end of the file, after a blank line.
  void AddSection(std::string_view key_path);

  // An existing value gets new lines where the value the reading returns
  // stands; a new one goes after the last value of the key's last section, or
  // right after its header. New lines take the file's line ending.
  void Put(std::string_view key_path, const RegValue& value);

  // Removes the lines of every value of that name in every section of the
  // key, so that the reading finds none; nothing else changes.
  void Remove(std::string_view key_path, std::string_view name);

  // The file to write: its lines, with "REGEDIT4" first when it had no header.
  RegFileText FileText() const;

 private:
  struct ValueLines {
    StoredValue stored;
    std::size_t first_line = 0;
    std::size_t line_count = 0;
  };
  struct Section {
    std::string key_path;  // in the file's form, as between the brackets
    std::size_t header_line = 0;
    std::vector<ValueLines> values;
  };

  RegFileDialect dialect() const;
  void Index();
  std::optional<std::size_t> StartSection(std::string_view text, std::size_t line);
  std::size_t IndexValue(std::size_t line, std::optional<std::size_t> section);
  void AppendSection(const std::string& key_path, const std::vector<std::string>& value_lines);
  void Splice(std::size_t at, std::size_t removed, const std::vector<std::string>& contents);
  void EndLastLine();

  RegFileEncoding encoding_ = RegFileEncoding::Ansi;
  std::vector<RegFileLine> lines_;
  std::string line_ending_ = "\n";
  RegFileHeader header_ = RegFileHeader::None;
  std::vector<Section> sections_;  // in file order, a key's repeated sections each on its own
  bool open_at_end_ = false;       // the last line asks for a continuation line
};

}  // namespace qm
