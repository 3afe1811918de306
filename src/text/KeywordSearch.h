#pragma once
// The text comparison of the keyword test: locale-aware, ignoring letter case,
// full-width versus half-width forms and hiragana versus katakana, while
// accents still count. ICU collation at secondary strength does exactly that.

#include <memory>
#include <string>
#include <string_view>

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
  struct Icu;  // the collator, the keyword and the search, kept out of this header
  std::unique_ptr<Icu> icu_;
  bool empty_ = true;
};

}  // namespace qm
