#pragma once
// What the listing keeps of each message's Subject and From: the start of
// each, as sent, at most kListedFieldLimit bytes. A mailbox may hold
// hundreds of thousands of messages, and a hostile one megabytes of subject
// in each; the keyword is matched on what is kept.

#include <cstddef>
#include <string>
#include <string_view>

#include "mail/store/HeaderBlock.h"

namespace qm {

inline constexpr std::size_t kListedFieldLimit = 4096;

// `value` cut to at most `limit` bytes: at a UTF-8 character boundary, and
// before an encoded word ("=?charset?B?...?=") that the cut would split, so
// that what is kept decodes as the start of the whole. Trailing blanks go.
std::string KeptFieldValue(std::string_view value, std::size_t limit = kListedFieldLimit);

// The Subject and From of a header block, each as KeptFieldValue keeps it.
RawHeaders ListedHeaders(std::string_view block);

}  // namespace qm
