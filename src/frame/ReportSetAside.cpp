#include "frame/ReportSetAside.h"

#include <QCoreApplication>
#include <QMessageBox>
#include <QString>
#include <cstdio>

#include "frame/ConsoleLanguage.h"
#include "frame/QtPlatform.h"

namespace qm {
namespace {

constexpr char kContext[] = "qm::ReportSetAside";
const char* const kSetAside = QT_TRANSLATE_NOOP(
    "qm::ReportSetAside",
    "The settings file could not be read. It was moved to %1 and a new one was written.");

}  // namespace

std::string SetAsideLine(const std::filesystem::path& moved_to, const ConsoleLanguage& language) {
  std::string path = moved_to.string();
  for (char& c : path) {
    if (c == '\n' || c == '\r') c = ' ';
  }
  if (!language.japanese()) {
    return "quillmar: the settings file could not be read; it was moved to " + path +
           " and a new one written";
  }
  return "quillmar: " +
         language.Translate(kContext, kSetAside).arg(QString::fromStdString(path)).toStdString();
}

void ReportSetAside(const std::filesystem::path& moved_to, bool show_box) {
  const ConsoleLanguage language(ConsoleLanguage::EnvironmentIsJapanese());
  std::fprintf(stderr, "%s\n", SetAsideLine(moved_to, language).c_str());
  std::fflush(stderr);
  if (!show_box) return;
  const QString text = QCoreApplication::translate(kContext, kSetAside)
                           .arg(QString::fromStdString(moved_to.string()));
  QMessageBox::warning(nullptr, QStringLiteral("Quillmar"), text);
}

std::unique_ptr<Registry> OpenReportingRegistry() {
  return OpenPlatformRegistry(
      [](const std::filesystem::path& moved_to) { ReportSetAside(moved_to, HasDisplay()); });
}

}  // namespace qm
