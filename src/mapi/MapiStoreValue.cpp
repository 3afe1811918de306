#include "mapi/MapiStoreValue.h"

#include <algorithm>
#include <cctype>

#include "base/Failure.h"

namespace qm {
namespace {

// What Simple MAPI takes for a profile name.
constexpr std::size_t kMaxProfileBytes = 256;

}  // namespace

bool IsMapiStoreValue(std::string_view store) {
  return store.size() >= kMapiScheme.size() &&
         std::equal(kMapiScheme.begin(), kMapiScheme.end(), store.begin(), [](char a, char b) {
           return a == std::tolower(static_cast<unsigned char>(b));
         });
}

std::optional<std::string> MapiProfileOf(std::string_view store) {
  const std::string_view profile = store.substr(kMapiScheme.size());
  if (profile.empty()) return std::nullopt;
  const bool has_control = std::any_of(profile.begin(), profile.end(), [](char c) {
    return static_cast<unsigned char>(c) < 0x20 || c == 0x7f;
  });
  if (profile.size() > kMaxProfileBytes || has_control) {
    throw Failure(FailureKind::SignOn, Cause::kNoMailbox,
                  "the mail profile value \"Store\" names an Outlook profile that is longer than " +
                      std::to_string(kMaxProfileBytes) + " bytes or holds a control character");
  }
  return std::string(profile);
}

std::string MapiStoreValue(std::string_view profile) {
  return std::string(kMapiScheme) + std::string(profile);
}

}  // namespace qm
