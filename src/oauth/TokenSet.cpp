#include "oauth/TokenSet.h"

#include <cctype>
#include <charconv>

#include "base/WipeSecret.h"

namespace qm {

TokenSet::~TokenSet() {
  WipeSecret(access_token);
  WipeSecret(refresh_token);
}

KeptAccessToken::~KeptAccessToken() { WipeSecret(token); }

std::string KeepableAccessToken(const TokenSet& tokens) {
  const auto seconds =
      std::chrono::duration_cast<std::chrono::seconds>(tokens.expires_at.time_since_epoch());
  return std::to_string(seconds.count()) + " " + tokens.access_token;
}

std::optional<KeptAccessToken> ParseKeptAccessToken(const std::string& kept) {
  const std::size_t space = kept.find(' ');
  if (space == std::string::npos || space == 0 || space + 1 >= kept.size()) return std::nullopt;
  long long seconds = 0;
  const auto [end, error] = std::from_chars(kept.data(), kept.data() + space, seconds);
  if (error != std::errc() || end != kept.data() + space) return std::nullopt;
  KeptAccessToken parsed;
  parsed.token = kept.substr(space + 1);
  parsed.expires_at = WallClock::time_point(std::chrono::seconds(seconds));
  return parsed;
}

bool ValidFor(WallClock::time_point expires_at, std::chrono::seconds margin,
              WallClock::time_point now) {
  return expires_at > now + margin;
}

}  // namespace qm
