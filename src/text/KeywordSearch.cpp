#include "text/KeywordSearch.h"

#include <unicode/coll.h>
#include <unicode/locid.h>
#include <unicode/stsearch.h>
#include <unicode/tblcoll.h>
#include <unicode/unistr.h>

#include <clocale>
#include <optional>
#include <string>

#include "base/EnvironmentVariable.h"
#include "base/Failure.h"

namespace qm {
namespace {

// The user's collation locale, from the environment as setlocale() reads it.
// The C and POSIX locales carry no language; ICU would pick en_US_POSIX, whose
// collation orders by code point and so would make case count. Use root.
icu::Locale UserCollationLocale() {
  std::optional<std::string> name;
  for (const char* var : {"LC_ALL", "LC_COLLATE", "LANG"}) {
    if ((name = NonEmptyVariable(var))) break;
  }
  std::string locale = name.value_or("");
  locale = locale.substr(0, locale.find_first_of(".@"));
  if (locale.empty() || locale == "C" || locale == "POSIX") return icu::Locale::getRoot();
  return icu::Locale::createCanonical(locale.c_str());
}

icu::UnicodeString FromUtf8(std::string_view text) {
  return icu::UnicodeString::fromUTF8(
      icu::StringPiece(text.data(), static_cast<int32_t>(text.size())));
}

}  // namespace

struct KeywordSearch::Icu {
  std::unique_ptr<icu::Collator> collator;
  icu::UnicodeString keyword;
  std::unique_ptr<icu::StringSearch> search;  // made on first use, then reused
};

KeywordSearch::KeywordSearch(std::string_view keyword)
    : icu_(std::make_unique<Icu>()), empty_(keyword.empty()) {
  icu_->keyword = FromUtf8(keyword);
  std::unique_ptr<icu::Collator>& collator = icu_->collator;
  UErrorCode status = U_ZERO_ERROR;
  collator.reset(icu::Collator::createInstance(UserCollationLocale(), status));
  if (U_FAILURE(status) || collator == nullptr) {
    status = U_ZERO_ERROR;
    collator.reset(icu::Collator::createInstance(icu::Locale::getRoot(), status));
  }
  if (U_FAILURE(status) || collator == nullptr) {
    throw Failure(FailureKind::Internal, Cause::kInternal,
                  "text comparison unavailable (ICU collator)");
  }
  collator->setStrength(icu::Collator::SECONDARY);
  collator->setAttribute(UCOL_NORMALIZATION_MODE, UCOL_ON, status);
}

KeywordSearch::~KeywordSearch() = default;

bool KeywordSearch::KeywordEquals(std::string_view text) const {
  return icu_->collator->compare(icu_->keyword, FromUtf8(text)) == icu::Collator::EQUAL;
}

bool KeywordSearch::FoundIn(std::string_view text) const {
  if (empty_) return true;
  if (text.empty()) return false;
  const icu::UnicodeString haystack = FromUtf8(text);
  UErrorCode status = U_ZERO_ERROR;
  std::unique_ptr<icu::StringSearch>& search = icu_->search;
  if (search == nullptr) {
    // The collator is shared; StringSearch keeps a pointer to it.
    auto* rules = dynamic_cast<icu::RuleBasedCollator*>(icu_->collator.get());
    if (rules == nullptr)
      throw Failure(FailureKind::Internal, Cause::kInternal, "text search unavailable");
    search = std::make_unique<icu::StringSearch>(icu_->keyword, haystack, rules, nullptr, status);
  } else {
    search->setText(haystack, status);
  }
  if (U_FAILURE(status)) {
    search.reset();
    throw Failure(FailureKind::Internal, Cause::kInternal, "text search failed (ICU)");
  }
  return search->first(status) != USEARCH_DONE && U_SUCCESS(status);
}

}  // namespace qm
