// Feeds arbitrary bytes, valid UTF-8 or not, to the password search and to the
// HTML text. Every candidate must be a password as the search defines one
// (printable ASCII, 4 to 64 characters), there must be at most the maximum and
// no duplicate, and the HTML text must be valid UTF-8.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "base/Utf8Character.h"
#include "text/HtmlText.h"
#include "text/PasswordCandidates.h"

namespace {

void Require(bool condition, const char* what) {
  if (condition) return;
  std::fprintf(stderr, "violated: %s\n", what);
  std::abort();
}

void CheckCandidates(const std::vector<std::string>& candidates) {
  Require(candidates.size() <= qm::kMaxPasswordCandidates, "at most the maximum of candidates");
  for (std::size_t i = 0; i < candidates.size(); ++i) {
    const std::string& value = candidates[i];
    Require(value.size() >= 4 && value.size() <= 64, "a candidate has 4 to 64 characters");
    Require(std::all_of(value.begin(), value.end(), [](char c) { return c > ' ' && c < '\x7f'; }),
            "a candidate is printable ASCII without blanks");
    Require(value.find("://") == std::string::npos, "a candidate is no URL");
    Require(std::find(candidates.begin(), candidates.begin() + static_cast<std::ptrdiff_t>(i),
                      value) == candidates.begin() + static_cast<std::ptrdiff_t>(i),
            "no candidate twice");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  CheckCandidates(qm::PasswordCandidates(input));
  const std::string text = qm::HtmlToText(input);
  Require(qm::IsValidUtf8(text), "HTML text is UTF-8");
  CheckCandidates(qm::PasswordCandidates(text));
  return 0;
}
