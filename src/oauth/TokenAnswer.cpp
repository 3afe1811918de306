#include "oauth/TokenAnswer.h"

#include <algorithm>
#include <cctype>
#include <limits>
#include <nlohmann/json.hpp>

namespace qm {
namespace {

using Json = nlohmann::json;

constexpr std::size_t kLongestWords = 300;
constexpr long long kDefaultLifetime = 3600;         // seconds, when the answer names none
constexpr long long kLongestLifetime = 366 * 86400;  // longer is nonsense

Failure Nonsense(const std::string& what) {
  return Failure(FailureKind::SignOn, Cause::kLoginRefused,
                 "the sign-in server sent an answer that cannot be used: " + what);
}

Json ParsedObject(const HttpAnswer& answer) {
  Json parsed = Json::parse(answer.body, nullptr, false);
  if (parsed.is_discarded() || !parsed.is_object()) {
    throw Nonsense("not a JSON object (HTTP status " + std::to_string(answer.status) + ")");
  }
  return parsed;
}

std::string TextMember(const Json& object, const char* name) {
  const auto found = object.find(name);
  if (found == object.end() || !found->is_string()) return "";
  return found->get<std::string>();
}

bool SameNoCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

// Seconds from a number or a numeric string (some servers send one).
std::optional<long long> Seconds(const Json& value) {
  if (value.is_number_integer()) return value.get<long long>();
  if (value.is_number_float()) {
    const double seconds = value.get<double>();
    if (!(seconds >= 0 && seconds < static_cast<double>(kLongestLifetime))) return std::nullopt;
    return static_cast<long long>(seconds);
  }
  if (!value.is_string()) return std::nullopt;
  const std::string text = value.get<std::string>();
  if (text.empty() || text.size() > 12 ||
      !std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isdigit(c); })) {
    return std::nullopt;
  }
  return std::stoll(text);
}

long long Lifetime(const Json& object) {
  const auto found = object.find("expires_in");
  if (found == object.end()) return kDefaultLifetime;
  const std::optional<long long> seconds = Seconds(*found);
  if (!seconds || *seconds < 0 || *seconds > kLongestLifetime) throw Nonsense("its expiry");
  return *seconds;
}

bool UsableToken(const std::string& token) {
  return std::all_of(token.begin(), token.end(),
                     [](unsigned char c) { return c > 0x20 && c < 0x7f; });
}

// Printable and short: a server's words go into a message the user reads.
std::string Shown(const std::string& words) {
  std::string shown;
  for (const char c : words.substr(0, kLongestWords)) {
    shown += std::iscntrl(static_cast<unsigned char>(c)) ? ' ' : c;
  }
  return shown;
}

}  // namespace

std::optional<OAuthError> ErrorOfAnswer(const HttpAnswer& answer) {
  const Json object = ParsedObject(answer);
  const auto error = object.find("error");
  if (error == object.end()) return std::nullopt;
  OAuthError found{error->is_string() ? error->get<std::string>() : std::string("unknown"),
                   TextMember(object, "error_description")};
  return found;
}

TokenSet TokensOfAnswer(const HttpAnswer& answer, WallClock::time_point now) {
  Json object = ParsedObject(answer);
  TokenSet tokens;
  tokens.access_token = TextMember(object, "access_token");
  tokens.refresh_token = TextMember(object, "refresh_token");
  // The parsed copy of the tokens goes at once.
  for (const char* name : {"access_token", "refresh_token", "id_token"}) object.erase(name);
  if (tokens.access_token.empty() || !UsableToken(tokens.access_token)) {
    throw Nonsense("no usable access token");
  }
  if (!UsableToken(tokens.refresh_token)) throw Nonsense("an unusable refresh token");
  const std::string type = TextMember(object, "token_type");
  if (object.contains("token_type") && !SameNoCase(type, "bearer")) {
    throw Nonsense("a token type other than Bearer");
  }
  tokens.expires_at = now + std::chrono::seconds(Lifetime(object));
  return tokens;
}

bool IsConsentRefusal(const OAuthError& error) {
  // Microsoft's codes: AADSTS65001 (no one consented), AADSTS65004 (the user
  // declined), AADSTS90094 and AADSTS90008 (an administrator must consent).
  constexpr std::string_view kConsentCodes[] = {"AADSTS65001", "AADSTS65004", "AADSTS90094",
                                                "AADSTS90008"};
  if (error.code == "consent_required") return true;
  for (const std::string_view code : kConsentCodes) {
    if (error.description.find(code) != std::string::npos) return true;
  }
  return false;
}

Failure RefusalFailure(Cause cause, const std::string& what, const OAuthError& error) {
  std::string text = what + ": " + Shown(error.code);
  if (!error.description.empty()) text += " (" + Shown(error.description) + ")";
  return Failure(FailureKind::SignOn, IsConsentRefusal(error) ? Cause::kAccessNotGranted : cause,
                 text);
}

}  // namespace qm
