#pragma once
// After the walk over the inbox: the ZIP archives this scan saved, and the
// encrypted ones earlier scans saved without their password. An encrypted
// archive is unpacked with a password a mail gives (ArchivePasswords.h): the
// mails from its sender, or whose subject speaks of a password, are read,
// nearest to the archive's own first. One whose password no mail gives yet
// is remembered (WaitingArchives.h) until the window for its password mail
// has passed. An archive without a password is unpacked only when chosen.
// The archive itself always stays as it was saved.

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>

#include "mail/ScanSummary.h"
#include "mail/WaitingArchives.h"
#include "profile/ArchiveOptions.h"

namespace qm {

class DestinationFolder;
class MMes;

// Who sent a message that brought a ZIP archive, and when: noted while the
// walk had it open, so that it need not be fetched again.
struct ArchiveMail {
  std::string sender_address;
  std::optional<MailTime> sent;
};
using ArchiveMails = std::map<std::int64_t, ArchiveMail>;  // by message

struct ArchivePassInputs {
  ArchiveOptions options;
  const ArchiveMails& archive_mails;       // the messages this scan saved archives from
  const WaitingArchivesRecord& record;     // archives still without a password
  std::string destination_path;            // Settings.Path: whose records these are
  std::function<bool()> cancel_requested;  // stops the pass between archives and mails
  MailTime now = std::chrono::system_clock::now();
};

// Runs the pass over `destination` (committed) with the mailbox of
// `messages` still signed on; counts what it did into `summary`. Throws
// only what ends the scan (the folder gone, a write that failed).
void UnpackArchives(const ArchivePassInputs& inputs, MMes& messages, DestinationFolder& destination,
                    ScanSummary& summary);

}  // namespace qm
