#include "graph/GraphTransfer.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>

#include "base/Failure.h"
#include "base/FileSystem.h"
#include "base/WebAddress.h"
#include "base/WipeSecret.h"
#include "base/WriteAll.h"

namespace qm {
namespace {

// An error answer is a short JSON text; more is not kept.
constexpr std::size_t kLargestErrorBody = 64 * 1024;
// Graph's header fields fit in a few KiB, with every interim answer's.
constexpr std::size_t kLargestHeaders = 256 * 1024;
constexpr char kUserAgent[] = "Quillmar";

// The request without its query: enough to tell which one failed.
std::string Described(const GraphRequest& request) {
  return request.method + " " + request.url.substr(0, request.url.find('?'));
}

// A message's bytes ($value) are no JSON; every other answer is.
bool AsksForJson(const std::string& url) {
  const std::string path = url.substr(0, url.find('?'));
  return !path.ends_with("/$value");
}

template <typename T>
void SetOption(CURL* handle, CURLoption option, T value) {
  if (curl_easy_setopt(handle, option, value) != CURLE_OK) {
    throw InternalFailure("libcurl refused a Microsoft Graph request option");
  }
}

bool IsTrustFault(CURLcode code) {
  switch (code) {
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_INVALIDCERTSTATUS:
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
      return true;
    default:
      return false;
  }
}

bool IsConnectFault(CURLcode code) {
  return code == CURLE_COULDNT_RESOLVE_HOST || code == CURLE_COULDNT_RESOLVE_PROXY ||
         code == CURLE_COULDNT_CONNECT || code == CURLE_OPERATION_TIMEDOUT;
}

// Faults that lose a transfer on its way, once the request went out: the
// same request on a new connection may well succeed.
bool IsLostOnTheWay(CURLcode code) {
  switch (code) {
    case CURLE_PARTIAL_FILE:
    case CURLE_RECV_ERROR:
    case CURLE_SEND_ERROR:
    case CURLE_GOT_NOTHING:
    case CURLE_HTTP2:
    case CURLE_HTTP2_STREAM:
    case CURLE_OPERATION_TIMEDOUT:
      return true;
    default:
      return false;
  }
}

}  // namespace

std::string GraphUrlHost(const std::string& url) {
  const std::optional<WebAddress> address = ParseWebAddress(url);
  if (address && IsAllowedWebAddress(*address)) return address->host;
  throw Failure(FailureKind::SignOn, Cause::kNoMailbox,
                "the Microsoft Graph address \"" + url +
                    "\" is not an https address (plain http only on 127.0.0.1)");
}

void GraphTransfer::WipedHeaders::operator()(curl_slist* list) const {
  // The Authorization header holds the token: zeroed before it is freed.
  for (curl_slist* item = list; item != nullptr; item = item->next) {
    volatile char* byte = item->data;
    while (*byte != '\0') *byte++ = '\0';
  }
  curl_slist_free_all(list);
}

GraphTransfer::GraphTransfer(CURLM* multi, const GraphRequest& request,
                             const GraphTimeouts& timeouts, const std::string& ca_bundle,
                             const std::string& token, void* owner)
    : multi_(multi),
      easy_(curl_easy_init()),
      token_(token),
      what_(Described(request)),
      host_(GraphUrlHost(request.url)),
      body_file_(request.body_file),
      max_body_(request.max_body) {
  if (!easy_) throw InternalFailure("libcurl out of memory");
  SetHeaders(request);
  SetOptions(request, timeouts, ca_bundle, owner);
  if (curl_multi_add_handle(multi_, easy_.get()) != CURLM_OK) {
    throw InternalFailure("libcurl refused a Microsoft Graph request");
  }
}

GraphTransfer::~GraphTransfer() {
  curl_multi_remove_handle(multi_, easy_.get());
  WipeSecret(token_);
}

void* GraphTransfer::OwnerOf(CURL* handle) {
  char* owner = nullptr;
  curl_easy_getinfo(handle, CURLINFO_PRIVATE, &owner);
  return owner;
}

void GraphTransfer::SetHeaders(const GraphRequest& request) {
  const auto append = [this](const std::string& line) {
    curl_slist* list = curl_slist_append(headers_.get(), line.c_str());
    if (list == nullptr) throw InternalFailure("libcurl out of memory");
    static_cast<void>(headers_.release());
    headers_.reset(list);
  };
  std::string authorization = "Authorization: Bearer " + token_;
  append(authorization);
  WipeSecret(authorization);
  if (AsksForJson(request.url)) append("Accept: application/json");
  if (!request.json_body.empty()) append("Content-Type: application/json");
  append("Expect:");  // the body goes at once, without waiting for 100 Continue
}

void GraphTransfer::SetOptions(const GraphRequest& request, const GraphTimeouts& timeouts,
                               const std::string& ca_bundle, void* owner) {
  CURL* handle = easy_.get();
  SetOption(handle, CURLOPT_URL, request.url.c_str());
  SetOption(handle, CURLOPT_PRIVATE, owner);
  SetOption(handle, CURLOPT_PROTOCOLS_STR,
            // GraphUrlHost let plain http pass on a loopback address only.
            request.url.starts_with("http://") ? "https,http" : "https");
  SetOption(handle, CURLOPT_FOLLOWLOCATION, 0L);
  SetOption(handle, CURLOPT_SSL_VERIFYPEER, 1L);
  SetOption(handle, CURLOPT_SSL_VERIFYHOST, 2L);
  if (!ca_bundle.empty()) {
    curl_blob blob{const_cast<char*>(ca_bundle.data()), ca_bundle.size(), CURL_BLOB_NOCOPY};
    SetOption(handle, CURLOPT_CAINFO_BLOB, &blob);
  }
  SetOption(handle, CURLOPT_NOPROXY, "127.0.0.1,localhost,::1");
  SetOption(handle, CURLOPT_NOSIGNAL, 1L);
  // HTTP/2 where libcurl was built with it: the requests share one
  // connection. Without it, HTTP/1.1 on kept-alive connections.
  curl_easy_setopt(handle, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_2TLS));
  SetOption(handle, CURLOPT_PIPEWAIT, 1L);
  SetOption(handle, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(timeouts.connect.count()));
  // Fewer than `least_bytes` in `idle` ends the attempt as stalled.
  const long idle_seconds = std::max<long>(
      1, static_cast<long>(std::chrono::ceil<std::chrono::seconds>(timeouts.idle).count()));
  SetOption(handle, CURLOPT_LOW_SPEED_TIME, idle_seconds);
  SetOption(handle, CURLOPT_LOW_SPEED_LIMIT,
            std::max<long>(1, static_cast<long>(timeouts.least_bytes) / idle_seconds));
  SetOption(handle, CURLOPT_USERAGENT, kUserAgent);
  SetOption(handle, CURLOPT_ACCEPT_ENCODING, "");
  SetOption(handle, CURLOPT_HTTPHEADER, headers_.get());
  SetOption(handle, CURLOPT_HEADERFUNCTION, CountHeader);
  SetOption(handle, CURLOPT_HEADERDATA, this);
  SetOption(handle, CURLOPT_WRITEFUNCTION, Receive);
  SetOption(handle, CURLOPT_WRITEDATA, this);
  SetOption(handle, CURLOPT_ERRORBUFFER, error_);
  if (request.method == "POST") {
    SetOption(handle, CURLOPT_POST, 1L);
  } else if (request.method != "GET") {
    SetOption(handle, CURLOPT_CUSTOMREQUEST, request.method.c_str());
  }
  if (request.method != "GET") {
    SetOption(handle, CURLOPT_POSTFIELDS, request.json_body.c_str());
    SetOption(handle, CURLOPT_POSTFIELDSIZE_LARGE,
              static_cast<curl_off_t>(request.json_body.size()));
  }
}

