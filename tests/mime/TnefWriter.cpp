#include "tests/mime/TnefWriter.h"

#include <gmime/gmime.h>

namespace qm::testing {
namespace {

constexpr std::uint32_t kSignature = 0x223E9F78;
constexpr std::uint16_t kKey = 0x0001;

// Rendering data of an attached file: type 1 (a file), no position, size or flags.
std::string FileRenderingData() {
  return LittleEndian16(1) + LittleEndian32(0xFFFFFFFF) + LittleEndian16(0) + LittleEndian16(0) +
         LittleEndian32(0);
}

std::string Base64Lines(const std::string& bytes) {
  gchar* encoded = g_base64_encode(reinterpret_cast<const guchar*>(bytes.data()), bytes.size());
  std::string text(encoded);
  g_free(encoded);
  std::string lines;
  for (std::size_t at = 0; at < text.size(); at += 76) lines += text.substr(at, 76) + "\n";
  return lines;
}

}  // namespace

std::string LittleEndian32(std::uint32_t value) {
  std::string bytes;
  for (int i = 0; i < 4; ++i) bytes += static_cast<char>(value >> (8 * i) & 0xFF);
  return bytes;
}

std::string LittleEndian16(std::uint16_t value) {
  return {static_cast<char>(value & 0xFF), static_cast<char>(value >> 8)};
}

std::string Utf16Le(std::u16string_view text) {
  std::string bytes;
  for (const char16_t unit : text) bytes += LittleEndian16(static_cast<std::uint16_t>(unit));
  return bytes + LittleEndian16(0);
}

MapiProperty CountedProperty(std::uint32_t tag, std::string_view bytes) {
  std::string value = LittleEndian32(1) + LittleEndian32(static_cast<std::uint32_t>(bytes.size()));
  value += bytes;
  value.append((4 - bytes.size() % 4) % 4, '\0');
  return {tag, value};
}

MapiProperty LongProperty(std::uint32_t tag, std::uint32_t value) {
  return {tag, LittleEndian32(value)};
}

std::string MapiBlock(const std::vector<MapiProperty>& properties) {
  std::string block = LittleEndian32(static_cast<std::uint32_t>(properties.size()));
  for (const MapiProperty& property : properties) {
    block += LittleEndian32(property.tag) + property.value;
  }
  return block;
}

std::string TnefAttribute(unsigned char level, std::uint32_t id, std::string_view data,
                          std::uint16_t checksum_error) {
  std::uint16_t sum = checksum_error;
  for (const char c : data) sum = static_cast<std::uint16_t>(sum + static_cast<unsigned char>(c));
  std::string attribute(1, static_cast<char>(level));
  attribute += LittleEndian32(id) + LittleEndian32(static_cast<std::uint32_t>(data.size()));
  attribute += data;
  return attribute + LittleEndian16(sum);
}

TnefWriter::TnefWriter() : bytes_(LittleEndian32(kSignature) + LittleEndian16(kKey)) {}

TnefWriter& TnefWriter::MessageHeader(std::uint32_t code_page, std::u16string_view subject) {
  bytes_ += TnefAttribute(kMessageLevel, kTnefVersion, LittleEndian32(0x00010000));
  bytes_ +=
      TnefAttribute(kMessageLevel, kTnefCodePage, LittleEndian32(code_page) + LittleEndian32(0));
  bytes_ +=
      TnefAttribute(kMessageLevel, kTnefMessageClass, std::string("IPM.Microsoft Mail.Note\0", 24));
  // Compressed rich text: sizes, the "LZFu" magic, a CRC, then the data.
  const std::string rtf =
      LittleEndian32(16) + LittleEndian32(32) + "LZFu" + LittleEndian32(0) + std::string(4, '\x2A');
  bytes_ += TnefAttribute(kMessageLevel, kTnefMessageProperties,
                          MapiBlock({CountedProperty(kPropSubjectUnicode, Utf16Le(subject)),
                                     CountedProperty(kPropRtfCompressed, rtf)}));
  return *this;
}

TnefWriter& TnefWriter::File(const TnefFile& file) {
  bytes_ += TnefAttribute(kAttachmentLevel, kTnefRenderingData, FileRenderingData());
  if (!file.title.empty()) {
    bytes_ += TnefAttribute(kAttachmentLevel, kTnefTitle, file.title + '\0');
  }
  if (!file.data.empty()) bytes_ += TnefAttribute(kAttachmentLevel, kTnefFileData, file.data);
  if (!file.properties.empty()) {
    bytes_ +=
        TnefAttribute(kAttachmentLevel, kTnefAttachmentProperties, MapiBlock(file.properties));
  }
  return *this;
}

TnefWriter& TnefWriter::Raw(std::string_view bytes) {
  bytes_ += bytes;
  return *this;
}

std::string MailWithWinmailDat(const std::string& tnef) {
  return "From: a@example.com\nSubject: rich text\nMIME-Version: 1.0\n"
         "Content-Type: multipart/mixed; boundary=\"XX\"\n\n"
         "--XX\nContent-Type: text/plain\n\nbody text\n"
         "--XX\nContent-Type: application/ms-tnef; name=\"winmail.dat\"\n"
         "Content-Disposition: attachment; filename=\"winmail.dat\"\n"
         "Content-Transfer-Encoding: base64\n\n" +
         Base64Lines(tnef) + "--XX--\n";
}

}  // namespace qm::testing
