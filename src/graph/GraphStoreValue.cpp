#include "graph/GraphStoreValue.h"

#include <algorithm>
#include <cctype>

#include "base/Failure.h"

namespace qm {
namespace {

constexpr std::size_t kMaxAddressBytes = 320;  // 64 for the local part, 255 for the domain, '@'

bool IsAddressCharacter(unsigned char c) {
  return c > 0x20 && c != 0x7f &&
         std::string_view("/\\?#%").find(static_cast<char>(c)) == std::string_view::npos;
}

}  // namespace

bool IsGraphStoreValue(std::string_view store) {
  return store.size() >= kGraphScheme.size() &&
         std::equal(kGraphScheme.begin(), kGraphScheme.end(), store.begin(), [](char a, char b) {
           return a == std::tolower(static_cast<unsigned char>(b));
         });
}

std::string GraphMailboxOf(std::string_view store) {
  const std::string_view address = store.substr(kGraphScheme.size());
  if (address.empty()) return "";
  const bool usable =
      address.size() <= kMaxAddressBytes && address.find('@') != std::string_view::npos &&
      std::all_of(address.begin(), address.end(),
                  [](char c) { return IsAddressCharacter(static_cast<unsigned char>(c)); });
  if (!usable) {
    throw Failure(FailureKind::SignOn, Cause::kNoMailbox,
                  "the mail profile value \"Store\" (\"" + std::string(store.substr(0, 400)) +
                      "\") does not name a mailbox address after \"graph:\"");
  }
  return std::string(address);
}

std::string GraphStoreValue(std::string_view address) {
  return std::string(kGraphScheme) + std::string(address);
}

}  // namespace qm
