#pragma once
// The registry key of the mail profile and the names of its secret values,
// shared by the profile (mail/MailProfile.h) and the file secret store.

namespace qm {

inline constexpr char kMailProfileKey[] = "SOFTWARE\\Vantrel\\Quillmar\\Mail";
inline constexpr char kMailPasswordValue[] = "Password";
inline constexpr char kMailRefreshTokenValue[] = "RefreshToken";
inline constexpr char kMailAccessTokenValue[] = "AccessToken";

}  // namespace qm
