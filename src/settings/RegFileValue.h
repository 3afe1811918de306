#pragma once
// One value of a registry file: the line, and the continuation lines of a hex
// list, that hold it, read and written. Names and texts in the file are in
// the file's own form (see RegFileDialect); values go in and out in the form
// of the Registry interface, the "ANSI" character set (see AnsiText.h).

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "settings/Registry.h"

namespace qm {

// One line of the file: its text and the line ending that followed it ("\n",
// "\r\n", or, for the last line, "\r" or nothing).
struct RegFileLine {
  std::string content;
  std::string ending;
};

struct RegValue {
  std::string name;  // empty for the unnamed value, "@" in the file
  std::uint32_t type = 0;
  Bytes data;

  bool operator==(const RegValue&) const = default;
};

// How a file holds its texts.
struct RegFileDialect {
  bool unicode_text = false;  // names and quoted texts are UTF-8 (a file with a byte-order mark)
  bool wide_strings = false;  // hex(1), hex(2) and hex(7) data are UTF-16LE (a version 5 file)
};

// A value as its lines say, name and data still in the file's form.
struct StoredValue {
  RegValue value;
  bool quoted = false;  // written as "text" rather than as hex data
};

struct ParsedValue {
  std::optional<StoredValue> value;  // nothing when the lines are no value
  std::size_t line_count = 1;        // lines taken, continuation lines included
  bool open_at_end = false;          // a hex list that asks for a line after the last one
};

// Spaces and tabs off both ends.
std::string_view TrimBlanks(std::string_view text);

// Key and value names compare without regard to ASCII letter case, as in the
// registry: two names are the same when their folded forms are equal.
bool SameRegistryName(std::string_view a, std::string_view b);
std::string FoldRegistryName(std::string_view name);

// The value whose first line is lines.front(), `"NAME"=data` or `@=data`.
ParsedValue ParseValueLines(std::span<const RegFileLine> lines);

// A name, key path or text of the interface in the file's form, and back.
std::string TextInFile(std::string_view text, RegFileDialect dialect);
std::string TextFromFile(std::string_view text, RegFileDialect dialect);

// The value in the interface's form.
RegValue ValueFromFile(const StoredValue& stored, RegFileDialect dialect);

// The lines (without endings) that hold `value`, given in the interface's
// form: "text" for a text with one closing NUL and no line break, dword: for
// four bytes of type 4, a hex list otherwise, wrapped like regedit's.
std::vector<std::string> FormatValueLines(const RegValue& value, RegFileDialect dialect);

}  // namespace qm
