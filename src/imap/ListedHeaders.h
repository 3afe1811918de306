#pragma once
// What the listing keeps of each message's Subject and From: the start of
// each, as sent, at most kListedFieldLimit bytes. A mailbox may hold
// hundreds of thousands of messages, and a hostile one megabytes of subject
// in each; the keyword is matched on what is kept.

#include <cstddef>
#include <string_view>

#include "store/HeaderBlock.h"
#include "store/KeptFieldValue.h"

namespace qm {

inline constexpr std::size_t kListedFieldLimit = 4096;

// The Subject and From of a header block, each as KeptFieldValue keeps it.
RawHeaders ListedHeaders(std::string_view block);

}  // namespace qm
