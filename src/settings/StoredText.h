#pragma once
// The one layout of a text value of this program, in the settings file and
// in the Windows registry alike: the text in the "ANSI" character set (see
// AnsiText.h), closed by one NUL that the length counts.

#include <string>
#include <string_view>

#include "settings/Registry.h"

namespace qm {

// The bytes that store `utf8`.
Bytes StoredText(std::string_view utf8);

// The text of stored bytes, as UTF-8: the bytes before the first NUL (all of
// them when there is none), read by FromStoredText.
std::string TextOfStored(const Bytes& data);

}  // namespace qm
