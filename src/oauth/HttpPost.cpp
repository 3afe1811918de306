#include "oauth/HttpPost.h"

#include <curl/curl.h>

#include <memory>

#include "base/Cancellation.h"
#include "base/CurlGlobal.h"
#include "base/Failure.h"
#include "base/WebAddress.h"
#include "base/WipeSecret.h"

namespace qm {
namespace {

constexpr std::size_t kLargestAnswer = 64 * 1024;
constexpr long kConnectSeconds = 20;
constexpr long kWholeSeconds = 60;

struct EasyCleanup {
  void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};
Failure BadAddress(const std::string& url) {
  return Failure(
      FailureKind::SignOn, Cause::kNoMailbox,
      "the sign-in address \"" + url + "\" is not an https address (plain http only on 127.0.0.1)");
}

// Collects the answer; a larger answer than any OAuth server sends ends the
// transfer.
std::size_t Collect(char* data, std::size_t size, std::size_t count, void* answer) {
  auto* body = static_cast<std::string*>(answer);
  const std::size_t bytes = size * count;
  if (body->size() + bytes > kLargestAnswer) return 0;
  body->append(data, bytes);
  return bytes;
}

int AbortWhenRequested(void* cancel, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
  return cancel != nullptr && static_cast<const Cancellation*>(cancel)->Requested() ? 1 : 0;
}

template <typename T>
void SetOption(CURL* handle, CURLoption option, T value) {
  if (curl_easy_setopt(handle, option, value) != CURLE_OK) {
    throw InternalFailure("libcurl refused a sign-in request option");
  }
}

void SetRequestOptions(CURL* handle, const std::string& url, const std::string& body,
                       HttpAnswer& answer, char* error, const Cancellation* cancel) {
  SetOption(handle, CURLOPT_URL, url.c_str());
  SetOption(handle, CURLOPT_PROTOCOLS_STR, "https,http");
  SetOption(handle, CURLOPT_FOLLOWLOCATION, 0L);
  SetOption(handle, CURLOPT_SSL_VERIFYPEER, 1L);
  SetOption(handle, CURLOPT_SSL_VERIFYHOST, 2L);
  SetOption(handle, CURLOPT_NOSIGNAL, 1L);
  SetOption(handle, CURLOPT_CONNECTTIMEOUT, kConnectSeconds);
  SetOption(handle, CURLOPT_TIMEOUT, kWholeSeconds);
  SetOption(handle, CURLOPT_NOPROXY, "127.0.0.1,localhost,::1");
  SetOption(handle, CURLOPT_POSTFIELDS, body.c_str());
  SetOption(handle, CURLOPT_POSTFIELDSIZE, static_cast<long>(body.size()));
  SetOption(handle, CURLOPT_WRITEFUNCTION, Collect);
  SetOption(handle, CURLOPT_WRITEDATA, &answer.body);
  SetOption(handle, CURLOPT_ERRORBUFFER, error);
  SetOption(handle, CURLOPT_NOPROGRESS, 0L);
  SetOption(handle, CURLOPT_XFERINFOFUNCTION, AbortWhenRequested);
  SetOption(handle, CURLOPT_XFERINFODATA, const_cast<Cancellation*>(cancel));
}

}  // namespace

HttpAnswer::~HttpAnswer() { WipeSecret(body); }

void CheckEndpointAddress(const std::string& url) {
  const std::optional<WebAddress> address = ParseWebAddress(url);
  if (!address || !IsAllowedWebAddress(*address)) throw BadAddress(url);
}

HttpAnswer PostForm(const std::string& url, const FormFields& fields, const Cancellation* cancel) {
  CheckEndpointAddress(url);
  InitCurlOnce();
  const std::unique_ptr<CURL, EasyCleanup> handle(curl_easy_init());
  if (!handle) throw InternalFailure("libcurl out of memory");
  std::string body = FormEncode(fields);
  HttpAnswer answer;
  char error[CURL_ERROR_SIZE] = "";
  SetRequestOptions(handle.get(), url, body, answer, error, cancel);
  const CURLcode result = curl_easy_perform(handle.get());
  WipeSecret(body);
  if (result == CURLE_ABORTED_BY_CALLBACK) throw CancelledWhile("signing in at " + url);
  if (result == CURLE_WRITE_ERROR) {
    throw Failure(FailureKind::SignOn, Cause::kLoginRefused,
                  "the sign-in server " + url + " sent an answer too large to be one");
  }
  if (result != CURLE_OK) {
    throw Failure(FailureKind::SignOn, Cause::kLoginRefused,
                  "cannot reach the sign-in server " + url + ": " +
                      (*error != '\0' ? error : curl_easy_strerror(result)));
  }
  curl_easy_getinfo(handle.get(), CURLINFO_RESPONSE_CODE, &answer.status);
  return answer;
}

}  // namespace qm
