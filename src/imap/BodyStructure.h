#pragma once
// Whether a message can hold a file, judged from the BODYSTRUCTURE its server
// sends in the listing, so that a message without one need not be fetched.
// Only two shapes count as holding none: a single text/html part that
// carries no file name and is not an attachment, and a multipart/alternative
// made of such parts only. A text/plain body may carry uuencoded files, so
// it counts as one that may hold a file. Anything else, anything
// unusual and anything that cannot be read says "may hold one": servers are
// known to build the structure wrongly, and a missed file is worse than a
// fetch too many.

#include <string_view>

namespace qm {

// `raw` is the BODYSTRUCTURE value exactly as sent (ImapValue::Kind::kRaw).
bool MayHoldAttachment(std::string_view raw);

}  // namespace qm
