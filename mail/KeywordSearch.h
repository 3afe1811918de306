#pragma once
// The text comparison of the keyword test: locale-aware, ignoring letter case,
// full-width versus half-width forms and hiragana versus katakana, while
// accents still count. ICU collation at secondary strength does exactly that.

#include <memory>
#include <string>
#include <string_view>

#include <unicode/uversion.h>

// ICU's namespace is versioned ("icu" is an alias): declare inside the real one.
U_NAMESPACE_BEGIN
class Collator;
class StringSearch;
class UnicodeString;
U_NAMESPACE_END

namespace qm {

class KeywordSearch {
 public:
  // `keyword` is UTF-8. The collator follows the user's locale (LC_ALL,
  // LC_COLLATE, LANG); the C and POSIX locales use the root collation.
  explicit KeywordSearch(std::string_view keyword);
  ~KeywordSearch();
  KeywordSearch(const KeywordSearch&) = delete;
  KeywordSearch& operator=(const KeywordSearch&) = delete;

  // The keyword compares equal to `text` (e.g. "*"; a full-width "＊" too).
  bool KeywordEquals(std::string_view text) const;
  bool KeywordIsEmpty() const { return empty_; }
  // The keyword occurs in `text`; an empty keyword occurs in every text.
  bool FoundIn(std::string_view text) const;

 private:
  std::unique_ptr<icu::Collator> collator_;
  std::unique_ptr<icu::UnicodeString> keyword_;
  mutable std::unique_ptr<icu::StringSearch> search_;
  bool empty_ = true;
};

}  // namespace qm
