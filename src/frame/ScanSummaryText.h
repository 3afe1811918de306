#pragma once
// The one line that tells what a scan did, "保存12件・展開2件・パスワード待ち1件":
// in the main window, and on stdout and in the run log after a run with -a
// that ends by itself. A count of zero is left out, except the files saved:
// "保存0件" still says that the scan ran and found nothing.

#include <QString>
#include <functional>
#include <string>

#include "mail/ScanSummary.h"

namespace qm {

class ConsoleLanguage;

// `translate` gives a source text of the line (context "qm::ScanSummaryText")
// in the language wanted.
using SummaryTranslation = std::function<QString(const char* source)>;

QString SummaryLine(const ScanSummary& summary, const SummaryTranslation& translate);

// In the window's language (the texts installed in the application).
QString WindowSummaryLine(const ScanSummary& summary);

// "quillmar: " and the line in the console's language, for stdout and the run log.
std::string ConsoleSummaryLine(const ScanSummary& summary, const ConsoleLanguage& language);

}  // namespace qm
