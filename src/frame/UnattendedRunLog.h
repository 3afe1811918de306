#pragma once
// What a run started with "-a" leaves in the run log (base/RunLog, in the
// place settings/RunLogLocation names): its start, each failure reported
// (the line stderr shows), the summary of a scan that ends the run, and its
// end with the exit code and the counts of the scan. Such a run may have been
// started by a scheduler, with no console and no one to see a box: the log is
// where its failures can be read later. Other runs show their failures in the
// window and log nothing.

#include <string>

#include "mail/ScanHost.h"

namespace qm {

class ConsoleLanguage;
class Failure;

void LogUnattendedStart();
void LogUnattendedFailure(const Failure& failure);
// The scan's summary line (frame/ScanSummaryText), as stdout shows it.
void LogUnattendedSummary(const ScanSummary& summary);
void LogUnattendedEnd(int exit_code, const ScanProgress& last_scan);

// The end's text: "unattended run ended with exit code 0: 12 of 40 messages
// examined, 3 files saved", in the console's language.
std::string UnattendedEndText(int exit_code, const ScanProgress& last_scan,
                              const ConsoleLanguage& language);

}  // namespace qm
