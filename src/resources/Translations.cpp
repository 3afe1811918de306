#include "resources/Translations.h"

#include <QCoreApplication>
#include <QLibraryInfo>

// The compiled messages sit in a static library, registered explicitly as the
// icon is, outside any namespace.
static void RegisterTranslationResources() { Q_INIT_RESOURCE(quillmar_translations); }

namespace qm {

bool LoadProgramJapanese(QTranslator& translator) {
  RegisterTranslationResources();
  return translator.load(QStringLiteral(":/i18n/quillmar_ja.qm"));
}

// Qt's texts are optional: without the system's file the buttons stay English.
JapaneseWindowTexts::JapaneseWindowTexts() {
  if (qt_.load(QStringLiteral("qtbase_ja"), QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
    QCoreApplication::installTranslator(&qt_);
  }
  if (LoadProgramJapanese(program_)) QCoreApplication::installTranslator(&program_);
}

JapaneseWindowTexts::~JapaneseWindowTexts() {
  QCoreApplication::removeTranslator(&program_);
  QCoreApplication::removeTranslator(&qt_);
}

}  // namespace qm