std::size_t GraphTransfer::CountHeader(char*, std::size_t size, std::size_t count, void* self) {
  auto* transfer = static_cast<GraphTransfer*>(self);
  transfer->header_bytes_ += size * count;
  return transfer->header_bytes_ > kLargestHeaders ? 0 : size * count;
}

std::size_t GraphTransfer::Receive(char* data, std::size_t size, std::size_t count, void* self) {
  return static_cast<GraphTransfer*>(self)->Take(data, size * count);
}

// Decided at the first bytes of the body, when the status is known: an
// error answer never goes into the caller's file.
GraphTransfer::Sink GraphTransfer::ChooseSink() const {
  long status = 0;
  curl_easy_getinfo(easy_.get(), CURLINFO_RESPONSE_CODE, &status);
  if (status < 200 || status > 299) return Sink::kErrorMemory;
  return body_file_ >= 0 ? Sink::kFile : Sink::kMemory;
}

// Returning fewer bytes than given ends the transfer (CURLE_WRITE_ERROR);
// End() tells why from the flags.
std::size_t GraphTransfer::Take(const char* data, std::size_t bytes) {
  if (sink_ == Sink::kUndecided) sink_ = ChooseSink();
  if (sink_ == Sink::kErrorMemory) {
    const std::size_t kept = std::min(bytes, kLargestErrorBody - body_.size());
    body_.append(data, kept);
    error_body_cut_ = kept < bytes;
    return kept;
  }
  received_ += bytes;
  if (received_ > max_body_) {
    too_large_ = true;
    return 0;
  }
  if (sink_ == Sink::kMemory) {
    body_.append(data, bytes);
    return bytes;
  }
  try {
    WriteAll(body_file_, data, bytes, "the answer of Microsoft Graph to " + what_);
  } catch (...) {
    // No exception may cross libcurl: it is thrown again from End().
    write_failure_ = std::current_exception();
    return 0;
  }
  return bytes;
}

