#pragma once
// A form POST to an OAuth endpoint over libcurl, and its answer. Endpoints
// are https; plain http is accepted for the loopback addresses alone (a
// server on this machine, as the tests run). The certificate and host name
// are always checked; redirects are not followed.

#include <string>

#include "oauth/FormEncoding.h"

namespace qm {

class Cancellation;

struct HttpAnswer {
  long status = 0;
  std::string body;

  ~HttpAnswer();  // the body may hold tokens: it is wiped
};

// Throws Failure(SignOn, kNoMailbox) when `url` is neither https nor http on
// a loopback host.
void CheckEndpointAddress(const std::string& url);

// POSTs `fields` to `url`. Throws Failure(SignOn, kLoginRefused) when the
// server cannot be reached, its certificate is refused or the answer is
// larger than an OAuth answer can be; a request of `cancel` ends the wait
// with a Cancelled failure. The fields are wiped from libcurl's copy as far
// as this code holds it.
HttpAnswer PostForm(const std::string& url, const FormFields& fields,
                    const Cancellation* cancel = nullptr);

}  // namespace qm
