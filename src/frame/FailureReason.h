#pragma once
// The short sentence a user reads for a failure: what happened and what to
// do, chosen from the failure's kind, cause and errno. The failure's own
// text (English, technical: a path, the server's words, the errno's text)
// is the detail shown on request.

#include "base/Failure.h"

namespace qm {

// The translation context of the sentences.
inline constexpr char kFailureReasonContext[] = "qm::FailureReason";

// The sentence's English source text, marked for translation in
// kFailureReasonContext.
const char* FailureReasonSource(const Failure& failure);

}  // namespace qm
