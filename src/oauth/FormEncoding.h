#pragma once
// application/x-www-form-urlencoded: the bodies sent to token endpoints, and
// the query of the address the browser is sent back to.

#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace qm {

using FormFields = std::vector<std::pair<std::string, std::string>>;

// "name=value&..." with every byte but the unreserved characters escaped.
std::string FormEncode(const FormFields& fields);
// The fields of "name=value&..." ('+' is a space); a later repeat of a name
// is ignored.
std::map<std::string, std::string> FormDecode(std::string_view text);

}  // namespace qm
