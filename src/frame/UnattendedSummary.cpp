#include "frame/UnattendedSummary.h"

#include <cstdio>
#include <string>

#include "frame/ConsoleLanguage.h"
#include "frame/ScanSummaryText.h"
#include "frame/UnattendedRunLog.h"
#include "mail/RunScan.h"
#include "settings/Settings.h"

namespace qm {

bool SummaryGoesToConsole() { return Settings.AutoRun && ScanEndsProgram(); }

// Flushed at once: the program ends right after the scan.
void ReportUnattendedSummary(const ScanSummary& summary) {
  if (!SummaryGoesToConsole()) return;
  const ConsoleLanguage language(ConsoleLanguage::EnvironmentIsJapanese());
  const std::string line = ConsoleSummaryLine(summary, language);
  std::fprintf(stdout, "%s\n", line.c_str());
  std::fflush(stdout);
  LogUnattendedSummary(summary);
}

}  // namespace qm
