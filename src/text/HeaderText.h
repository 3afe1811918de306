#pragma once
// Decoding of header text as mail really carries it: RFC 2047 encoded words,
// RFC 2231 parameters, and unlabelled 8-bit bytes, converted with ICU so that
// every Japanese encoding (ISO-2022-JP, Shift_JIS/CP932 with its extensions,
// EUC-JP) comes out right. All results are UTF-8.

#include <optional>
#include <string>
#include <string_view>

namespace qm {

// Convert bytes in the named charset to UTF-8. Unknown charsets and undecodable
// bytes never fail: the text is decoded as well as it can be.
std::string ConvertToUtf8(std::string_view bytes, std::string_view charset);

// Unlabelled bytes: UTF-8 when valid, else CP932, else EUC-JP, else ISO-8859-1.
std::string DecodeUnlabelled(std::string_view bytes);

// An unstructured header value (Subject), raw as it stands in the message,
// possibly folded: unfolded, encoded words decoded (adjacent words joined
// before conversion), unlabelled 8-bit decoded.
std::string DecodeUnstructured(std::string_view raw);

struct Mailbox {
  std::string name;     // display name, decoded; empty when there is none
  std::string address;  // addr-spec as written (local@domain), decoded if 8-bit
};

// The first mailbox of a From value (address list, groups, comments, quoted
// names and encoded words handled). Empty fields when none can be found.
Mailbox ParseFirstMailbox(std::string_view raw);

// The sender's name as mail programs show it: the display name, or the
// address itself when there is no name or it is blank once decoded.
std::string SenderDisplayName(const Mailbox& mailbox);

// One parameter of a structured header value such as Content-Disposition or
// Content-Type, e.g. "filename": RFC 2231 (charset, language, continuations),
// RFC 2047 words inside quoted or RFC 2231 values, unlabelled 8-bit. The first
// occurrence wins. std::nullopt when the parameter is absent.
std::optional<std::string> DecodeParameter(std::string_view raw_value, std::string_view name);

}  // namespace qm
