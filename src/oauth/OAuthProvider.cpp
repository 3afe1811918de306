#include "oauth/OAuthProvider.h"

#include <algorithm>
#include <cctype>

namespace qm {
namespace {

constexpr char kGoogleName[] = "gmail";
constexpr char kMicrosoftName[] = "microsoft";

std::string Lower(std::string_view text) {
  std::string lower(text);
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return lower;
}

OAuthEndpoints MicrosoftEndpoints(const std::string& tenant) {
  const std::string base = "https://login.microsoftonline.com/" +
                           (tenant.empty() ? std::string("common") : tenant) + "/oauth2/v2.0/";
  return {base + "authorize", base + "token", base + "devicecode",
          "https://outlook.office.com/IMAP.AccessAsUser.All offline_access"};
}

}  // namespace

std::optional<OAuthProvider> ProviderNamed(std::string_view name) {
  const std::string lower = Lower(name);
  if (lower == kGoogleName) return OAuthProvider::kGoogle;
  if (lower == kMicrosoftName) return OAuthProvider::kMicrosoft;
  return std::nullopt;
}

OAuthEndpoints ProviderEndpoints(OAuthProvider provider, const std::string& tenant) {
  if (provider == OAuthProvider::kMicrosoft) return MicrosoftEndpoints(tenant);
  return {"https://accounts.google.com/o/oauth2/v2/auth", "https://oauth2.googleapis.com/token",
          "https://oauth2.googleapis.com/device/code", "https://mail.google.com/"};
}

ProviderServer ProviderImapServer(OAuthProvider provider) {
  return provider == OAuthProvider::kGoogle ? ProviderServer{"imap.gmail.com", 993}
                                            : ProviderServer{"outlook.office365.com", 993};
}

std::string MicrosoftGraphScope(bool shared_mailbox) {
  constexpr char kGraph[] = "https://graph.microsoft.com/";
  std::string scope = std::string(kGraph) + "Mail.ReadWrite ";
  if (shared_mailbox) scope += std::string(kGraph) + "Mail.ReadWrite.Shared ";
  return scope + "offline_access";
}

}  // namespace qm
