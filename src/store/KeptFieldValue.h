#pragma once
// The start of a header field's value, cut where it still decodes: a hostile
// Subject or From of megabytes is kept only so far, and the keyword is
// matched on what is kept.

#include <cstddef>
#include <string>
#include <string_view>

namespace qm {

// `value` cut to at most `limit` bytes: at a UTF-8 character boundary, and
// before an encoded word ("=?charset?B?...?=") that the cut would split, so
// that what is kept decodes as the start of the whole. Trailing blanks go.
std::string KeptFieldValue(std::string_view value, std::size_t limit);

}  // namespace qm
