#include "imap/CurlImapTransport.h"

#include <curl/curl.h>

#include <algorithm>
#include <utility>

#include "base/CaBundle.h"
#include "base/Cancellation.h"
#include "base/CurlGlobal.h"
#include "base/Failure.h"
#include "base/SocketWait.h"

namespace qm {
namespace {

struct EasyCleanup {
  void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};
using EasyHandle = std::unique_ptr<CURL, EasyCleanup>;

// A connection or sign-on that failed: the user must correct the profile.
Failure SignOnFailure(Cause cause, const std::string& text) {
  return Failure(FailureKind::SignOn, cause, text);
}

Failure Lost(const std::string& host, const std::string& what) {
  return Failure(FailureKind::MailStore, Cause::kMailServer,
                 "the connection to the mail server " + host + " failed: " + what);
}

std::string Seconds(std::chrono::milliseconds time) {
  return std::to_string(std::chrono::ceil<std::chrono::seconds>(time).count());
}

// A server that sends too little for too long: given up, however it trickles.
Failure Stalled(const std::string& host, const ProgressWatch& progress) {
  return Lost(host, "it stalled: fewer than " + std::to_string(progress.least_bytes()) +
                        " bytes came or went in " + Seconds(progress.interval()) +
                        " seconds of waiting");
}

Failure ConnectFailure(CURLcode code, const char* detail, const std::string& host, bool with_token,
                       const ImapTimeouts& timeouts) {
  const std::string why = *detail != '\0' ? detail : curl_easy_strerror(code);
  switch (code) {
    case CURLE_LOGIN_DENIED:
      return SignOnFailure(Cause::kLoginRefused,
                           with_token ? "the mail server refused the sign-in with the access token"
                                        " (or offers neither OAUTHBEARER nor XOAUTH2)"
                                      : "the mail server refused the user name or password");
    case CURLE_USE_SSL_FAILED:
      return SignOnFailure(
          Cause::kServerNotTrusted,
          "the mail server " + host + " does not offer STARTTLS; plain-text IMAP is never used");
    case CURLE_PEER_FAILED_VERIFICATION:
      return SignOnFailure(Cause::kServerNotTrusted, "the certificate of the mail server " + host +
                                                         " could not be verified: " + why);
    case CURLE_SSL_CACERT_BADFILE:
      return SignOnFailure(Cause::kServerNotTrusted, "the CA certificates for the mail server " +
                                                         host + " could not be loaded: " + why);
    case CURLE_OPERATION_TIMEDOUT:
      return SignOnFailure(Cause::kServerUnreachable,
                           "the sign-on to the mail server " + host + " did not finish within " +
                               Seconds(timeouts.connect) + " seconds: " + why);
    default:
      return SignOnFailure(Cause::kServerUnreachable,
                           "cannot connect to the mail server " + host + ": " + why);
  }
}

template <typename T>
void SetOption(CURL* handle, CURLoption option, T value) {
  if (curl_easy_setopt(handle, option, value) != CURLE_OK) {
    throw Failure(FailureKind::Internal, Cause::kInternal,
                  "libcurl refused an IMAP connection option");
  }
}

void SetSecurityOptions(CURL* handle, const ImapAccount& account, const std::string& ca_bundle) {
  SetOption(handle, CURLOPT_PROTOCOLS_STR, "imap,imaps");
  SetOption(handle, CURLOPT_USE_SSL, static_cast<long>(CURLUSESSL_ALL));
  SetOption(handle, CURLOPT_SSL_VERIFYPEER, 1L);
  SetOption(handle, CURLOPT_SSL_VERIFYHOST, 2L);
  if (!account.ca_file.empty()) {
    curl_blob blob{const_cast<char*>(ca_bundle.data()), ca_bundle.size(), CURL_BLOB_COPY};
    SetOption(handle, CURLOPT_CAINFO_BLOB, &blob);
  }
}

// With a bearer token libcurl signs on with AUTHENTICATE OAUTHBEARER or
// XOAUTH2, whichever the server's capabilities name (OAUTHBEARER first), and
// the login options leave it no other way: without them a server offering
// neither would get a LOGIN with an empty password. With a password libcurl
// takes the strongest mechanism the server offers, AUTHENTICATE PLAIN ahead
// of the LOGIN command, which it sends only when no mechanism fits.
void SetSignOnOptions(CURL* handle, const ImapAccount& account) {
  if (account.bearer_token.empty()) {
    SetOption(handle, CURLOPT_PASSWORD, account.password.c_str());
    return;
  }
  SetOption(handle, CURLOPT_XOAUTH2_BEARER, account.bearer_token.c_str());
  SetOption(handle, CURLOPT_LOGIN_OPTIONS, "AUTH=OAUTHBEARER;AUTH=XOAUTH2");
}

void SetConnectionOptions(CURL* handle, const ImapAccount& account, const std::string& url,
                          const ImapTimeouts& timeouts, char* error_buffer) {
  SetOption(handle, CURLOPT_URL, url.c_str());
  SetOption(handle, CURLOPT_CONNECT_ONLY, 1L);
  SetOption(handle, CURLOPT_PROXY, "");  // never through a proxy from the environment
  SetOption(handle, CURLOPT_NOSIGNAL, 1L);
  SetOption(handle, CURLOPT_ERRORBUFFER, error_buffer);
  // With CONNECT_ONLY the connect phase is the whole sign-on, login
  // included: a server that trickles its greeting is given up here.
  SetOption(handle, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(timeouts.connect.count()));
  const auto response_seconds =
      std::max<long>(1, static_cast<long>((timeouts.idle.count() + 999) / 1000));
  SetOption(handle, CURLOPT_SERVER_RESPONSE_TIMEOUT, response_seconds);
  SetOption(handle, CURLOPT_USERNAME, account.user.c_str());
  // The first SASL message goes with AUTHENTICATE when the server offers
  // SASL-IR: one round trip less.
  SetOption(handle, CURLOPT_SASL_IR, 1L);
  SetSignOnOptions(handle, account);
}

// libcurl asks the progress function now and then while it connects, signs
// on and waits (about once a second when nothing moves); a request of the
// cancellation makes it end the transfer.
int AbortWhenRequested(void* cancel, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
  return static_cast<const Cancellation*>(cancel)->Requested() ? 1 : 0;
}

void WatchCancellation(CURL* handle, const Cancellation* cancel) {
  curl_easy_setopt(handle, CURLOPT_NOPROGRESS, 0L);
  curl_easy_setopt(handle, CURLOPT_XFERINFOFUNCTION, AbortWhenRequested);
  curl_easy_setopt(handle, CURLOPT_XFERINFODATA, const_cast<Cancellation*>(cancel));
}

}  // namespace

std::unique_ptr<CurlImapTransport> CurlImapTransport::Connect(ImapAccount& account,
                                                              ImapTimeouts timeouts,
                                                              const Cancellation* cancel) {
  InitCurlOnce();
  const std::string host = account.host + ":" + std::to_string(account.port);
  const std::string scheme =
      account.security == ImapSecurity::kImplicitTls ? "imaps://" : "imap://";
  const std::string ca_bundle = account.ca_file.empty() ? "" : CaBundle(account.ca_file);

  EasyHandle handle(curl_easy_init());
  if (!handle) throw Failure(FailureKind::Internal, Cause::kInternal, "libcurl out of memory");
  char error[CURL_ERROR_SIZE] = "";
  SetSecurityOptions(handle.get(), account, ca_bundle);
  SetConnectionOptions(handle.get(), account, scheme + host + "/", timeouts, error);
  if (cancel != nullptr) WatchCancellation(handle.get(), cancel);

  // Connect, TLS or STARTTLS, certificate and host-name check, then login:
  // libcurl sends the password only once the certificate has been accepted.
  const CURLcode result = curl_easy_perform(handle.get());
  const bool with_token = !account.bearer_token.empty();
  // Our copy of the password goes now. libcurl keeps its own copy while the
  // handle lives; dropping the option frees it (without wiping it).
  WipeSecret(account.password);
  WipeSecret(account.bearer_token);
  curl_easy_setopt(handle.get(), CURLOPT_PASSWORD, nullptr);
  curl_easy_setopt(handle.get(), CURLOPT_XOAUTH2_BEARER, nullptr);
  curl_easy_setopt(handle.get(), CURLOPT_ERRORBUFFER, nullptr);
  if (result == CURLE_ABORTED_BY_CALLBACK) throw CancelledWhile("signing on to " + host);
  if (result != CURLE_OK) throw ConnectFailure(result, error, host, with_token, timeouts);
  return std::unique_ptr<CurlImapTransport>(
      new CurlImapTransport(handle.release(), host, timeouts, cancel));
}

CurlImapTransport::~CurlImapTransport() { curl_easy_cleanup(handle_); }

void CurlImapTransport::Send(std::string_view bytes) {
  while (!bytes.empty()) {
    std::size_t sent = 0;
    const CURLcode result = curl_easy_send(handle_, bytes.data(), bytes.size(), &sent);
    if (result == CURLE_AGAIN) {
      WaitForSocket(true);
      continue;
    }
    if (result != CURLE_OK) throw Lost(host_, curl_easy_strerror(result));
    progress_.Moved(sent);
    bytes.remove_prefix(sent);
  }
}

std::size_t CurlImapTransport::Receive(char* buffer, std::size_t size) {
  for (;;) {
    std::size_t received = 0;
    const CURLcode result = curl_easy_recv(handle_, buffer, size, &received);
    if (result == CURLE_AGAIN) {
      WaitForSocket(false);
      continue;
    }
    if (result != CURLE_OK) throw Lost(host_, curl_easy_strerror(result));
    if (received == 0) throw Lost(host_, "the server closed the connection");
    progress_.Moved(received);
    return received;
  }
}

// Waits until the socket is ready. A connection that has moved fewer than
// the least bytes in the whole time waited since the last progress is
// given up. Errors and hang-ups count as ready: the next send or receive
// reports them.
void CurlImapTransport::WaitForSocket(bool for_writing) {
  curl_socket_t socket = CURL_SOCKET_BAD;
  if (curl_easy_getinfo(handle_, CURLINFO_ACTIVESOCKET, &socket) != CURLE_OK ||
      socket == CURL_SOCKET_BAD) {
    throw Lost(host_, "the connection is closed");
  }
  SocketWatch watch{
      socket, for_writing ? SocketWatch::Interest::kWritable : SocketWatch::Interest::kReadable};
  for (;;) {
    if (progress_.Stalled()) throw Stalled(host_, progress_);
    const auto started = std::chrono::steady_clock::now();
    // A request of the cancellation ends the wait at once, however long the
    // server stays silent.
    const SocketWaitResult result = WaitForSockets({&watch, 1}, progress_.WaitLeft(), cancel_);
    progress_.Waited(std::chrono::steady_clock::now() - started);
    switch (result.end) {
      case SocketWaitResult::End::kReady:
        return;
      case SocketWaitResult::End::kCancelled:
        throw CancelledWhile("waiting for " + host_);
      case SocketWaitResult::End::kFailed:
        throw Lost(host_, "waiting for the server failed");
      case SocketWaitResult::End::kTimedOut:
        break;
    }
  }
}

}  // namespace qm
