#include "frame/ConsoleLanguage.h"

#include <stdlib.h>

#include "resources/Translations.h"

namespace qm {
namespace {

std::optional<std::string> SetVariable(const char* name) {
  const char* value = ::getenv(name);
  if (value == nullptr || *value == '\0') return std::nullopt;
  return std::string(value);
}

// "ja", or "ja" followed by a territory, codeset or modifier.
bool IsJapaneseLocaleName(const std::string& name) {
  if (!name.starts_with("ja")) return false;
  return name.size() == 2 || name[2] == '_' || name[2] == '.' || name[2] == '@';
}

}  // namespace

LocaleVariables ReadLocaleVariables() {
  return {SetVariable("LC_ALL"), SetVariable("LC_MESSAGES"), SetVariable("LANG")};
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
