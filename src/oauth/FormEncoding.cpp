#include "oauth/FormEncoding.h"

#include <curl/curl.h>

#include <algorithm>
#include <memory>

#include "base/Failure.h"

namespace qm {
namespace {

struct CurlFree {
  void operator()(char* text) const { curl_free(text); }
};
using CurlText = std::unique_ptr<char, CurlFree>;

std::string Escaped(const std::string& text) {
  const CurlText escaped(curl_easy_escape(nullptr, text.data(), static_cast<int>(text.size())));
  if (!escaped) throw InternalFailure("out of memory while encoding a form");
  return escaped.get();
}

std::string Unescaped(std::string_view text) {
  std::string spaced(text);
  std::replace(spaced.begin(), spaced.end(), '+', ' ');
  int length = 0;
  const CurlText plain(
      curl_easy_unescape(nullptr, spaced.data(), static_cast<int>(spaced.size()), &length));
  if (!plain) throw InternalFailure("out of memory while decoding a form");
  return std::string(plain.get(), static_cast<std::size_t>(length));
}

}  // namespace

std::string FormEncode(const FormFields& fields) {
  std::string encoded;
  for (const auto& [name, value] : fields) {
    if (!encoded.empty()) encoded += '&';
    encoded += Escaped(name) + "=" + Escaped(value);
  }
  return encoded;
}

std::map<std::string, std::string> FormDecode(std::string_view text) {
  std::map<std::string, std::string> fields;
  while (!text.empty()) {
    const std::size_t end = std::min(text.find('&'), text.size());
    const std::string_view field = text.substr(0, end);
    const std::size_t equals = std::min(field.find('='), field.size());
    if (equals > 0) {
      const std::string_view value =
          equals < field.size() ? field.substr(equals + 1) : std::string_view();
      fields.emplace(Unescaped(field.substr(0, equals)), Unescaped(value));
    }
    text.remove_prefix(std::min(end + 1, text.size()));
  }
  return fields;
}

}  // namespace qm
