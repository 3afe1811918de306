#pragma once
// Where a request to a web address may go: over https anywhere, over plain
// http only to this machine (a server the tests run). Parsed by libcurl's
// URL parser. Header only, as CurlGlobal.h: a library that includes it
// links libcurl itself.

#include <curl/curl.h>

#include <memory>
#include <optional>
#include <string>

namespace qm {

struct WebAddress {
  std::string scheme;  // lower case
  std::string host;    // an IPv6 address in brackets
};

// The scheme and host of `url`; nothing when libcurl cannot parse it.
inline std::optional<WebAddress> ParseWebAddress(const std::string& url) {
  struct UrlCleanup {
    void operator()(CURLU* parsed) const { curl_url_cleanup(parsed); }
  };
  const std::unique_ptr<CURLU, UrlCleanup> parsed(curl_url());
  if (!parsed || curl_url_set(parsed.get(), CURLUPART_URL, url.c_str(), 0) != CURLUE_OK) {
    return std::nullopt;
  }
  const auto part = [&](CURLUPart which) {
    char* text = nullptr;
    if (curl_url_get(parsed.get(), which, &text, 0) != CURLUE_OK) return std::string();
    std::string copy(text);
    curl_free(text);
    return copy;
  };
  return WebAddress{part(CURLUPART_SCHEME), part(CURLUPART_HOST)};
}

// https anywhere; http only on a loopback address.
inline bool IsAllowedWebAddress(const WebAddress& address) {
  const bool loopback =
      address.host == "127.0.0.1" || address.host == "[::1]" || address.host == "localhost";
  return address.scheme == "https" || (address.scheme == "http" && loopback);
}

}  // namespace qm
