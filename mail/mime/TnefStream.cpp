#include "mail/mime/TnefStream.h"

#include <cstdint>
#include <utility>

#include "mail/mime/TnefMapiCheck.h"

namespace qm {
namespace {

constexpr std::uint32_t kSignature = 0x223E9F78;
constexpr std::size_t kKeyBytes = 2;
constexpr std::size_t kHeaderBytes = 1 + 4 + 4;  // level, attribute id, length
constexpr std::size_t kChecksumBytes = 2;
constexpr unsigned char kMessageLevel = 1;
constexpr unsigned char kAttachmentLevel = 2;

// The attributes kept: the code page names are written in, and what belongs
// to one attached file. Rendering data opens each attachment.
constexpr std::uint32_t kCodePage = 0x00069007;
constexpr std::uint32_t kRenderingData = 0x00069002;
constexpr std::uint32_t kFileData = 0x0006800F;
constexpr std::uint32_t kTitle = 0x00018010;
constexpr std::uint32_t kProperties = 0x00069005;
// libytnef's limits on an attachment's title and on any attribute.
constexpr std::size_t kMaxTitleBytes = 100;
constexpr std::uint32_t kMaxAttributeBytes = 50 * 1024 * 1024;

std::uint32_t LittleEndian(std::string_view bytes) {
  std::uint32_t value = 0;
  for (std::size_t i = bytes.size(); i-- > 0;) {
    value = value << 8 | static_cast<unsigned char>(bytes[i]);
  }
  return value;
}

struct Attribute {
  std::uint32_t id;
  std::string_view data;
  std::string_view whole;  // header, data and checksum as they stand
};

// The attribute at `at`, which then moves past it; std::nullopt when it is
// cut off, of an unknown level, larger than libytnef reads or its checksum is
// wrong.
std::optional<Attribute> NextAttribute(std::string_view bytes, std::size_t& at) {
  if (bytes.size() - at < kHeaderBytes) return std::nullopt;
  const auto level = static_cast<unsigned char>(bytes[at]);
  if (level != kMessageLevel && level != kAttachmentLevel) return std::nullopt;
  const std::uint32_t id = LittleEndian(bytes.substr(at + 1, 4));
  const std::uint32_t length = LittleEndian(bytes.substr(at + 5, 4));
  if (length > kMaxAttributeBytes ||
      bytes.size() - at - kHeaderBytes < std::size_t{length} + kChecksumBytes) {
    return std::nullopt;
  }
  const std::string_view data = bytes.substr(at + kHeaderBytes, length);
  std::uint16_t sum = 0;
  for (const char c : data) sum = static_cast<std::uint16_t>(sum + static_cast<unsigned char>(c));
  if (sum != LittleEndian(bytes.substr(at + kHeaderBytes + length, kChecksumBytes))) {
    return std::nullopt;
  }
  const std::size_t size = kHeaderBytes + length + kChecksumBytes;
  Attribute attribute{id, data, bytes.substr(at, size)};
  at += size;
  return attribute;
}

// Chooses, attribute by attribute, what libytnef is given.
class Filter {
 public:
  // False when the stream is not to be unpacked: too many attachments, or
  // one that libytnef would refuse to open.
  bool Take(const Attribute& attribute) {
    switch (attribute.id) {
      case kCodePage:  // libytnef refuses an empty attribute of any kind
        if (!code_page_ && !attribute.data.empty()) Keep(attribute, code_page_);
        return true;
      case kRenderingData:
        if (++attachments_ > kMaxTnefAttachments || attribute.data.empty()) return false;
        seen_ = Seen{};
        Keep(attribute, seen_.opened);
        return true;
      case kFileData:
        KeepOnce(attribute, seen_.data, true);
        return true;
      case kTitle:  // a longer one would stop libytnef; the name may be in the properties too
        if (attribute.data.size() <= kMaxTitleBytes) KeepOnce(attribute, seen_.title, false);
        return true;
      case kProperties:
        if (LibytnefTakesMapiBlock(attribute.data)) {
          KeepOnce(attribute, seen_.properties, true);
        } else {
          result_.incomplete = true;
        }
        return true;
      default:
        return true;  // the message's own text, dates, addresses, icons
    }
  }

  CheckedTnef& result() { return result_; }

 private:
  struct Seen {
    bool opened = false;
    bool data = false;
    bool title = false;
    bool properties = false;
  };

  void Keep(const Attribute& attribute, bool& seen) {
    result_.stream.append(attribute.whole);
    seen = true;
  }

  // An attachment's attribute, once per attachment; libytnef adds it to the
  // last attachment opened, so one that comes before any is left out. An
  // empty attribute is one libytnef refuses.
  void KeepOnce(const Attribute& attribute, bool& seen, bool may_hold_file) {
    if (seen_.opened && !seen && !attribute.data.empty()) {
      Keep(attribute, seen);
    } else if (may_hold_file) {
      result_.incomplete = true;
    }
  }

  CheckedTnef result_;
  Seen seen_;
  bool code_page_ = false;
  std::size_t attachments_ = 0;
};

}  // namespace

std::optional<CheckedTnef> CheckTnef(std::string_view bytes) {
  if (bytes.size() < 4 + kKeyBytes || LittleEndian(bytes.substr(0, 4)) != kSignature) {
    return std::nullopt;
  }
  Filter filter;
  filter.result().stream.assign(bytes.substr(0, 4 + kKeyBytes));
  for (std::size_t at = 4 + kKeyBytes; at < bytes.size();) {
    const std::optional<Attribute> attribute = NextAttribute(bytes, at);
    if (!attribute || !filter.Take(*attribute)) return std::nullopt;
  }
  return std::move(filter.result());
}

}  // namespace qm
