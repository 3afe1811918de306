#include "frame/UnattendedRunLog.h"

#include <QCoreApplication>
#include <QString>
#include <exception>

#include "base/RunLog.h"
#include "frame/ConsoleLanguage.h"
#include "frame/ReportFailure.h"
#include "frame/ScanSummaryText.h"
#include "settings/RunLogLocation.h"
#include "settings/Settings.h"

namespace qm {
namespace {

constexpr char kContext[] = "qm::UnattendedRunLog";
const char* const kStarted =
    QT_TRANSLATE_NOOP("qm::UnattendedRunLog", "unattended run started (-a)");
const char* const kEnded = QT_TRANSLATE_NOOP(
    "qm::UnattendedRunLog",
    "unattended run ended with exit code %1: %2 of %3 messages examined, %4 files saved");

// Adds the line `text_of` gives in the console's language, in an
// unattended run only. Nothing here may end the run: whatever goes wrong
// only costs the line.
template <typename TextOf>
void Log(TextOf text_of) noexcept {
  if (!Settings.AutoRun) return;
  try {
    const ConsoleLanguage language(ConsoleLanguage::EnvironmentIsJapanese());
    RunLog(RunLogPath()).Append(text_of(language));
  } catch (const std::exception&) {
  }
}

}  // namespace

void LogUnattendedStart() {
  Log([](const ConsoleLanguage& language) {
    return language.Translate(kContext, kStarted).toStdString();
  });
}

void LogUnattendedFailure(const Failure& failure) {
  Log([&](const ConsoleLanguage& language) { return FailureLine(failure, language); });
}

void LogUnattendedSummary(const ScanSummary& summary) {
  Log([&](const ConsoleLanguage& language) { return ConsoleSummaryLine(summary, language); });
}

void LogUnattendedEnd(int exit_code, const ScanProgress& last_scan) {
  Log([&](const ConsoleLanguage& language) {
    return UnattendedEndText(exit_code, last_scan, language);
  });
}

std::string UnattendedEndText(int exit_code, const ScanProgress& last_scan,
                              const ConsoleLanguage& language) {
  return language.Translate(kContext, kEnded)
      .arg(exit_code)
      .arg(last_scan.examined)
      .arg(last_scan.total)
      .arg(last_scan.saved)
      .toStdString();
}

}  // namespace qm
