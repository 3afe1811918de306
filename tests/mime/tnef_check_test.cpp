// The checks a TNEF stream passes before libytnef reads it: its framing, and
// each attachment's property block against libytnef's own limits. Every
// property block case, and what each layout gives libytnef, is also given to
// libytnef itself, which must agree.

#include <gtest/gtest.h>

#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "mime/TnefFiles.h"
#include "mime/TnefMapiCheck.h"
#include "mime/TnefStream.h"
#include "tests/mime/TnefWriter.h"
#include "tests/support/ScratchFiles.h"

namespace qm {
namespace {

using namespace testing;

const std::string kHead = TnefWriter().bytes();  // signature and key

std::string Attachment(const std::string& properties) {
  return kHead + TnefAttribute(kAttachmentLevel, kTnefRenderingData, std::string(14, '\0')) +
         TnefAttribute(kAttachmentLevel, kTnefAttachmentProperties, properties);
}

std::string Word(std::uint32_t value) { return LittleEndian32(value); }

// A property block of `count` properties written as `body`.
std::string Block(std::uint32_t count, const std::string& body) { return Word(count) + body; }

std::string Counted(std::uint32_t tag, std::size_t size) {
  return Word(tag) + CountedProperty(tag, std::string(size, 'x')).value;
}

const std::string kGuid(16, '\x11');

TEST(TnefMapiCheck, TakesWhatLibytnefTakesAndNothingElse) {
  const struct {
    const char* label;
    std::string block;
    bool taken;
  } cases[] = {
      {"a long", Block(1, Word(kPropAttachMethod) + Word(1)), true},
      {"a Unicode name", MapiBlock({CountedProperty(kPropLongFileNameUnicode, Utf16Le(u"a.pdf"))}),
       true},
      {"a value of the largest size", Block(1, Counted(0x37010102, 524288)), true},
      {"an empty value", Block(1, Counted(0x37010102, 0)), true},
      {"no property", Block(0, ""), false},
      {"a thousand and one properties", Block(1001, ""), false},
      {"fewer properties than counted", Block(2, Word(kPropAttachMethod) + Word(1)), false},
      {"an unknown type", Block(1, Word(0x37050009) + Word(1)), false},
      {"a value too large", Block(1, Counted(0x37010102, 524289)), false},
      {"a value past the end", Block(1, Word(0x37010102) + Word(1) + Word(64) + "short"), false},
      {"a short value without its padding", Block(1, Word(0x00360002) + "\x01\x00"), false},
      {"a short value with its padding", Block(1, Word(0x00360002) + Word(1)), true},
      {"bytes after the last property", Block(1, Word(kPropAttachMethod) + Word(1) + "xx"), false},
      {"a count cut off", "\x01\x00", false},
      {"two values of a multi-valued long, then a long",
       Block(2, Word(0x37051003) + Word(2) + Word(1) + Word(2) + Word(kPropAttachMethod) + Word(1)),
       true},
      // libytnef counts a property's second value as a property of its own.
      {"two values of a multi-valued long last",
       Block(1, Word(0x37051003) + Word(2) + Word(1) + Word(2)), false},
      {"one value of a multi-valued long last", Block(1, Word(0x37051003) + Word(1) + Word(1)),
       true},
      {"a multi-valued string, then a long",
       Block(2, Word(0x3707101E) + Word(2) + Word(2) + std::string("a\0\0\0", 4) + Word(3) +
                    std::string("bc\0\0", 4) + Word(kPropAttachMethod) + Word(1)),
       true},
      {"no value of a multi-valued property", Block(1, Word(0x37051003) + Word(0)), false},
      {"too many values", Block(1, Word(0x37051003) + Word(1001)), false},
      {"a named property by number",
       Block(1, Word(0x80000003) + kGuid + Word(0) + Word(7) + Word(1)), true},
      {"a named property by name",
       Block(1, Word(0x80000003) + kGuid + Word(1) + Word(4) + std::string("n\0m\0", 4) + Word(1)),
       true},
      {"a name of no bytes", Block(1, Word(0x80000003) + kGuid + Word(1) + Word(0) + Word(1)),
       false},
      {"a name of the largest size",
       Block(1, Word(0x80000003) + kGuid + Word(1) + Word(100) + std::string(100, 'n') + Word(1)),
       true},
      {"a name too long",
       Block(1, Word(0x80000003) + kGuid + Word(1) + Word(101) + std::string(104, 'n') + Word(1)),
       false},
      {"a GUID cut off", Block(1, Word(0x80000003) + "\x11\x11"), false},
      {"a subject of the largest size", Block(1, Counted(0x0037001E, 100)), true},
      {"a subject too long", Block(1, Counted(0x0037001E, 101)), false},
      {"an empty subject", Block(1, Counted(0x0037001E, 0)), false},
      {"a named property numbered as a subject",
       Block(1, Word(0x8000001E) + kGuid + Word(0) + Word(0x0037) + Counted(0, 101).substr(4)),
       false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(LibytnefTakesMapiBlock(c.block), c.taken) << c.label;
    EXPECT_EQ(LibytnefReads(Attachment(c.block)), c.taken) << c.label << " (libytnef itself)";
  }
}

// What the layout of `stream` notes: for each attachment, what libytnef is
// given after the signature and key, and the file's data; std::nullopt when
// the stream is not unpacked at all.
struct NotedAttachment {
  std::string described;
  std::optional<std::string> data;
  bool operator==(const NotedAttachment&) const = default;
};

std::ostream& operator<<(std::ostream& out, const NotedAttachment& a) {
  return out << "{" << a.described.size() << " bytes, data " << (a.data ? *a.data : "none") << "}";
}

struct Noted {
  std::vector<NotedAttachment> attachments;
  bool incomplete;
};

std::optional<Noted> Layout(const std::string& stream) {
  ScratchFile scratch(qm::testing::NewScratchFile());
  scratch.Append("padding before the stream");
  const Span span{scratch.size(), static_cast<std::int64_t>(stream.size())};
  scratch.Append(stream);
  const std::optional<TnefLayout> layout = ReadTnefLayout(scratch, span);
  if (!layout) return std::nullopt;
  Noted noted{{}, layout->incomplete};
  for (std::size_t i = 0; i < layout->attachments.size(); ++i) {
    const std::string described = TnefAttachmentStream(scratch, span, *layout, i);
    EXPECT_TRUE(LibytnefReads(described)) << "attachment " << i;
    const auto& data = layout->attachments[i].data;
    noted.attachments.push_back(
        {described.substr(kHead.size()),
         data ? std::optional<std::string>(scratch.Read(*data)) : std::nullopt});
  }
  return noted;
}

TEST(TnefStream, FramingIsCheckedStrictlyDamageKeepsWhatCameBefore) {
  const std::string rendering =
      TnefAttribute(kAttachmentLevel, kTnefRenderingData, std::string(14, '\0'));
  const std::string data = TnefAttribute(kAttachmentLevel, kTnefFileData, "DATA");
  const std::string title = TnefAttribute(kAttachmentLevel, kTnefTitle, std::string("a.pdf\0", 6));
  const std::string subject = TnefAttribute(kMessageLevel, kTnefSubject, std::string("Hi\0", 3));
  const std::string refused =
      TnefAttribute(kAttachmentLevel, kTnefAttachmentProperties, Block(0, ""));
  std::string large_values;  // each value within libytnef's limit, all of them beyond ours
  for (int i = 0; i < 5; ++i) large_values += Counted(0x37010102, 500000);
  const std::string oversized =
      TnefAttribute(kAttachmentLevel, kTnefAttachmentProperties, Block(5, large_values));
  const std::string code_page = TnefAttribute(kMessageLevel, kTnefCodePage, Word(932));
  const std::string file = rendering + title + data;
  const NotedAttachment noted_file{rendering + title, "DATA"};
  std::string many;
  for (std::size_t i = 0; i <= kMaxTnefAttachments; ++i) many += rendering + data;
  const struct {
    const char* label;
    std::string stream;
    std::optional<std::vector<NotedAttachment>> attachments;  // none: not unpacked
    bool incomplete;
  } cases[] = {
      {"a file", kHead + subject + file, {{noted_file}}, false},
      {"no attribute", kHead, {{}}, false},
      {"a wrong signature", "\x78\x9f\x3e\x23\x01\x00" + file, std::nullopt, false},
      {"no key", kHead.substr(0, 5), std::nullopt, false},
      {"a header cut off", kHead + file + data.substr(0, 6), {{noted_file}}, true},
      {"data cut off", kHead + file + data.substr(0, data.size() - 3), {{noted_file}}, true},
      {"a checksum cut off", kHead + file + data.substr(0, data.size() - 1), {{noted_file}}, true},
      {"a wrong checksum",
       kHead + file + rendering + TnefAttribute(kAttachmentLevel, kTnefFileData, "DATA", 1),
       {{noted_file, {rendering, std::nullopt}}},
       true},
      {"an unknown level", kHead + "\x03" + file.substr(1), {{}}, true},
      {"a length beyond the stream",
       kHead + file + "\x02" + Word(kTnefFileData) + Word(0xFFFFFFFF) + "DATA\x28\x01",
       {{noted_file}},
       true},
      {"too many attachments", kHead + many, std::nullopt, false},
      {"file data before any attachment", kHead + data + file, {{noted_file}}, true},
      {"a second data attribute", kHead + file + data, {{noted_file}}, true},
      {"empty file data",
       kHead + rendering + TnefAttribute(kAttachmentLevel, kTnefFileData, ""),
       {{{rendering, ""}}},
       false},
      {"a property block libytnef refuses", kHead + file + refused, {{noted_file}}, true},
      {"a property block too large to be read into memory",
       kHead + file + oversized,
       {{noted_file}},
       true},
      {"a title of the largest size",
       kHead + rendering + TnefAttribute(kAttachmentLevel, kTnefTitle, std::string(100, 't')),
       {{{rendering + TnefAttribute(kAttachmentLevel, kTnefTitle, std::string(100, 't')),
          std::nullopt}}},
       false},
      {"a title longer than libytnef takes",
       kHead + rendering + TnefAttribute(kAttachmentLevel, kTnefTitle, std::string(101, 't')) +
           data,
       {{{rendering, "DATA"}}},
       false},
      {"an empty rendering attribute",
       kHead + TnefAttribute(kAttachmentLevel, kTnefRenderingData, "") + data, std::nullopt, false},
      {"an empty code page",
       kHead + TnefAttribute(kMessageLevel, kTnefCodePage, "") + file,
       {{noted_file}},
       false},
      {"a second code page, after the file",
       kHead + code_page + file + TnefAttribute(kMessageLevel, kTnefCodePage, Word(1252)),
       {{{code_page + rendering + title, "DATA"}}},
       false},
  };
  for (const auto& c : cases) {
    const std::optional<Noted> noted = Layout(c.stream);
    ASSERT_EQ(noted.has_value(), c.attachments.has_value()) << c.label;
    if (!noted) continue;
    EXPECT_EQ(noted->attachments, *c.attachments) << c.label;
    EXPECT_EQ(noted->incomplete, c.incomplete) << c.label;
  }
}

}  // namespace
}  // namespace qm
