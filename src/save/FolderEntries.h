#pragma once
// The names in a folder, read through a descriptor of its own so that the
// folder's descriptor is left as it was.

#include <string>
#include <vector>

namespace qm {

// The names in the folder `dir` ("." and ".." left out); empty when it
// cannot be listed.
std::vector<std::string> FolderEntries(int dir);

}  // namespace qm
