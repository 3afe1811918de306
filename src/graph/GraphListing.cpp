#include "graph/GraphListing.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <nlohmann/json.hpp>

#include "base/Failure.h"
#include "store/HeaderBlock.h"
#include "store/KeptFieldValue.h"

namespace qm {
namespace {

using nlohmann::json;

Failure Malformed(const std::string& what) {
  return Failure(FailureKind::MailStore, Cause::kMailServer,
                 "Microsoft Graph sent a listing that cannot be read: " + what);
}

// A text member, or "" when it is absent, null or not text.
std::string TextOf(const json& object, const char* name) {
  const auto member = object.find(name);
  if (member == object.end() || !member->is_string()) return "";
  return KeptFieldValue(member->get_ref<const std::string&>(), kMaxHeaderFieldBytes);
}

bool FlagOf(const json& object, const char* name) {
  const auto member = object.find(name);
  return member != object.end() && member->is_boolean() && member->get<bool>();
}

bool IsUsableId(const std::string& id) {
  return !id.empty() && id.size() <= kMaxGraphIdBytes &&
         id.find_first_of(std::string_view("\0\r\n", 3)) == std::string::npos;
}

// Graph names PR_MESSAGE_SIZE "Integer 0xe08" in its answers, whatever
// spelling the query used.
bool NamesMessageSize(const json& property) {
  const auto id = property.find("id");
  if (id == property.end() || !id->is_string()) return false;
  std::string name = id->get<std::string>();
  std::transform(name.begin(), name.end(), name.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return name == "integer 0xe08" || name == "integer 0x0e08";
}

// The size in the message's extended properties: decimal text.
std::optional<std::uint64_t> SizeOf(const json& item) {
  const auto properties = item.find("singleValueExtendedProperties");
  if (properties == item.end() || !properties->is_array()) return std::nullopt;
  for (const json& property : *properties) {
    if (!property.is_object() || !NamesMessageSize(property)) continue;
    const auto value = property.find("value");
    if (value == property.end() || !value->is_string()) return std::nullopt;
    const std::string& text = value->get_ref<const std::string&>();
    std::uint64_t size = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), size);
    if (text.empty() || error != std::errc() || end != text.data() + text.size()) {
      return std::nullopt;
    }
    return size;
  }
  return std::nullopt;
}

ListedMessage MessageOf(const json& item) {
  if (!item.is_object()) throw Malformed("a message is not an object");
  ListedMessage message;
  const auto id = item.find("id");
  if (id == item.end() || !id->is_string() || !IsUsableId(id->get_ref<const std::string&>())) {
    throw Malformed("a message without a usable id");
  }
  message.id = id->get<std::string>();
  message.subject = TextOf(item, "subject");
  // A message without a sender (a draft, some system mail) has "from": null.
  if (const auto from = item.find("from"); from != item.end() && from->is_object()) {
    if (const auto address = from->find("emailAddress");
        address != from->end() && address->is_object()) {
      message.sender_name = TextOf(*address, "name");
      message.sender_address = TextOf(*address, "address");
    }
  }
  message.read = FlagOf(item, "isRead");
  message.has_attachments = FlagOf(item, "hasAttachments");
  message.size = SizeOf(item);
  return message;
}

// The next page must be on the same server, under the same API root: the
// token is sent with it.
std::string CheckedNextLink(const json& page, std::string_view api_root) {
  const auto next = page.find("@odata.nextLink");
  if (next == page.end() || next->is_null()) return "";
  if (!next->is_string()) throw Malformed("the next page's address is not text");
  const std::string& link = next->get_ref<const std::string&>();
  std::string root(api_root);
  if (!root.ends_with('/')) root += '/';
  if (!link.starts_with(root)) {
    throw Malformed("the next page is not on the mailbox's server (" + link.substr(0, 200) + ")");
  }
  return link;
}

}  // namespace

std::string ListingQuery(std::size_t page_size) {
  return "?$select=id,subject,from,isRead,hasAttachments,receivedDateTime"
         "&$expand=singleValueExtendedProperties($filter=id%20eq%20'Integer%200x0E08')"
         "&$orderby=receivedDateTime&$top=" +
         std::to_string(page_size);
}

ListingPage ParseListingPage(std::string_view text, std::string_view api_root) {
  const json page = json::parse(text, nullptr, false);
  if (!page.is_object()) throw Malformed("not a JSON object");
  const auto value = page.find("value");
  if (value == page.end() || !value->is_array()) throw Malformed("no \"value\" array");
  ListingPage result;
  result.messages.reserve(value->size());
  for (const json& item : *value) result.messages.push_back(MessageOf(item));
  result.next_link = CheckedNextLink(page, api_root);
  return result;
}

}  // namespace qm
