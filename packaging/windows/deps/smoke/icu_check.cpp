// ICU with its data DLL: the version, the Japanese collator really loaded
// (not the root fallback), and a search at secondary strength that finds
// half-width katakana and hiragana spellings but not a voiced variant.
#include "checks.h"

#include <unicode/coll.h>
#include <unicode/stsearch.h>
#include <unicode/tblcoll.h>
#include <unicode/uversion.h>

#include <memory>
#include <string>

namespace {
bool found(const icu::UnicodeString &pattern, const icu::UnicodeString &text,
           icu::RuleBasedCollator *collator)
{
    UErrorCode status = U_ZERO_ERROR;
    icu::StringSearch search(pattern, text, collator, nullptr, status);
    int32_t pos = U_SUCCESS(status) ? search.first(status) : USEARCH_DONE;
    return U_SUCCESS(status) && pos != USEARCH_DONE;
}
}

bool checkIcu()
{
    bool ok = report(std::string(U_ICU_VERSION) == "72.1", "icu",
                     "version " U_ICU_VERSION);

    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::Collator> collator(icu::Collator::createInstance(icu::Locale("ja"), status));
    if (U_FAILURE(status) || !collator)
        return report(false, "icu", u_errorName(status));
    std::string valid = collator->getLocale(ULOC_VALID_LOCALE, status).getName();
    ok &= report(valid == "ja", "icu", ("collator locale " + valid).c_str());
    collator->setStrength(icu::Collator::SECONDARY);
    auto *rules = dynamic_cast<icu::RuleBasedCollator *>(collator.get());
    if (!rules)
        return report(false, "icu", "the collator is not rule based");

    const icu::UnicodeString text = icu::UnicodeString::fromUTF8("インボイス請求書");
    bool halfWidth = found(icu::UnicodeString::fromUTF8("ｲﾝﾎﾞｲｽ"), text, rules);
    bool hiragana = found(icu::UnicodeString::fromUTF8("いんぼいす"), text, rules);
    bool voiced = found(icu::UnicodeString::fromUTF8("インボイズ"), text, rules);
    std::string detail = std::string("in インボイス請求書: ｲﾝﾎﾞｲｽ ") + (halfWidth ? "found" : "missed") +
                         ", いんぼいす " + (hiragana ? "found" : "missed") +
                         ", インボイズ " + (voiced ? "found" : "not found");
    return report(ok && halfWidth && hiragana && !voiced, "icu", detail.c_str());
}
