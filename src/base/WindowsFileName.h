#pragma once
// The names Windows refuses for a file: device names (CON, aux.txt, COM1,
// LPT¹...), a trailing dot or space, the characters <>:"/\|?* and the
// controls, and names over 255 UTF-16 units. The native calls take some of
// them and would make files nothing else can open, or reach a device.

#include <string_view>

namespace qm {

// 0 when `name` can be one component of a path; otherwise EINVAL, ENOENT
// for an empty name, or ENAMETOOLONG.
int ComponentRefusal(std::wstring_view name);

// The same for the last component of a whole path (the folders on the way
// are the system's to judge). A path ending in a separator names a folder
// and is taken as it is.
int PathRefusal(std::wstring_view path);

}  // namespace qm
