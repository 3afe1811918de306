#include "mail/ArchivePass.h"

#include <algorithm>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "archive/ArchiveFailure.h"
#include "archive/ZipArchive.h"
#include "base/FileSystem.h"
#include "base/UniqueFd.h"
#include "mail/ArchivePasswords.h"
#include "mail/MMes.h"
#include "mail/PasswordMailIndex.h"
#include "mail/UnpackArchive.h"
#include "save/ContentDigest.h"
#include "save/DestinationFolder.h"
#include "store/UnreadableMessage.h"
#include "text/PasswordCandidates.h"

namespace qm {
namespace {

// Mails read for one archive's password, and for all archives of one scan,
// at most: each mail is read once however many archives it may concern.
constexpr std::size_t kMaxMailsPerArchive = 64;
constexpr std::size_t kMaxMailsPerScan = 512;

// The folder an archive unpacks into: its name without ".zip".
std::string FolderNameFor(const std::string& archive_name) {
  const std::string stem =
      IsZipFileName(archive_name) ? archive_name.substr(0, archive_name.size() - 4) : archive_name;
  return stem.empty() || stem == "." || stem == ".." ? "zip" : stem;
}

// An encrypted archive waiting for its password in this pass.
struct Target {
  WaitingArchive waiting;  // what the record keeps of it
  std::int64_t near = -1;  // its message in the listing; -1 when saved by an earlier scan
  bool saved_now = false;
  FileIdentity identity;  // of the file this scan placed (saved_now)
  std::vector<PasswordNotice> notices;
};

class Pass {
 public:
  Pass(const ArchivePassInputs& inputs, MMes& messages, DestinationFolder& destination,
       ScanSummary& summary)
      : in_(inputs), messages_(messages), destination_(destination), summary_(summary) {}

  void Run() {
    std::vector<WaitingArchive> kept = TakeRecord();
    for (const PlacedFile& placed : destination_.placed()) {
      if (Cancelled()) return Finish(kept);
      if (IsZipFileName(placed.asked)) SavedNow(placed);
    }
    ReadNotices();
    for (Target& target : targets_) {
      if (!Cancelled() && Resolved(target)) {
        changed_ = true;
      } else if (Kept(target)) {
        kept.push_back(std::move(target.waiting));
        ++summary_.archives_waiting;
      }
    }
    Finish(kept);
  }

 private:
  bool Cancelled() const { return in_.cancel_requested && in_.cancel_requested(); }

  // The record's archives of other folders, and all of them while the user
  // has turned unpacking off, are kept as they are; this folder's become
  // targets, unless their window has passed or they were moved away.
  std::vector<WaitingArchive> TakeRecord() {
    std::vector<WaitingArchive> kept;
    for (WaitingArchive& waiting : in_.record.Read()) {
      if (waiting.destination != in_.destination_path) {
        kept.push_back(std::move(waiting));
      } else if (HasExpired(waiting, in_.now)) {
        changed_ = true;
      } else if (!in_.options.unpack_encrypted) {
        kept.push_back(std::move(waiting));
      } else if (!StillThere(waiting.name)) {
        changed_ = true;
      } else {
        targets_.push_back({std::move(waiting), -1, false, {}, {}});
      }
    }
    return kept;
  }

  bool StillThere(const std::string& name) const {
    return UniqueFd(fs::OpenForReading(destination_.fd(), name)).valid();
  }

  void Finish(const std::vector<WaitingArchive>& kept) {
    if (changed_) in_.record.Write(kept);
  }

  // An archive this scan placed: still the file it placed, opened without
  // following a link.
  void SavedNow(const PlacedFile& placed) {
    const UniqueFd file = OpenPlaced(placed.name, placed.identity);
    if (!file.valid()) return;
    std::optional<ZipArchive> archive = Open(file.get());
    if (!archive) return;
    if (!archive->encrypted()) {
      if (in_.options.unpack_plain) Unpack(*archive, "", FolderNameFor(placed.asked));
      return;
    }
    if (!in_.options.unpack_encrypted) return;
    if (!messages_.GivesMessageText()) {
      ++summary_.archives_kept;  // no mail's text can be read here: no password will come
      return;
    }
    Target target;
    // Its digest is worked out only if it is to wait (Kept): until then
    // the file's identity tells that it is the one placed.
    target.waiting = {in_.destination_path, placed.name, {}, Described(placed), in_.now};
    target.near = placed.message;
    target.saved_now = true;
    target.identity = placed.identity;
    targets_.push_back(std::move(target));
  }

