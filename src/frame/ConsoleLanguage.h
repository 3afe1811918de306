#pragma once
// The language of what the program prints on stderr: Japanese under a
// Japanese locale, English otherwise. The windows always speak Japanese;
// the terminal follows the user's locale, as other programs there do.

#include <QString>
#include <QTranslator>
#include <optional>
#include <string>

namespace qm {

struct LocaleVariables {
  std::optional<std::string> lc_all;       // LC_ALL
  std::optional<std::string> lc_messages;  // LC_MESSAGES
  std::optional<std::string> lang;         // LANG
};

LocaleVariables ReadLocaleVariables();

// The first of LC_ALL, LC_MESSAGES and LANG that is set and not empty
// decides; "ja", "ja_JP", "ja_JP.UTF-8" and the like are Japanese. Decided
// from the names alone: the locale need not be installed.
bool MessagesAreJapanese(const LocaleVariables& locale);

// Texts of the program in the console's language.
class ConsoleLanguage {
 public:
  explicit ConsoleLanguage(bool japanese);
  ConsoleLanguage(const ConsoleLanguage&) = delete;
  ConsoleLanguage& operator=(const ConsoleLanguage&) = delete;

  // From the process's locale variables.
  static bool EnvironmentIsJapanese();

  bool japanese() const { return japanese_; }
  // `source` (an English text marked for translation in `context`), in the
  // console's language.
  QString Translate(const char* context, const char* source) const;

 private:
  QTranslator translator_;
  bool japanese_;
};

}  // namespace qm
