#include "frame/ConsoleLanguage.h"

#include "base/EnvironmentVariable.h"
#include "resources/Translations.h"

namespace qm {
namespace {

// "ja", or "ja" followed by a territory, codeset or modifier.
bool IsJapaneseLocaleName(const std::string& name) {
  if (!name.starts_with("ja")) return false;
  return name.size() == 2 || name[2] == '_' || name[2] == '.' || name[2] == '@';
}

}  // namespace

LocaleVariables ReadLocaleVariables() {
  return {NonEmptyVariable("LC_ALL"), NonEmptyVariable("LC_MESSAGES"), NonEmptyVariable("LANG")};
}

bool MessagesAreJapanese(const LocaleVariables& locale) {
  for (const std::optional<std::string>& value : {locale.lc_all, locale.lc_messages, locale.lang}) {
    if (value) return IsJapaneseLocaleName(*value);
  }
  return false;
}

ConsoleLanguage::ConsoleLanguage(bool japanese) : japanese_(japanese) {
  if (japanese_) LoadProgramJapanese(translator_);
}

bool ConsoleLanguage::EnvironmentIsJapanese() { return MessagesAreJapanese(ReadLocaleVariables()); }

QString ConsoleLanguage::Translate(const char* context, const char* source) const {
  if (japanese_) {
    const QString translated = translator_.translate(context, source);
    if (!translated.isEmpty()) return translated;
  }
  return QString::fromUtf8(source);
}

}  // namespace qm
