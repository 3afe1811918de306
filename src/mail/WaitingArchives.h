#pragma once
// Encrypted archives saved without their password, remembered so that a
// later scan that sees the password mail unpacks them where they lie. The
// record is a small file of the user's own (beside the run log), replaced
// whole on every change, so a killed run leaves the old record or the new
// one, never half of one. An archive is known by its bytes (SHA-256): one
// moved, changed or replaced meanwhile is not touched and drops out.

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "mail/ArchivePasswords.h"

namespace qm {

struct WaitingArchive {
  std::string destination;   // the destination folder, as Settings.Path gave it
  std::string name;          // the archive's name in that folder
  std::string digest;        // SHA-256 of its bytes (raw)
  EncryptedArchive archive;  // as it came: its file name, sender and date
  MailTime saved;            // when the scan saved it
};

// More are not kept: the oldest go first.
inline constexpr std::size_t kMaxWaitingArchives = 500;

// True once the password mail of `waiting` can no longer come: later than
// the window after its mail (or after its saving, when the mail had no date).
bool HasExpired(const WaitingArchive& waiting, MailTime now);

class WaitingArchivesRecord {
 public:
  // `file` is the record; "" keeps none.
  explicit WaitingArchivesRecord(std::filesystem::path file);

  // The recorded archives; none when the record is missing, too large
  // (over 1 MiB), not a regular file, or damaged.
  std::vector<WaitingArchive> Read() const;

  // Replaces the record by `archives` (the newest kMaxWaitingArchives);
  // none removes it. Throws FileFailure(FileWrite) when it cannot be written.
  void Write(const std::vector<WaitingArchive>& archives) const;

 private:
  std::filesystem::path file_;
};

// The record's place: "archives-waiting.json" in the folder of the run log;
// "" when the platform names none.
std::filesystem::path WaitingArchivesPath();

}  // namespace qm
