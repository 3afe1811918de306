#include "mail/RunScan.h"

#include <cstdint>
#include <string>

#include "frame/Settings.h"
#include "mail/DestinationFolder.h"
#include "mail/KeywordSearch.h"
#include "mail/MMes.h"
#include "mail/MSession.h"
#include "mail/SaveAttachments.h"
#include "mail/ScanHost.h"

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

bool Matches(MMes& messages, const KeywordSearch& search) {
  const std::string field = ChosenField(messages);
  const bool is_star = search.KeywordEquals("*");
  const bool is_empty = search.KeywordIsEmpty();
  const bool found = search.FoundIn(field);
  return is_star || is_empty || found;
}

// The check boxes act only through these exact tests: a grayed box (2) counts
// as clear for "all mail" and "auto exit", and as set for "unread only".
bool AllMailIsCandidate() { return Settings.Opt[0] == 1; }
bool ReadMailIsProcessed() { return Settings.Opt[1] == 0; }
bool EndsAfterScan() { return Settings.Opt[2] == 1; }

void WalkMessages(ScanHost& host, MMes& messages, const KeywordSearch& search,
                  DestinationFolder& destination) {
  ScanProgress progress;
  progress.total = messages.MessageCount();
  for (std::int64_t i = 0; i < progress.total && !host.CancelRequested(); ++i) {
    messages.SetCurrentMessage(i);
    if (AllMailIsCandidate() || Matches(messages, search)) {
      const bool unread = !messages.IsRead();
      if (unread || ReadMailIsProcessed()) progress.saved += SaveAttachments(messages, destination);
    }
    progress.examined = i + 1;
    host.ShowProgress(progress);
  }
}

}  // namespace

void PrepareSession(MSession& session) { session.SetDownloadMail(false); }

bool MatchesKeyword(MMes& messages) {
  const KeywordSearch search(Settings.Keyword);
  return Matches(messages, search);
}

void RunScan(ScanHost& host, MSession& session, MMes& messages) {
  host.StoreControls();
  // Checked before anything is touched. Files may still be being written when
  // they are added; each flush waits for them.
  DestinationFolder destination(Settings.Path, [&messages] { messages.WaitForFiles(); });
  host.SetScanEnabled(false);
  host.YieldOnce();

  session.SignOn();
  messages.SetSessionHandle(session.SessionHandle());
  session.SetDownloadMail(true);
  messages.SetMessageTypeFilter("");
  messages.Fetch();
  const KeywordSearch search(Settings.Keyword);
  WalkMessages(host, messages, search, destination);

  host.YieldOnce();
  // Every saved file is on disk before any message is marked read.
  destination.Commit();
  session.SignOff();
  host.SetScanEnabled(true);
  host.ScanFinished();
  if (EndsAfterScan()) host.EndProgram();
}

}  // namespace qm
