#pragma once
// What a sign-in gives: an access token valid until a moment, and the refresh
// token that gets the next one. Both are secrets: they are wiped when the set
// goes, and never part of a message.

#include <chrono>
#include <optional>
#include <string>

namespace qm {

using WallClock = std::chrono::system_clock;

struct TokenSet {
  std::string access_token;
  std::string refresh_token;  // empty when the answer brought none
  WallClock::time_point expires_at;

  TokenSet() = default;
  TokenSet(const TokenSet&) = default;
  TokenSet(TokenSet&&) = default;
  TokenSet& operator=(const TokenSet&) = default;
  TokenSet& operator=(TokenSet&&) = default;
  ~TokenSet();
};

// An access token with its expiry, as the secret store keeps it:
// "<seconds since 1970> <token>".
struct KeptAccessToken {
  std::string token;
  WallClock::time_point expires_at;

  ~KeptAccessToken();
};

std::string KeepableAccessToken(const TokenSet& tokens);
// Nothing when `kept` is not of that form (an older or damaged entry).
std::optional<KeptAccessToken> ParseKeptAccessToken(const std::string& kept);

// True when the token stays valid for at least `margin` after `now`.
bool ValidFor(WallClock::time_point expires_at, std::chrono::seconds margin,
              WallClock::time_point now = WallClock::now());

}  // namespace qm
