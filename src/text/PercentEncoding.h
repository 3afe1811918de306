#pragma once
// Percent-encoding of text that goes into an address (RFC 3986): every
// byte but the unreserved characters (letters, digits, -._~) and those the
// caller keeps becomes %XX.

#include <string>
#include <string_view>

namespace qm {

std::string PercentEncoded(std::string_view text, std::string_view keep = {});

}  // namespace qm
