#pragma once
// UID sets for IMAP commands: ascending UIDs merged into ranges ("1:3,5,7:8"),
// split so that no command line grows past a sane length.

#include <cstddef>
#include <cstdint>
#include <set>
#include <string>
#include <vector>

namespace qm {

// The UIDs as comma-separated sets of at most `max_ranges` ranges each; no set
// for no UIDs.
std::vector<std::string> UidSets(const std::set<std::uint32_t>& uids, std::size_t max_ranges);

}  // namespace qm