GraphAttempt GraphTransfer::End(CURLcode code) {
  GraphAttempt attempt;
  curl_easy_getinfo(easy_.get(), CURLINFO_NUM_CONNECTS, &attempt.connects);
  if (write_failure_) std::rethrow_exception(write_failure_);
  if (header_bytes_ > kLargestHeaders) {
    throw Failure(FailureKind::MailStore, Cause::kMailServer,
                  "the header fields of the answer of Microsoft Graph to " + what_ +
                      " are larger than " + std::to_string(kLargestHeaders) + " bytes");
  }
  if (too_large_) {
    throw Failure(FailureKind::MailStore, Cause::kMailServer,
                  "the answer of Microsoft Graph to " + what_ + " is larger than " +
                      std::to_string(max_body_) + " bytes");
  }
  if (code == CURLE_OK || (code == CURLE_WRITE_ERROR && error_body_cut_)) {
    attempt.answered = true;
    curl_easy_getinfo(easy_.get(), CURLINFO_RESPONSE_CODE, &attempt.status);
    curl_off_t retry_after = 0;
    curl_easy_getinfo(easy_.get(), CURLINFO_RETRY_AFTER, &retry_after);
    attempt.retry_after = std::chrono::seconds{std::max<curl_off_t>(0, retry_after)};
    attempt.body = std::move(body_);
    return attempt;
  }
  const std::string why = error_[0] != '\0' ? error_ : curl_easy_strerror(code);
  // The time until the request could go out: zero when it never did.
  curl_off_t pretransfer = 0;
  curl_easy_getinfo(easy_.get(), CURLINFO_PRETRANSFER_TIME_T, &pretransfer);
  if (pretransfer > 0 && IsLostOnTheWay(code)) {
    attempt.lost_why = why;
    return attempt;
  }
  if (IsTrustFault(code)) {
    throw Failure(FailureKind::MailStore, Cause::kServerNotTrusted,
                  "the connection to Microsoft Graph at " + host_ + " cannot be trusted: " + why);
  }
  if (IsConnectFault(code)) {
    throw Failure(FailureKind::MailStore, Cause::kServerUnreachable,
                  "cannot connect to Microsoft Graph at " + host_ + ": " + why);
  }
  throw Failure(FailureKind::MailStore, Cause::kMailServer,
                "the request " + what_ + " to Microsoft Graph failed: " + why);
}

void EmptyBodyFile(int fd) {
  if (fs::EmptyAndRewind(fd) != 0) {
    throw FileFailure(FailureKind::FileWrite, errno,
                      "emptying the file for an answer of Microsoft Graph before another attempt");
  }
}

}  // namespace qm
