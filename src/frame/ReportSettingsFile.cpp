#include "frame/ReportSettingsFile.h"

#include <QCoreApplication>
#include <QMessageBox>
#include <QString>
#include <cstdio>
#include <memory>

#include "frame/ConsoleLanguage.h"
#include "secrets/FileSecretStore.h"
#include "settings/ConfigLocation.h"
#include "settings/RegFileStorage.h"
#include "settings/Registry.h"

namespace qm {
namespace {

constexpr char kContext[] = "qm::ReportSettingsFile";

const char* SourceOf(SettingsFileNote note) {
  switch (note) {
    case SettingsFileNote::kNotRegular:
      return QT_TRANSLATE_NOOP("qm::ReportSettingsFile",
                               "The settings file %1 is not a regular file, so it was neither "
                               "read nor written. Replace it with a regular file.");
    case SettingsFileNote::kMadePrivate:
      return QT_TRANSLATE_NOOP("qm::ReportSettingsFile",
                               "The settings file %1 holds a password and could be read by other "
                               "users. It is now readable by you only.");
    case SettingsFileNote::kStillShared:
      return QT_TRANSLATE_NOOP("qm::ReportSettingsFile",
                               "The settings file %1 holds a password and can be read by other "
                               "users, and its permissions could not be changed. Make it readable "
                               "by you only (chmod 600).");
    case SettingsFileNote::kNone:
      break;
  }
  return nullptr;
}

// A path on one line.
QString OneLine(const std::filesystem::path& file) {
  std::string path = file.string();
  for (char& c : path) {
    if (c == '\n' || c == '\r') c = ' ';
  }
  return QString::fromStdString(path);
}

}  // namespace

SettingsFileNote CheckSettingsFile(const std::filesystem::path& file, Registry& registry) {
  if (ReadWholeFile(file).state == FileState::NotRegular) return SettingsFileNote::kNotRegular;
  if (!FileHoldsSecret(registry)) return SettingsFileNote::kNone;
  switch (MakePrivate(file)) {
    case PrivacyChange::AlreadyPrivate:
      return SettingsFileNote::kNone;
    case PrivacyChange::MadePrivate:
      return SettingsFileNote::kMadePrivate;
    case PrivacyChange::Failed:
      break;
  }
  return SettingsFileNote::kStillShared;
}

std::string SettingsFileLine(SettingsFileNote note, const std::filesystem::path& file,
                             const ConsoleLanguage& language) {
  const char* source = SourceOf(note);
  if (source == nullptr) return {};
  return "quillmar: " + language.Translate(kContext, source).arg(OneLine(file)).toStdString();
}

void ReportSettingsFile(bool show_box) {
  const std::filesystem::path file = SettingsFilePath();
  const SettingsFileNote note = CheckSettingsFile(file, *OpenPlatformRegistry());
  if (note == SettingsFileNote::kNone) return;
  const ConsoleLanguage language(ConsoleLanguage::EnvironmentIsJapanese());
  std::fprintf(stderr, "%s\n", SettingsFileLine(note, file, language).c_str());
  std::fflush(stderr);
  if (!show_box) return;
  const QString text = QCoreApplication::translate(kContext, SourceOf(note)).arg(OneLine(file));
  QMessageBox::warning(nullptr, QStringLiteral("Quillmar"), text);
}

}  // namespace qm
