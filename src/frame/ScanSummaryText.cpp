#include "frame/ScanSummaryText.h"

#include <QCoreApplication>
#include <cstdint>

#include "frame/ConsoleLanguage.h"

namespace qm {
namespace {

constexpr char kContext[] = "qm::ScanSummaryText";
// Two parts of the line joined: a comma in English, a middle dot in Japanese.
const char* const kJoined = QT_TRANSLATE_NOOP("qm::ScanSummaryText", "%1, %2");

// One count of the line and its text; `always` keeps it when it is zero.
struct SummaryPart {
  std::int64_t count;
  const char* source;
  bool always;
};

}  // namespace

QString SummaryLine(const ScanSummary& summary, const SummaryTranslation& translate) {
  const SummaryPart parts[] = {
      {summary.files_saved, QT_TRANSLATE_NOOP("qm::ScanSummaryText", "files saved: %1"), true},
      {summary.archives_unpacked, QT_TRANSLATE_NOOP("qm::ScanSummaryText", "ZIP unpacked: %1"),
       false},
      {summary.archives_waiting,
       QT_TRANSLATE_NOOP("qm::ScanSummaryText", "ZIP waiting for a password: %1"), false},
      {summary.archives_kept, QT_TRANSLATE_NOOP("qm::ScanSummaryText", "ZIP left packed: %1"),
       false},
      {summary.messages_skipped,
       QT_TRANSLATE_NOOP("qm::ScanSummaryText", "messages left unread: %1"), false},
  };
  QString line;
  for (const SummaryPart& part : parts) {
    if (part.count == 0 && !part.always) continue;
    const QString shown = translate(part.source).arg(part.count);
    line = line.isEmpty() ? shown : translate(kJoined).arg(line, shown);
  }
  return line;
}

QString WindowSummaryLine(const ScanSummary& summary) {
  return SummaryLine(
      summary, [](const char* source) { return QCoreApplication::translate(kContext, source); });
}

std::string ConsoleSummaryLine(const ScanSummary& summary, const ConsoleLanguage& language) {
  const QString line = SummaryLine(
      summary, [&language](const char* source) { return language.Translate(kContext, source); });
  return "quillmar: " + line.toStdString();
}

}  // namespace qm
