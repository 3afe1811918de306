#pragma once
// One page of a Graph mail folder's listing, as the store asks for it: each
// message's id, subject, sender, read flag and whether Exchange says it has
// attachments, and the address of the next page.

#include <cstddef>
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
};

struct ListingPage {
  std::vector<ListedMessage> messages;
  std::string next_link;  // empty on the last page
};

// The query of the listing: the fields the selection needs, oldest first,
// `page_size` messages a page.
std::string ListingQuery(std::size_t page_size);

// Parses a page. Throws Failure(MailStore, kMailServer) when it is not the
// JSON of a listing, a message has no usable id, or the next page is not
// under `api_root` (the bearer token goes only where the mailbox is).
ListingPage ParseListingPage(std::string_view json, std::string_view api_root);

}  // namespace qm
