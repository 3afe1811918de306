#include "store/HeaderBlock.h"

#include <algorithm>
#include <cctype>

#include "store/KeptFieldValue.h"

namespace qm {
namespace {

bool NameIs(std::string_view line, std::string_view name) {
  if (line.size() <= name.size() || line[name.size()] != ':') return false;
  return std::equal(name.begin(), name.end(), line.begin(), [](char a, char b) {
    return std::tolower(static_cast<unsigned char>(a)) ==
           std::tolower(static_cast<unsigned char>(b));
  });
}

std::string_view TrimLineEnd(std::string_view line) {
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  return line;
}

// Adds `text` to `field`, as far as the field's cap allows: one byte beyond
// it, so that the cut can tell a value longer than the cap and where it goes.
void AppendCapped(std::string& field, std::string_view text) {
  constexpr std::size_t kHeld = kMaxHeaderFieldBytes + 1;
  field.append(text.substr(0, kHeld - std::min(field.size(), kHeld)));
}

std::string Trimmed(std::string value) {
  const auto first = value.find_first_not_of(" \t");
  const auto last = value.find_last_not_of(" \t\r");
  if (first == std::string::npos) return {};
  return value.substr(first, last - first + 1);
}

}  // namespace

RawHeaders ParseHeaderBlock(std::string_view block) {
  RawHeaders headers;
  std::string* field = nullptr;  // the field the current line continues, if taken
  bool have_subject = false, have_from = false;
  while (!block.empty()) {
    const auto end = block.find('\n');
    const std::string_view line = TrimLineEnd(block.substr(0, end));
    block = end == std::string_view::npos ? std::string_view() : block.substr(end + 1);
    if (line.empty()) break;  // end of the header block
    if (line[0] == ' ' || line[0] == '\t') {
      if (field != nullptr) AppendCapped(*field, line);
      continue;
    }
    field = nullptr;
    if (!have_subject && NameIs(line, "subject")) {
      have_subject = true;
      field = &headers.subject;
    } else if (!have_from && NameIs(line, "from")) {
      have_from = true;
      field = &headers.from;
    }
    if (field != nullptr) AppendCapped(*field, line.substr(line.find(':') + 1));
  }
  headers.subject = Trimmed(KeptFieldValue(headers.subject, kMaxHeaderFieldBytes));
  headers.from = Trimmed(KeptFieldValue(headers.from, kMaxHeaderFieldBytes));
  return headers;
}

}  // namespace qm
