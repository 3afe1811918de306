#pragma once
// What one HTTP request to the loopback listener means for a browser
// sign-in: the redirect that brings this sign-in's code, the provider's
// refusal of it, or a request that is none of these (the browser's icon, a
// request without this sign-in's state from any process on this machine),
// which is answered and otherwise ignored.

#include <string>

namespace qm {

struct RedirectVerdict {
  enum class Kind {
    kCode,      // this sign-in's redirect with its code: the answer page goes back
    kRefusal,   // this sign-in's redirect without a code: the sign-in fails
    kNotOurs,   // "/" without this sign-in's state: ignored
    kNotFound,  // anything but a GET of "/": ignored
  };
  Kind kind = Kind::kNotFound;
  std::string code;  // kCode: the authorization code
  std::string why;   // kRefusal: what the provider said, for the failure's text
};

// Judges the request head `head` (up to its blank line) against `state`.
RedirectVerdict JudgeRedirect(const std::string& head, const std::string& state);

}  // namespace qm
