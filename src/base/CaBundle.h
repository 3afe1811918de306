#pragma once
// The certificates a TLS connection trusts when the mail profile names a CA
// file of its own: the system's bundle followed by that file, as one PEM
// text (libcurl takes a single bundle, and the profile's CA is trusted in
// addition). Where the system has no bundle file (Windows), the profile's
// CA alone.

#include <string>

namespace qm {

// Throws Failure(SignOn, kNoMailbox) naming the profile value "CAFile" when
// `ca_file` is not a readable regular file of at most 1 MiB.
std::string CaBundle(const std::string& ca_file);

}  // namespace qm
