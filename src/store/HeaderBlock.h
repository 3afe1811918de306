#pragma once
// The two header fields the scan matches on, taken from a message's header
// block as a store reads it (a file's first lines, or what the server sends
// for the fields asked for).

#include <cstddef>
#include <string>
#include <string_view>

namespace qm {

// What is kept of a field's value: a longer Subject or From is cut here (the
// keyword is matched against what is kept), so that a hostile field costs no
// more memory than this, however the store reads it.
inline constexpr std::size_t kMaxHeaderFieldBytes = 64 * 1024;

struct RawHeaders {
  std::string subject;  // raw value of the first Subject field, unfolded
  std::string from;     // raw value of the first From field, unfolded
};

// The first Subject and the first From of `block`, which ends at its first
// empty line (or where it ends). Field names ignore letter case; continuation
// lines are joined to their field with the line break removed (unfolding),
// and the value is trimmed of spaces and tabs at both ends. Each value is cut
// to kMaxHeaderFieldBytes as KeptFieldValue cuts.
RawHeaders ParseHeaderBlock(std::string_view block);

}  // namespace qm
