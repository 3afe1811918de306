#pragma once
// One attempt of a Graph request: a libcurl easy handle in the connection's
// multi handle, with its headers and the place its body goes: the caller's
// file for a 2xx answer when the request names one, memory otherwise, each
// bounded.

#include <curl/curl.h>

#include <chrono>
#include <cstdint>
#include <exception>
#include <memory>
#include <string>

#include "graph/GraphConnection.h"

namespace qm {

// What an attempt came to, unless it failed the request outright.
struct GraphAttempt {
  // An answer came whole. Otherwise the connection broke off or stalled
  // after the request had gone out, and another attempt may do better.
  bool answered = false;
  long status = 0;
  std::string body;  // unless it went into the request's file
  std::chrono::seconds retry_after{0};
  std::string lost_why;  // of an attempt without an answer
  long connects = 0;     // connections it opened
};

// The host of a Graph address, for the failures' texts. Throws
// Failure(SignOn, kNoMailbox) for an address that is not https (http only
// on a loopback address).
std::string GraphUrlHost(const std::string& url);

class GraphTransfer {
 public:
  // Adds the attempt to `multi`. `request` and `ca_bundle` (PEM text; empty:
  // libcurl's own CAs) must outlive the transfer; `owner` is what OwnerOf
  // gives back for its handle.
  GraphTransfer(CURLM* multi, const GraphRequest& request, const GraphTimeouts& timeouts,
                const std::string& ca_bundle, const std::string& token, void* owner);
  ~GraphTransfer();
  GraphTransfer(const GraphTransfer&) = delete;
  GraphTransfer& operator=(const GraphTransfer&) = delete;

  static void* OwnerOf(CURL* handle);
  // The bearer token the attempt was sent with.
  const std::string& token() const { return token_; }

  // What the attempt came to, once the multi handle has reported `code` for
  // it. Throws Failure(MailStore) for ends no other attempt mends: the
  // server cannot be reached (kServerUnreachable) or trusted
  // (kServerNotTrusted), a body past its bound (kMailServer), and a failed
  // write into the body file (FileWrite).
  GraphAttempt End(CURLcode code);

 private:
  enum class Sink { kUndecided, kMemory, kFile, kErrorMemory };
  struct EasyCleanup {
    void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
  };
  struct WipedHeaders {
    void operator()(curl_slist* list) const;
  };

  static std::size_t CountHeader(char* data, std::size_t size, std::size_t count, void* self);
  static std::size_t Receive(char* data, std::size_t size, std::size_t count, void* self);
  std::size_t Take(const char* data, std::size_t bytes);
  Sink ChooseSink() const;
  void SetOptions(const GraphRequest& request, const GraphTimeouts& timeouts,
                  const std::string& ca_bundle, void* owner);
  void SetHeaders(const GraphRequest& request);

  CURLM* multi_;
  std::unique_ptr<CURL, EasyCleanup> easy_;
  std::unique_ptr<curl_slist, WipedHeaders> headers_;
  std::string token_;
  std::string what_;  // "GET https://host/path", for the failures' texts
  std::string host_;
  int body_file_;
  std::uint64_t max_body_;
  Sink sink_ = Sink::kUndecided;
  std::uint64_t received_ = 0;
  std::size_t header_bytes_ = 0;
  std::string body_;
  bool too_large_ = false;
  bool error_body_cut_ = false;
  std::exception_ptr write_failure_;
  char error_[CURL_ERROR_SIZE] = "";
};

// Empties a body file and rewinds it, before another attempt writes the
// answer from its start. Throws FileFailure(FileWrite).
void EmptyBodyFile(int fd);

}  // namespace qm
