#include "mail/KeywordSearch.h"

#include <unicode/coll.h>
#include <unicode/locid.h>
#include <unicode/stsearch.h>
#include <unicode/tblcoll.h>
#include <unicode/unistr.h>

#include <clocale>
#include <cstdlib>
#include <string>

#include "frame/Failure.h"

namespace qm {
namespace {

// The user's collation locale, from the environment as setlocale() reads it.
// The C and POSIX locales carry no language; ICU would pick en_US_POSIX, whose
// collation orders by code point and so would make case count. Use root.
icu::Locale UserCollationLocale() {
  const char* name = nullptr;
  for (const char* var : {"LC_ALL", "LC_COLLATE", "LANG"}) {
    const char* value = std::getenv(var);
    if (value != nullptr && *value != '\0') {
      name = value;
      break;
    }
  }
  std::string locale = name != nullptr ? name : "";
  locale = locale.substr(0, locale.find_first_of(".@"));
  if (locale.empty() || locale == "C" || locale == "POSIX") return icu::Locale::getRoot();
  return icu::Locale::createCanonical(locale.c_str());
}

icu::UnicodeString FromUtf8(std::string_view text) {
  return icu::UnicodeString::fromUTF8(
      icu::StringPiece(text.data(), static_cast<int32_t>(text.size())));
}

}  // namespace

KeywordSearch::KeywordSearch(std::string_view keyword)
    : keyword_(std::make_unique<icu::UnicodeString>(FromUtf8(keyword))), empty_(keyword.empty()) {
  UErrorCode status = U_ZERO_ERROR;
  collator_.reset(icu::Collator::createInstance(UserCollationLocale(), status));
  if (U_FAILURE(status) || collator_ == nullptr) {
    status = U_ZERO_ERROR;
    collator_.reset(icu::Collator::createInstance(icu::Locale::getRoot(), status));
  }
  if (U_FAILURE(status) || collator_ == nullptr) {
    throw Failure(FailureKind::Internal, errnum::kInternal,
                  "text comparison unavailable (ICU collator)");
  }
  collator_->setStrength(icu::Collator::SECONDARY);
  collator_->setAttribute(UCOL_NORMALIZATION_MODE, UCOL_ON, status);
}

KeywordSearch::~KeywordSearch() = default;

bool KeywordSearch::KeywordEquals(std::string_view text) const {
  return collator_->compare(*keyword_, FromUtf8(text)) == icu::Collator::EQUAL;
}

bool KeywordSearch::FoundIn(std::string_view text) const {
  if (empty_) return true;
  if (text.empty()) return false;
  const icu::UnicodeString haystack = FromUtf8(text);
  UErrorCode status = U_ZERO_ERROR;
  if (search_ == nullptr) {
    // The collator is shared; StringSearch keeps a pointer to it.
    auto* rules = dynamic_cast<icu::RuleBasedCollator*>(collator_.get());
    if (rules == nullptr)
      throw Failure(FailureKind::Internal, errnum::kInternal, "text search unavailable");
    search_ = std::make_unique<icu::StringSearch>(*keyword_, haystack, rules, nullptr, status);
  } else {
    search_->setText(haystack, status);
  }
  if (U_FAILURE(status)) {
    search_.reset();
    throw Failure(FailureKind::Internal, errnum::kInternal, "text search failed (ICU)");
  }
  return search_->first(status) != USEARCH_DONE && U_SUCCESS(status);
}

}  // namespace qm
