#pragma once
// Writes TNEF streams (winmail.dat) for tests, laid out as Outlook writes
// them: the signature and a key, then attributes, each a level, an id, a
// length, the data and a checksum. Attachment and message properties are
// MAPI property blocks.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace qm::testing {

// Attribute ids (the type in the high word, the id in the low one).
inline constexpr std::uint32_t kTnefVersion = 0x00089006;
inline constexpr std::uint32_t kTnefCodePage = 0x00069007;
inline constexpr std::uint32_t kTnefMessageClass = 0x00078008;
inline constexpr std::uint32_t kTnefSubject = 0x00018004;
inline constexpr std::uint32_t kTnefDateSent = 0x00038005;
inline constexpr std::uint32_t kTnefMessageProperties = 0x00069003;
inline constexpr std::uint32_t kTnefRenderingData = 0x00069002;
inline constexpr std::uint32_t kTnefFileData = 0x0006800F;
inline constexpr std::uint32_t kTnefTitle = 0x00018010;
inline constexpr std::uint32_t kTnefAttachmentProperties = 0x00069005;

inline constexpr unsigned char kMessageLevel = 1;
inline constexpr unsigned char kAttachmentLevel = 2;

// Property tags (id in the high word, type in the low one).
inline constexpr std::uint32_t kPropSubjectUnicode = 0x0037001F;
inline constexpr std::uint32_t kPropRtfCompressed = 0x10090102;
inline constexpr std::uint32_t kPropAttachMethod = 0x37050003;
inline constexpr std::uint32_t kPropAttachDataObject = 0x3701000D;
inline constexpr std::uint32_t kPropLongFileNameUnicode = 0x3707001F;
inline constexpr std::uint32_t kPropLongFileName8 = 0x3707001E;

std::string LittleEndian32(std::uint32_t value);
std::string LittleEndian16(std::uint16_t value);

// `text` (UTF-8) as NUL-terminated UTF-16LE, as MAPI stores Unicode strings.
std::string Utf16Le(std::u16string_view text);

// One MAPI property as written: its tag and its encoded value.
struct MapiProperty {
  std::uint32_t tag;
  std::string value;  // everything after the tag
};

// A string, binary or object value: one value, its length, its bytes padded
// to four.
MapiProperty CountedProperty(std::uint32_t tag, std::string_view bytes);
MapiProperty LongProperty(std::uint32_t tag, std::uint32_t value);

// A property block: the count, then the properties.
std::string MapiBlock(const std::vector<MapiProperty>& properties);

// One attribute with its checksum; `checksum_error` is added to the checksum.
std::string TnefAttribute(unsigned char level, std::uint32_t id, std::string_view data,
                          std::uint16_t checksum_error = 0);

struct TnefFile {
  std::string title;                     // the short name, in the code page, without NUL
  std::string data;                      // the file's bytes
  std::vector<MapiProperty> properties;  // none: no property block
};

class TnefWriter {
 public:
  TnefWriter();

  // What Outlook writes for the message itself: version, code page, class,
  // and a property block with the subject and the compressed rich text.
  TnefWriter& MessageHeader(std::uint32_t code_page, std::u16string_view subject);
  TnefWriter& File(const TnefFile& file);
  TnefWriter& Raw(std::string_view bytes);

  const std::string& bytes() const { return bytes_; }

 private:
  std::string bytes_;
};

// A message with a text body and `tnef` as its winmail.dat, base64-encoded.
std::string MailWithWinmailDat(const std::string& tnef);

}  // namespace qm::testing
