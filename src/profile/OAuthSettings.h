#pragma once
// The mail profile's values for a mailbox signed on to with OAuth 2.0, as
// text: the provider ("gmail", "microsoft"; empty for a password or a
// Maildir), the application registered with it, Microsoft's tenant, and
// endpoint addresses that replace the provider's own (for a private
// deployment, and for tests).

#include <string>

namespace qm {

inline constexpr char kMailProviderValue[] = "Provider";
inline constexpr char kMailClientIdValue[] = "ClientId";
inline constexpr char kMailClientSecretValue[] = "ClientSecret";
inline constexpr char kMailTenantValue[] = "Tenant";
inline constexpr char kMailAuthorizationEndpointValue[] = "AuthorizationEndpoint";
inline constexpr char kMailTokenEndpointValue[] = "TokenEndpoint";
inline constexpr char kMailDeviceEndpointValue[] = "DeviceEndpoint";

struct OAuthSettings {
  std::string provider{};
  std::string client_id{};
  // Google's desktop clients come with a "secret" that every copy of the
  // program holds: it is kept as a plain value, not in the keyring.
  std::string client_secret{};
  std::string tenant{};
  std::string authorization_endpoint{};
  std::string token_endpoint{};
  std::string device_endpoint{};
};

}  // namespace qm
