#pragma once
// The "Store" value of a Microsoft 365 mailbox read through Microsoft Graph:
// "graph:" is the signed-in user's own mailbox, "graph:ADDRESS" a shared
// mailbox (or another user's) that the signed-in user may read.

#include <string>
#include <string_view>

namespace qm {

inline constexpr std::string_view kGraphScheme = "graph:";

// True for a value that starts with "graph:" (in any letter case).
bool IsGraphStoreValue(std::string_view store);

// The address of the shared mailbox a "graph:" value names; empty for the
// user's own. Throws Failure(SignOn, kNoMailbox) for text that is no mail
// address: without '@', longer than 320 bytes, or with a blank, a control
// character or one of / \ ? # %.
std::string GraphMailboxOf(std::string_view store);

// "graph:" followed by `address` (empty: the user's own mailbox).
std::string GraphStoreValue(std::string_view address);

}  // namespace qm
