#pragma once
// One page of a Graph mail folder's listing, as the store asks for it: each
// message's id, subject, sender, read flag, whether Exchange says it has
// attachments and its size, and the address of the next page.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qm {

// The longest message id kept; Exchange's are about 150 bytes.
inline constexpr std::size_t kMaxGraphIdBytes = 1024;

struct ListedMessage {
  std::string id;
  std::string subject;         // decoded; cut as a header field is
  std::string sender_name;     // decoded; cut as a header field is
  std::string sender_address;  // cut as a header field is
  bool read = false;
  bool has_attachments = false;
  // The size Exchange keeps (the MAPI property PR_MESSAGE_SIZE): near the
  // MIME message's, not equal to it. Unknown when the listing has none.
  std::optional<std::uint64_t> size{};
};

struct ListingPage {
  std::vector<ListedMessage> messages;
  std::string next_link;  // empty on the last page
};

// The query of the listing: the fields the selection needs and the size
// (a message resource has none: it is asked for as the extended property
// PR_MESSAGE_SIZE), oldest first, `page_size` messages a page.
std::string ListingQuery(std::size_t page_size);

// Parses a page. Throws Failure(MailStore, kMailServer) when it is not the
// JSON of a listing, a message has no usable id, or the next page is not
// under `api_root` (the bearer token goes only where the mailbox is).
ListingPage ParseListingPage(std::string_view json, std::string_view api_root);

}  // namespace qm
