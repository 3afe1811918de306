#pragma once
// The scan: sign on, fetch the inbox, select messages by keyword and options,
// save the attachments of each selected message, sign off.

namespace qm {

class ScanHost;
class MSession;
class MMes;

// The GET action. Refuses an empty or unusable destination before signing on.
void RunScan(ScanHost& host, MSession& session, MMes& messages);

// True when the current message of `messages` passes the keyword test of
// Settings.Keyword on the field chosen by Settings.Item.
bool MatchesKeyword(MMes& messages);

// Done once when the main window loads: no mail is downloaded at the first sign-on.
void PrepareSession(MSession& session);

}  // namespace qm
