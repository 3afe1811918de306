#pragma once
// A run with -a that ends by itself after the scan (自動終了) has no window
// anyone sees: what the scan did goes to stdout as one line, in the console's
// language (cron mails it, a script or a log reads it), and into the run log.

#include "mail/ScanSummary.h"

namespace qm {

// True when the program was started with -a and ends after the scan.
bool SummaryGoesToConsole();

// Prints the summary line to stdout and logs it, when SummaryGoesToConsole.
void ReportUnattendedSummary(const ScanSummary& summary);

}  // namespace qm