  // An archive an earlier scan recorded: the very bytes it saved.
  UniqueFd OpenRecorded(const WaitingArchive& waiting) const {
    UniqueFd file(fs::OpenForReading(destination_.fd(), waiting.name));
    if (!file.valid() || ContentDigestOf(file.get()) != waiting.digest) return {};
    return file;
  }

  UniqueFd OpenPlaced(const std::string& name, const FileIdentity& identity) const {
    UniqueFd file(fs::OpenForReading(destination_.fd(), name));
    fs::EntryInfo info;
    if (!file.valid() || fs::InfoOf(file.get(), info) != 0 || info.identity != identity) return {};
    return file;
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

  // Who sent the archive and when, as the walk noted it while it had the
  // message open (unknown when its sender could not be read).
  EncryptedArchive Described(const PlacedFile& placed) const {
    EncryptedArchive came{placed.asked, {}, {}};
    if (const auto noted = in_.archive_mails.find(placed.message);
        noted != in_.archive_mails.end()) {
      came.sender_address = noted->second.sender_address;
      came.sent = noted->second.sent;
    }
    return came;
  }

  // The mails that may tell the targets' passwords, each read once.
  void ReadNotices() {
    for (const std::int64_t message : MailsToRead()) {
      if (Cancelled()) return;
      const std::optional<PasswordMail> mail = ReadMail(message);
      if (!mail) continue;
      const std::vector<std::string> candidates = PasswordCandidates(mail->text);
      if (candidates.empty()) continue;
      for (Target& target : targets_) {
        if (auto notice = NoticeFor(target.waiting.archive, *mail, candidates)) {
          target.notices.push_back(std::move(*notice));
        }
      }
    }
  }

  // A mail that brought an archive is not read again: it is the largest
  // to fetch, and the password comes in a mail of its own.
  std::vector<std::int64_t> MailsToRead() {
    if (targets_.empty()) return {};
    const PasswordMailIndex index = ListedIndex();
    std::set<std::int64_t> messages;
    for (const Target& target : targets_) {
      for (const std::int64_t message : index.CandidatesFor(target.waiting.archive.sender_address,
                                                            target.near, kMaxMailsPerArchive)) {
        if (messages.size() == kMaxMailsPerScan) break;
        if (!in_.archive_mails.contains(message)) messages.insert(message);
      }
    }
    return {messages.begin(), messages.end()};
  }

  // The listed sender and subject of every message, read only once some
  // archive waits for a password: a scan without one pays nothing for it.
  PasswordMailIndex ListedIndex() {
    PasswordMailIndex index;
    for (std::int64_t i = 0; i < messages_.MessageCount() && !Cancelled(); ++i) {
      try {
        messages_.SetCurrentMessage(i);
        index.Add(i, messages_.SenderAddress(), messages_.Subject());
      } catch (const UnreadableMessage&) {
        // Not a mail the password can be read from either.
      }
    }
    return index;
  }

  std::optional<PasswordMail> ReadMail(std::int64_t message) {
    try {
      messages_.SetCurrentMessage(message);
      return messages_.ReadPasswordMail();
    } catch (const UnreadableMessage&) {
      return std::nullopt;
    }
  }

  // False when an archive this scan placed is no longer the file it placed,
  // and so not to be remembered; else its record is complete.
  bool Kept(Target& target) {
    if (!target.saved_now) return true;
    const UniqueFd file = OpenPlaced(target.waiting.name, target.identity);
    if (!file.valid()) return false;
    target.waiting.digest = ContentDigestOf(file.get());
    changed_ = true;
    return !target.waiting.digest.empty();
  }

  // True when the target is done with: unpacked, beyond help (no longer
  // the archive that was saved), or kept as it is after a failed unpacking.
  bool Resolved(Target& target) {
    if (target.notices.empty()) return false;
    const UniqueFd file = target.saved_now ? OpenPlaced(target.waiting.name, target.identity)
                                           : OpenRecorded(target.waiting);
    if (!file.valid()) return true;
    std::optional<ZipArchive> archive = Open(file.get());
    if (!archive) return true;
    for (const std::string& password : PasswordsInOrder(std::move(target.notices))) {
      if (archive->Accepts(password)) {
        Unpack(*archive, password, FolderNameFor(target.waiting.archive.file_name));
        return true;
      }
    }
    return false;
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
  std::vector<Target> targets_;
  bool changed_ = false;
};

}  // namespace

void UnpackArchives(const ArchivePassInputs& inputs, MMes& messages, DestinationFolder& destination,
                    ScanSummary& summary) {
  Pass(inputs, messages, destination, summary).Run();
}

}  // namespace qm
