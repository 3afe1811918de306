#include "mail/RunScan.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "mail/ArchivePass.h"
#include "mail/ArchivePasswords.h"
#include "mail/MMes.h"
#include "mail/MSession.h"
#include "mail/SaveAttachments.h"
#include "mail/ScanHost.h"
#include "mail/SkippedMessages.h"
#include "save/DestinationFolder.h"
#include "settings/Settings.h"
#include "store/UnreadableMessage.h"
#include "text/KeywordSearch.h"

namespace qm {
namespace {

// The field the keyword is matched against; any other Item reads nothing.
std::string ChosenField(MMes& messages) {
  switch (Settings.Item) {
    case 0:
      return messages.Subject();
    case 1:
      return messages.SenderName();
    case 2:
      return messages.SenderAddress();
    default:
      return {};
  }
}

// The check boxes act only through these exact tests: a grayed box (2) counts
// as clear for "all mail" and "auto exit", and as set for "unread only".
bool AllMailIsCandidate() { return Settings.Opt[0] == 1; }
bool ReadMailIsProcessed() { return Settings.Opt[1] == 0; }
bool EndsAfterScan() { return Settings.Opt[2] == 1; }

// Runs `steps`; true when they ended early because the user cancelled while
// a wait for the server was under way.
template <typename Steps>
bool InterruptedByCancel(ScanHost& host, Steps steps) {
  try {
    steps();
    return false;
  } catch (const Failure& failure) {
    if (failure.cause() != Cause::kCancelled || !host.CancelRequested()) throw;
    return true;
  }
}

// True when the current message is one whose attachments the scan saves.
bool IsSelected(MMes& messages, const KeywordSearch& search) {
  if (!AllMailIsCandidate() && !MatchesKeyword(messages, search)) return false;
  const bool unread = !messages.IsRead();
  return unread || ReadMailIsProcessed();
}

// Selects the current message and saves its attachments; returns how many.
std::int64_t ProcessMessage(MMes& messages, const KeywordSearch& search,
                            DestinationFolder& destination, const FileStarted& started) {
  return IsSelected(messages, search) ? SaveAttachments(messages, destination, started) : 0;
}

// A mailbox far away fetches ahead what the scan will open: the selection
// needs only the listing and the settings taken at the start, so it is
// known before the walk. The walk itself then goes as it always does.
void TellWhatWillBeOpened(MMes& messages, const KeywordSearch& search) {
  if (!messages.FetchesAhead()) return;
  std::vector<std::int64_t> selected;
  for (std::int64_t i = 0; i < messages.MessageCount(); ++i) {
    messages.SetCurrentMessage(i);
    if (IsSelected(messages, search)) selected.push_back(i);
  }
  messages.WillOpen(selected);
}

// Notes who sent the current message and when, once it brought a ZIP
// archive: the archive pass needs it without fetching the message again.
void NoteArchiveMail(MMes& messages, ArchiveMails& archive_mails) {
  try {
    archive_mails[messages.CurrentMessage()] = {messages.SenderAddress(), messages.SentDate()};
  } catch (const UnreadableMessage&) {
    // Then its sender and date are not known; its archive may still be
    // paired through a mail that speaks of a password.
  }
}

// A message that cannot be read is skipped and left unread; files of it
// already saved stay (the next run finds them there and adds no copy).
// `archive_mails` (when archives are to be paired with passwords) gets the
// messages that brought one.
void WalkMessages(ScanHost& host, MMes& messages, const KeywordSearch& search,
                  DestinationFolder& destination, SkippedMessages& skipped,
                  ArchiveMails* archive_mails) {
  ScanProgress progress;
  progress.total = messages.MessageCount();
  // The host keeps the latest progress without waking anyone: telling it
  // of every file costs no more than a lock.
  bool brought_archive = false;
  const FileStarted file_started = [&](const std::string& name) {
    brought_archive = brought_archive || IsZipFileName(name);
    progress.current_file = name;
    progress.file_started = std::chrono::steady_clock::now();
    host.ShowProgress(progress);
  };
  for (std::int64_t i = 0; i < progress.total && !host.CancelRequested(); ++i) {
    messages.SetCurrentMessage(i);
    brought_archive = false;
    try {
      progress.saved += ProcessMessage(messages, search, destination, file_started);
      if (brought_archive && archive_mails != nullptr) NoteArchiveMail(messages, *archive_mails);
    } catch (const UnreadableMessage& unreadable) {
      messages.UnmarkRead();
      skipped.Add(unreadable);
    }
    progress.examined = i + 1;
    progress.current_file.clear();
    host.ShowProgress(progress);
  }
}

// A file the destination could not give a name to is as good as unread: its
// message stays unread for the next run and is reported. Done after the
// last batch, before any read mark is sent.
void LeaveUnplacedUnread(MMes& messages, const DestinationFolder& destination,
                         SkippedMessages& skipped) {
  std::set<std::int64_t> left;
  for (const UnplacedFile& file : destination.unplaced()) {
    if (file.message < 0 || !left.insert(file.message).second) continue;
    messages.SetCurrentMessage(file.message);
    messages.UnmarkRead();
    skipped.Add(UnreadableMessage(messages.Describe(), file.reason));
  }
}

}  // namespace

void PrepareSession(MSession& session) { session.SetDownloadMail(false); }

// All three tests are made on every call: the field is read even for "*".
bool MatchesKeyword(MMes& messages, const KeywordSearch& search) {
  const std::string field = ChosenField(messages);
  const bool is_star = search.KeywordEquals("*");
  const bool is_empty = search.KeywordIsEmpty();
  const bool found = search.FoundIn(field);
  return is_star || is_empty || found;
}

// What the scan did, for the window.
ScanSummary Summarized(ScanSummary summary, const DestinationFolder& destination,
                       const SkippedMessages& skipped) {
  summary.files_saved = static_cast<std::int64_t>(destination.placed().size());
  summary.messages_skipped = skipped.count();
  return summary;
}

void RunScan(ScanHost& host, MSession& session, MMes& messages) {
  host.StoreControls();
  // Checked before anything is touched. Files may still be being written when
  // they are added; each flush waits for them.
  DestinationFolder destination(Settings.Path, [&messages] { messages.WaitForFiles(); });
  messages.WriteFilesInto(destination.work_folder().fd(), destination.work_folder_path());
  // Undone before the destination removes its work folder, however the scan ends.
  struct FilesWrittenUntilExit {
    MMes& messages;
    ~FilesWrittenUntilExit() { messages.StopWritingFiles(); }
  } files_written_until_exit{messages};
  host.SetScanEnabled(false);
  host.YieldOnce();

  SkippedMessages skipped;
  ArchiveMails archive_mails;
  ArchiveOptions archive_options;
  const bool interrupted = InterruptedByCancel(host, [&] {
    session.SignOn();
    // After the sign-on: a choice made in the sign-on dialog it opened counts.
    archive_options = host.ArchiveChoices();
    messages.SetSessionHandle(session.SessionHandle());
    session.SetDownloadMail(true);
    messages.SetMessageTypeFilter("");
    messages.Fetch();
    const KeywordSearch search(Settings.Keyword);
    TellWhatWillBeOpened(messages, search);
    WalkMessages(host, messages, search, destination, skipped,
                 archive_options.unpack_encrypted ? &archive_mails : nullptr);
  });

  host.YieldOnce();
  // Every saved file is on disk before any message is marked read. A cancel
  // that broke off a wait for the server leaves the connection unusable:
  // what was saved stays, and no mark is sent.
  destination.Commit();
  LeaveUnplacedUnread(messages, destination, skipped);
  ScanSummary summary;
  const bool pass_interrupted =
      interrupted || InterruptedByCancel(host, [&] {
        if (!archive_options.unpack_encrypted && !archive_options.unpack_plain) return;
        const WaitingArchivesRecord record(WaitingArchivesPath());
        const ArchivePassInputs inputs{archive_options, archive_mails, record, Settings.Path,
                                       [&host] { return host.CancelRequested(); }};
        UnpackArchives(inputs, messages, destination, summary);
      });
  if (pass_interrupted) {
    session.Discard();
  } else {
    session.SignOff();
  }
  host.SetScanEnabled(true);
  host.ScanFinished();
  host.ShowSummary(Summarized(summary, destination, skipped));
  // Reported once the scan is wholly done: what could be collected is.
  if (const std::optional<Failure> report = skipped.Report()) throw *report;
  if (EndsAfterScan()) host.EndProgram();
}

bool ScanEndsProgram() { return EndsAfterScan(); }

}  // namespace qm
