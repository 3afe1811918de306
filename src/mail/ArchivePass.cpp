#include "mail/ArchivePass.h"

#include <algorithm>
#include <cerrno>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "archive/ArchiveFailure.h"
#include "archive/ZipArchive.h"
#include "base/FileSystem.h"
#include "base/UniqueFd.h"
#include "mail/ArchivePasswords.h"
#include "mail/MMes.h"
#include "mail/UnpackArchive.h"
#include "save/ContentDigest.h"
#include "save/DestinationFolder.h"
#include "store/UnreadableMessage.h"

namespace qm {
namespace {

// Mails read for one archive's password, at most.
constexpr std::size_t kMaxMailsRead = 64;

bool HasZipSuffix(const std::string& name) {
  if (name.size() < 4) return false;
  std::string suffix = name.substr(name.size() - 4);
  std::transform(suffix.begin(), suffix.end(), suffix.begin(),
                 [](unsigned char c) { return c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c; });
  return suffix == ".zip";
}

// The folder an archive unpacks into: its name without ".zip".
std::string FolderNameFor(const std::string& archive_name) {
  const std::string stem = archive_name.substr(0, archive_name.size() - 4);
  return stem.empty() || stem == "." || stem == ".." ? "zip" : stem;
}

class Pass {
 public:
  Pass(const ArchivePassInputs& inputs, MMes& messages, DestinationFolder& destination,
       ScanSummary& summary)
      : in_(inputs), messages_(messages), destination_(destination), summary_(summary) {}

  void Run() {
    std::vector<WaitingArchive> others;  // of other folders: not ours to try
    std::vector<WaitingArchive> earlier;
    for (WaitingArchive& waiting : in_.record.Read()) {
      if (waiting.destination != in_.destination_path) {
        others.push_back(std::move(waiting));
      } else if (HasExpired(waiting, in_.now)) {
        changed_ = true;  // its password mail can no longer come
      } else {
        earlier.push_back(std::move(waiting));
      }
    }
    for (const PlacedFile& placed : destination_.placed()) {
      if (Cancelled()) break;
      if (HasZipSuffix(placed.asked)) SavedNow(placed);
    }
    std::vector<WaitingArchive> still;
    for (WaitingArchive& waiting : earlier) {
      if (Cancelled() || !SavedEarlier(waiting)) {
        still.push_back(std::move(waiting));
      } else {
        changed_ = true;  // unpacked, or gone
      }
    }
    still.insert(still.end(), saved_waiting_.begin(), saved_waiting_.end());
    summary_.archives_waiting += static_cast<std::int64_t>(still.size());
    if (changed_) {
      others.insert(others.end(), still.begin(), still.end());
      in_.record.Write(others);
    }
  }

 private:
  bool Cancelled() const { return in_.cancel_requested && in_.cancel_requested(); }

  // An archive this scan placed: still the file it placed, opened without
  // following a link.
  void SavedNow(const PlacedFile& placed) {
    const UniqueFd file(fs::OpenForReading(destination_.fd(), placed.name));
    fs::EntryInfo info;
    if (!file.valid() || fs::InfoOf(file.get(), info) != 0 || info.identity != placed.identity) {
      return;
    }
    std::optional<ZipArchive> archive = Open(file.get());
    if (!archive) return;
    const std::string folder = FolderNameFor(placed.asked);
    if (!archive->encrypted()) {
      if (in_.options.unpack_plain) Unpack(*archive, "", folder);
      return;
    }
    if (!in_.options.unpack_encrypted) return;
    const EncryptedArchive came = Described(placed);
    if (const std::optional<std::string> password = FindPassword(*archive, came, placed.message)) {
      Unpack(*archive, *password, folder);
      return;
    }
    saved_waiting_.push_back(
        {in_.destination_path, placed.name, ContentDigestOf(file.get()), came, in_.now});
    changed_ = true;
  }

  // An archive an earlier scan left waiting; false while it still waits.
  bool SavedEarlier(const WaitingArchive& waiting) {
    if (!in_.options.unpack_encrypted) return false;
    const UniqueFd file(fs::OpenForReading(destination_.fd(), waiting.name));
    // Moved, removed or changed meanwhile: no longer ours to unpack.
    if (!file.valid() || ContentDigestOf(file.get()) != waiting.digest) return true;
    std::optional<ZipArchive> archive = Open(file.get());
    if (!archive) return true;
    const std::optional<std::string> password = FindPassword(*archive, waiting.archive, -1);
    if (!password) return false;
    Unpack(*archive, *password, FolderNameFor(waiting.archive.file_name));
    return true;
  }

  // The archive in `fd`; nothing for a file that is no ZIP archive, or one
  // beyond the limits (kept as it is, and counted).
  std::optional<ZipArchive> Open(int fd) {
    try {
      return std::optional<ZipArchive>(std::in_place, fd);
    } catch (const ArchiveFailure& failure) {
      if (failure.problem() != ArchiveProblem::kDamaged) ++summary_.archives_kept;
      return std::nullopt;
    }
  }

  // Who sent the archive and when, from its message.
  EncryptedArchive Described(const PlacedFile& placed) {
    EncryptedArchive came{placed.asked, {}, {}};
    if (placed.message < 0) return came;
    messages_.SetCurrentMessage(placed.message);
    try {
      if (const std::optional<PasswordMail> mail = messages_.ReadPasswordMail()) {
        came.sender_address = mail->sender_address;
        came.sent = mail->sent;
        return came;
      }
      came.sender_address = messages_.SenderAddress();
    } catch (const UnreadableMessage&) {
      // Its files were saved; only what it says is lost.
    }
    return came;
  }

  std::optional<std::string> FindPassword(ZipArchive& archive, const EncryptedArchive& came,
                                          std::int64_t near) {
    std::set<std::string> tried;
    for (const std::int64_t message :
         in_.index.CandidatesFor(came.sender_address, near, kMaxMailsRead)) {
      if (Cancelled()) break;
      const std::optional<PasswordMail> mail = ReadMail(message);
      if (!mail || !MayTellPassword(came, *mail)) continue;
      for (const std::string& password : PasswordsToTry(came, {*mail})) {
        if (!tried.insert(password).second) continue;
        if (tried.size() > kMaxPasswordTries) return std::nullopt;
        if (archive.Accepts(password)) return password;
      }
    }
    return std::nullopt;
  }

  std::optional<PasswordMail> ReadMail(std::int64_t message) {
    messages_.SetCurrentMessage(message);
    try {
      return messages_.ReadPasswordMail();
    } catch (const UnreadableMessage&) {
      return std::nullopt;
    }
  }

  void Unpack(ZipArchive& archive, const std::string& password, const std::string& folder) {
    try {
      UnpackArchive(archive, password, destination_, folder);
      ++summary_.archives_unpacked;
    } catch (const ArchiveFailure&) {
      ++summary_.archives_kept;
    }
  }

  const ArchivePassInputs& in_;
  MMes& messages_;
  DestinationFolder& destination_;
  ScanSummary& summary_;
  std::vector<WaitingArchive> saved_waiting_;  // by this scan, without a password yet
  bool changed_ = false;
};

}  // namespace

void UnpackArchives(const ArchivePassInputs& inputs, MMes& messages, DestinationFolder& destination,
                    ScanSummary& summary) {
  Pass(inputs, messages, destination, summary).Run();
}

}  // namespace qm
