#pragma once
// The scan: sign on, fetch the inbox, select messages by keyword and options,
// save the attachments of each selected message, sign off.

namespace qm {

class ScanHost;
class MSession;
class MMes;
class KeywordSearch;

// The GET action. Refuses an empty or unusable destination before signing on.
// Messages that cannot be read are skipped and left unread; once everything
// else is done, a Failure of kind Unreadable reports them. A cancel stops the
// scan after the current message, or at once while it waits for the server;
// either way what was saved stays.
void RunScan(ScanHost& host, MSession& session, MMes& messages);

// True when the settings ask to end the program once a scan is done.
bool ScanEndsProgram();

// True when the current message of `messages` passes the keyword test of
// `search` (Settings.Keyword, prepared once per scan) on the field chosen by
// Settings.Item.
bool MatchesKeyword(MMes& messages, const KeywordSearch& search);

// Done once when the main window loads: no mail is downloaded at the first sign-on.
void PrepareSession(MSession& session);

}  // namespace qm
