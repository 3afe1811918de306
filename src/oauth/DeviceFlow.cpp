#include "oauth/DeviceFlow.h"

#include <algorithm>
#include <nlohmann/json.hpp>

#include "base/Cancellation.h"
#include "base/Failure.h"
#include "base/SocketWait.h"
#include "base/WipeSecret.h"
#include "oauth/HttpPost.h"
#include "oauth/TokenAnswer.h"
#include "oauth/TokenRefresh.h"

namespace qm {
namespace {

using Json = nlohmann::json;

constexpr char kDeviceGrant[] = "urn:ietf:params:oauth:grant-type:device_code";
constexpr std::chrono::seconds kSlowDownStep{5};
constexpr std::chrono::seconds kLongestInterval{60};
constexpr std::chrono::seconds kLongestLifetime{3600};

Failure Refused(const std::string& why) {
  return Failure(FailureKind::SignOn, Cause::kLoginRefused,
                 "the sign-in with a code failed: " + why);
}

std::string Text(const Json& object, const char* name) {
  const auto found = object.find(name);
  return found != object.end() && found->is_string() ? found->get<std::string>() : "";
}

std::chrono::seconds Seconds(const Json& object, const char* name, std::chrono::seconds fallback,
                             std::chrono::seconds longest) {
  const auto found = object.find(name);
  if (found == object.end() || !found->is_number_integer()) return fallback;
  const long long seconds = found->get<long long>();
  if (seconds < 1) return fallback;
  return std::min(std::chrono::seconds(seconds), longest);
}

bool Printable(const std::string& text) {
  return !text.empty() && std::all_of(text.begin(), text.end(),
                                      [](unsigned char c) { return c >= 0x20 && c < 0x7f; });
}

}  // namespace

DeviceCode::~DeviceCode() { WipeSecret(device_code); }

DeviceCode StartDeviceAuthorization(const OAuthEndpoints& endpoints, const OAuthClient& client,
                                    const Cancellation* cancel) {
  FormFields fields = {{"scope", endpoints.scope}};
  AddClientFields(client, fields);
  const HttpAnswer answer = PostForm(endpoints.device, fields, cancel);
  if (const std::optional<OAuthError> error = ErrorOfAnswer(answer)) {
    throw RefusalFailure(Cause::kLoginRefused, "the provider gave no sign-in code", *error);
  }
  Json object = Json::parse(answer.body, nullptr, false);
  DeviceCode code;
  code.device_code = Text(object, "device_code");
  code.user_code = Text(object, "user_code");
  // Google names the address "verification_url".
  code.verification_uri = Text(object, "verification_uri");
  if (code.verification_uri.empty()) code.verification_uri = Text(object, "verification_url");
  code.expires_in = Seconds(object, "expires_in", std::chrono::seconds(600), kLongestLifetime);
  code.interval = Seconds(object, "interval", std::chrono::seconds(5), kLongestInterval);
  object.erase("device_code");
  if (!Printable(code.device_code) || !Printable(code.user_code) ||
      !Printable(code.verification_uri) || !code.verification_uri.starts_with("http")) {
    throw Refused("the provider's answer has no usable code or address");
  }
  return code;
}

PollWait CancellableWait(const Cancellation* cancel) {
  return [cancel](std::chrono::seconds interval) {
    // A wait on no socket: a sleep that the cancellation cuts short.
    const SocketWaitResult result = WaitForSockets({}, interval, cancel);
    if (result.end == SocketWaitResult::End::kCancelled) {
      throw CancelledWhile("waiting for the sign-in with a code");
    }
  };
}

TokenSet WaitForDeviceSignIn(const OAuthEndpoints& endpoints, const OAuthClient& client,
                             const DeviceCode& code, const PollWait& wait,
                             const Cancellation* cancel) {
  std::chrono::seconds interval = code.interval;
  std::chrono::seconds waited{0};
  for (;;) {
    if (waited >= code.expires_in) throw Refused("the code expired before the sign-in");
    wait(interval);
    waited += interval;
    FormFields fields = {{"grant_type", kDeviceGrant}, {"device_code", code.device_code}};
    AddClientFields(client, fields);
    const HttpAnswer answer = PostForm(endpoints.token, fields, cancel);
    for (auto& field : fields) WipeSecret(field.second);
    const std::optional<OAuthError> error = ErrorOfAnswer(answer);
    if (!error) return TokensOfAnswer(answer);
    if (error->code == "authorization_pending") continue;
    if (error->code == "slow_down") {
      interval = std::min(interval + kSlowDownStep, kLongestInterval);
      continue;
    }
    if (error->code == "expired_token") throw Refused("the code expired before the sign-in");
    if (error->code == "access_denied") throw Refused("the sign-in was refused");
    throw RefusalFailure(Cause::kLoginRefused, "the sign-in with a code failed", *error);
  }
}

}  // namespace qm
