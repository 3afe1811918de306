#pragma once
// The program's texts in Japanese: its own messages (translations/*.ts,
// compiled into the program) and Qt's standard texts, such as the buttons of
// message boxes and file dialogs, from the system's Qt translations.

#include <QTranslator>

namespace qm {

// Loads the program's own Japanese messages into `translator`.
bool LoadProgramJapanese(QTranslator& translator);

// The Japanese texts installed in the application for as long as this object
// lives: the windows speak Japanese whatever the locale. A QCoreApplication
// must exist.
class JapaneseWindowTexts {
 public:
  JapaneseWindowTexts();
  ~JapaneseWindowTexts();
  JapaneseWindowTexts(const JapaneseWindowTexts&) = delete;
  JapaneseWindowTexts& operator=(const JapaneseWindowTexts&) = delete;

 private:
  QTranslator program_;
  QTranslator qt_;
};

}  // namespace qm
