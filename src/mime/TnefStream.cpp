#include "mime/TnefStream.h"

#include <algorithm>
#include <cstdint>
#include <string_view>
#include <utility>

#include "mime/TnefMapiCheck.h"

namespace qm {
namespace {

constexpr std::uint32_t kSignature = 0x223E9F78;
constexpr std::int64_t kHeadBytes = 4 + 2;        // signature, key
constexpr std::int64_t kHeaderBytes = 1 + 4 + 4;  // level, attribute id, length
constexpr std::int64_t kChecksumBytes = 2;
constexpr unsigned char kMessageLevel = 1;
constexpr unsigned char kAttachmentLevel = 2;
// An attribute's data is summed a block at a time.
constexpr std::int64_t kSumBlock = 1024 * 1024;

// The attributes noted: the code page names are written in, and what belongs
// to one attached file. Rendering data opens each attachment.
constexpr std::uint32_t kCodePage = 0x00069007;
constexpr std::uint32_t kRenderingData = 0x00069002;
constexpr std::uint32_t kFileData = 0x0006800F;
constexpr std::uint32_t kTitle = 0x00018010;
constexpr std::uint32_t kProperties = 0x00069005;
// libytnef's limit on an attachment's title; rendering data and code page
// are a few bytes in any stream Outlook writes.
constexpr std::int64_t kMaxTitleBytes = 100;
constexpr std::int64_t kMaxSmallAttributeBytes = 4096;

std::uint32_t LittleEndian(std::string_view bytes) {
  std::uint32_t value = 0;
  for (std::size_t i = bytes.size(); i-- > 0;) {
    value = value << 8 | static_cast<unsigned char>(bytes[i]);
  }
  return value;
}

struct Attribute {
  std::uint32_t id;
  Span data;
  Span whole;  // header, data and checksum
};

// Reads the attributes of a stream one after another, checking each.
class AttributeReader {
 public:
  AttributeReader(const ScratchFile& file, Span stream) : file_(file), stream_(stream) {}

  bool AtEnd() const { return at_ == stream_.end(); }

  // The attribute at the cursor, which then moves past it; std::nullopt when
  // it is cut off, of an unknown level or its checksum is wrong.
  std::optional<Attribute> Next() {
    if (stream_.end() - at_ < kHeaderBytes) return std::nullopt;
    const std::string header = file_.Read({at_, kHeaderBytes});
    const auto level = static_cast<unsigned char>(header[0]);
    if (level != kMessageLevel && level != kAttachmentLevel) return std::nullopt;
    const std::uint32_t id = LittleEndian(std::string_view(header).substr(1, 4));
    const std::int64_t length = LittleEndian(std::string_view(header).substr(5, 4));
    if (stream_.end() - at_ - kHeaderBytes < length + kChecksumBytes) return std::nullopt;
    const Span data{at_ + kHeaderBytes, length};
    const std::string checksum = file_.Read({data.end(), kChecksumBytes});
    if (Sum(data) != LittleEndian(checksum)) return std::nullopt;
    const Attribute attribute{id, data, {at_, kHeaderBytes + length + kChecksumBytes}};
    at_ = attribute.whole.end();
    return attribute;
  }

  void Start() { at_ = stream_.begin + kHeadBytes; }

 private:
  std::uint16_t Sum(Span data) const {
    std::uint16_t sum = 0;
    for (std::int64_t at = data.begin; at < data.end(); at += kSumBlock) {
      for (const char c : file_.Read({at, std::min(kSumBlock, data.end() - at)})) {
        sum = static_cast<std::uint16_t>(sum + static_cast<unsigned char>(c));
      }
    }
    return sum;
  }

  const ScratchFile& file_;
  Span stream_;
  std::int64_t at_ = 0;
};

// Chooses, attribute by attribute, what is noted for each attachment.
class Filter {
 public:
  explicit Filter(const ScratchFile& file) : file_(file) {}

  // False when the stream is not to be unpacked: too many attachments, or
  // one that libytnef would refuse to open.
  bool Take(const Attribute& attribute) {
    switch (attribute.id) {
      case kCodePage:  // libytnef refuses an empty attribute of any kind
        if (!layout_.code_page && attribute.data.size > 0 &&
            attribute.data.size <= kMaxSmallAttributeBytes) {
          layout_.code_page = attribute.whole;
        }
        return true;
      case kRenderingData:
        if (layout_.attachments.size() >= kMaxTnefAttachments || attribute.data.size == 0 ||
            attribute.data.size > kMaxSmallAttributeBytes) {
          return false;
        }
        layout_.attachments.push_back({{attribute.whole}, std::nullopt});
        seen_ = Seen{};
        return true;
      case kFileData:
        if (Open() && !seen_.data) {
          layout_.attachments.back().data = attribute.data;
          seen_.data = true;
        } else {
          layout_.incomplete = true;
        }
        return true;
      case kTitle:  // a longer one would stop libytnef; the name may be in the properties too
        if (attribute.data.size <= kMaxTitleBytes) Describe(attribute, seen_.title, false);
        return true;
      case kProperties:
        if (attribute.data.size <= kMaxTnefPropertyBytes &&
            LibytnefTakesMapiBlock(file_.Read(attribute.data))) {
          Describe(attribute, seen_.properties, true);
        } else {
          layout_.incomplete = true;
        }
        return true;
      default:
        return true;  // the message's own text, dates, addresses, icons
    }
  }

  TnefLayout& layout() { return layout_; }

 private:
  struct Seen {
    bool data = false;
    bool title = false;
    bool properties = false;
  };

  bool Open() const { return !layout_.attachments.empty(); }

  // An attribute that describes the attachment, once per attachment;
  // libytnef adds it to the last attachment opened, so one that comes before
  // any is left out. An empty attribute is one libytnef refuses.
  void Describe(const Attribute& attribute, bool& seen, bool may_hold_file) {
    if (Open() && !seen && attribute.data.size > 0) {
      layout_.attachments.back().described_by.push_back(attribute.whole);
      seen = true;
    } else if (may_hold_file) {
      layout_.incomplete = true;
    }
  }

  const ScratchFile& file_;
  TnefLayout layout_;
  Seen seen_;
};

}  // namespace

std::optional<TnefLayout> ReadTnefLayout(const ScratchFile& file, Span stream) {
  if (stream.size < kHeadBytes || LittleEndian(file.Read({stream.begin, 4})) != kSignature) {
    return std::nullopt;
  }
  AttributeReader reader(file, stream);
  Filter filter(file);
  for (reader.Start(); !reader.AtEnd();) {
    const std::optional<Attribute> attribute = reader.Next();
    if (!attribute) {
      filter.layout().incomplete = true;  // damaged: what came before stands
      break;
    }
    if (!filter.Take(*attribute)) return std::nullopt;
  }
  return std::move(filter.layout());
}

std::string TnefAttachmentStream(const ScratchFile& file, Span stream, const TnefLayout& layout,
                                 std::size_t index) {
  std::string bytes = file.Read({stream.begin, kHeadBytes});
  if (layout.code_page) bytes += file.Read(*layout.code_page);
  for (const Span& attribute : layout.attachments.at(index).described_by) {
    bytes += file.Read(attribute);
  }
  return bytes;
}

}  // namespace qm
