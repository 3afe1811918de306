#include "mime/TnefMapiCheck.h"

#include <cstddef>
#include <cstdint>

namespace qm {
namespace {

// libytnef's limits on what one block may announce.
constexpr std::uint32_t kMaxCount = 1000;         // properties, names, values of one property
constexpr std::uint32_t kMaxNameBytes = 100;      // the name of a named property
constexpr std::uint32_t kMaxValueBytes = 524288;  // a string or binary value
constexpr std::uint32_t kMaxSubjectBytes = 100;   // a value of a subject property

constexpr std::uint32_t kMultiValued = 0x1000;
constexpr std::uint32_t kFirstNamedId = 0x8000;

// Property types (the low 16 bits of a tag) and their fixed sizes.
enum : std::uint32_t {
  kI2 = 2,
  kLong = 3,
  kR4 = 4,
  kDouble = 5,
  kCurrency = 6,
  kAppTime = 7,
  kError = 10,
  kBoolean = 11,
  kObject = 13,
  kI8 = 20,
  kString8 = 30,
  kUnicode = 31,
  kSysTime = 64,
  kClsid = 72,
  kBinary = 258,
};

bool IsSubjectId(std::uint32_t id) {
  return id == 0x0037 || id == 0x0038 || id == 0x0049 || id == 0x0070 || id == 0x0E1D;
}

std::uint32_t Padded(std::uint32_t size) { return size + (size % 4 != 0 ? 4 - size % 4 : 0); }

// A cursor over the block that, like libytnef's, may step past the end when
// it skips padding; the next read then fails.
class BlockReader {
 public:
  explicit BlockReader(std::string_view block) : block_(block) {}

  bool Has(std::uint64_t bytes) const { return at_ + bytes <= block_.size(); }
  bool Word(std::uint32_t& value) {
    if (!Has(4)) return false;
    value = 0;
    for (int i = 3; i >= 0; --i) {
      value = value << 8 | static_cast<unsigned char>(block_[at_ + static_cast<std::size_t>(i)]);
    }
    at_ += 4;
    return true;
  }
  void Skip(std::uint64_t bytes) { at_ += bytes; }
  bool AtEnd() const { return at_ == block_.size(); }

 private:
  std::string_view block_;
  std::uint64_t at_ = 0;
};

bool InRange(std::uint32_t value, std::uint32_t max) { return value != 0 && value <= max; }

// The names of a named property, or the number that stands for its name.
bool NamedProperty(BlockReader& in, std::uint32_t& id) {
  if (!in.Has(16)) return false;
  in.Skip(16);  // the property set's GUID
  std::uint32_t names = 0;
  if (!in.Word(names)) return false;
  if (names == 0) return in.Word(id);  // the tag's id becomes this number's low bits
  if (!InRange(names, kMaxCount)) return false;
  for (std::uint32_t i = 0; i < names; ++i) {
    std::uint32_t size = 0;
    if (!in.Word(size) || !InRange(size, kMaxNameBytes) || !in.Has(size)) return false;
    in.Skip(Padded(size));
  }
  return true;
}

bool HasCountedSize(std::uint32_t type) {
  return type == kBinary || type == kObject || type == kString8 || type == kUnicode;
}

// The bytes a value of a fixed-size type takes; 0 for a type libytnef does
// not know.
std::uint32_t FixedSize(std::uint32_t type) {
  switch (type) {
    case kI2:  // two bytes, padded to four
    case kBoolean:
    case kLong:
    case kR4:
    case kCurrency:
    case kAppTime:
    case kError:
      return 4;
    case kDouble:
    case kI8:
    case kSysTime:
      return 8;
    case kClsid:
      return 16;
    default:
      return 0;
  }
}

// One value of type `type`; `counted` when a count of values precedes it (a
// property that is not multi-valued still carries one for strings).
bool Value(BlockReader& in, std::uint32_t type, bool counted, std::uint32_t id) {
  std::uint32_t size = 0;
  if (HasCountedSize(type)) {
    std::uint32_t ignored = 0;
    if (counted && !in.Word(ignored)) return false;
    if (!in.Word(size)) return false;
    if (size != 0 && (!in.Has(size) || size > kMaxValueBytes)) return false;
    in.Skip(Padded(size));
  } else {
    const std::uint32_t fixed = FixedSize(type);
    // A two-byte value needs only its two bytes; the padding is checked later.
    size = type == kI2 ? 2 : fixed;
    if (fixed == 0 || !in.Has(size)) return false;
    in.Skip(fixed);
  }
  return !IsSubjectId(id & 0xFFFF) || InRange(size, kMaxSubjectBytes);
}

// `last`: libytnef counts the second and later values of a multi-valued
// property as properties of their own, so the last property of a block can
// have only one.
bool Property(BlockReader& in, bool last) {
  std::uint32_t tag = 0;
  if (!in.Word(tag)) return false;
  std::uint32_t type = tag & 0xFFFF;
  std::uint32_t id = tag >> 16;
  if (id >= kFirstNamedId && !NamedProperty(in, id)) return false;
  std::uint32_t values = 1;
  const bool multi = (type & kMultiValued) != 0;
  if (multi) {
    type -= kMultiValued;
    if (!in.Word(values)) return false;
  }
  if (!InRange(values, kMaxCount) || (last && values > 1)) return false;
  for (std::uint32_t i = 0; i < values; ++i) {
    if (!Value(in, type, !multi, id)) return false;
  }
  return true;
}

}  // namespace

bool LibytnefTakesMapiBlock(std::string_view block) {
  BlockReader in(block);
  std::uint32_t count = 0;
  if (!in.Word(count) || !InRange(count, kMaxCount)) return false;
  for (std::uint32_t i = 0; i < count; ++i) {
    if (!Property(in, i + 1 == count)) return false;
  }
  return in.AtEnd();
}

}  // namespace qm
