#pragma once
// What one scan did, told to the window when it ends: the user sees at once
// whether the files came and what is still waiting.

#include <cstdint>

namespace qm {

struct ScanSummary {
  std::int64_t files_saved = 0;        // attachment files placed in the folder
  std::int64_t archives_unpacked = 0;  // ZIP archives unpacked into a folder of their own
  // Encrypted archives whose password no mail has given yet; a later scan
  // unpacks them once it sees the password mail.
  std::int64_t archives_waiting = 0;
  // Archives that could not be unpacked (damaged, beyond the limits, a
  // password that opened one entry but not another): kept as they came.
  std::int64_t archives_kept = 0;
  std::int64_t messages_skipped = 0;  // left unread: unreadable, or a file without a place
};

}  // namespace qm
