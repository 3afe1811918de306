#include "mime/AttachmentList.h"

#include <gmime/gmime.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "base/Failure.h"
#include "base/FileSystem.h"
#include "mail/AttachmentFile.h"
#include "mime/BoundedHeaderBlock.h"
#include "mime/PartBounds.h"
#include "mime/TnefStream.h"
#include "mime/UuencodedFiles.h"
#include "save/BackgroundWriter.h"
#include "save/DestinationFile.h"
#include "store/UnreadableMessage.h"
#include "tests/mime/TnefWriter.h"
#include "tests/support/FailureKindOf.h"
#include "tests/support/FileBytes.h"
#include "tests/support/ScratchFiles.h"
#include "tests/support/TempDir.h"
#ifndef _WIN32
#include <fcntl.h>

#include "tests/support/FileSizeLimit.h"
#endif

namespace qm {
namespace {

namespace fs = std::filesystem;
using namespace testing;
using testing::KindOf;
using testing::ReadFile;
using testing::TempDir;

UniqueFd MemoryFile(const std::string& bytes) { return testing::FileHolding(bytes); }

UniqueFd MemoryScratch() { return testing::NewScratchFile(); }

struct Extracted {
  std::string name;
  std::string content;
  bool operator==(const Extracted&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Extracted& file) {
  return out << "{" << file.name << ": \"" << file.content << "\"}";
}

// A file name as the program writes it, UTF-8, and as a path: on Windows a
// std::string would be taken for the ANSI code page.
fs::path PathOf(const std::string& name) {
  return fs::path(std::u8string(name.begin(), name.end()));
}

std::string NameOf(const fs::path& path) {
  const std::u8string name = path.filename().u8string();
  return std::string(name.begin(), name.end());
}

// Attachment `index` of `list` into a new file of `folder`: written at once
// by the list itself, or as the scan writes it, on `writer` when there is one.
fs::path Extract(const AttachmentList& list, std::size_t index, const fs::path& folder,
                 BackgroundWriter* writer = nullptr) {
  const UniqueFd dir(qm::fs::OpenFolder(qm::fs::kNoFolder, qm::fs::NameOf(folder)));
  if (writer != nullptr) {
    return folder / PathOf(WriteAttachmentFile(list, index, dir.get(), *writer).name);
  }
  NewFile file = CreateFreshFile(dir.get(), list.Name(index));
  list.Write(index, file.fd.get(), file.name);
  return folder / PathOf(file.name);
}

// With a writer, the files are read once it has written them all; the list
// is gone by then, as it is when a scan has moved on to the next message.
std::vector<Extracted> ExtractAll(const std::string& message, const fs::path& folder,
                                  BackgroundWriter* writer = nullptr) {
  std::vector<fs::path> paths;
  {
    AttachmentList list(MemoryFile(message), MemoryScratch);
    for (std::size_t i = 0; i < list.size(); ++i) {
      paths.push_back(Extract(list, i, folder, writer));
      EXPECT_EQ(paths.back().parent_path(), folder);
    }
  }
  if (writer != nullptr) writer->Wait();
  std::vector<Extracted> files;
  for (const fs::path& path : paths) files.push_back({NameOf(path), ReadFile(path)});
  return files;
}

// A multipart/mixed message with a short text body followed by `parts`.
std::string Mixed(const std::string& parts) {
  return "From: a@example.com\nSubject: test\nMIME-Version: 1.0\n"
         "Content-Type: multipart/mixed; boundary=\"XX\"\n\n"
         "--XX\nContent-Type: text/plain\n\nbody text\n" +
         parts + "--XX--\n";
}

std::string Part(const std::string& headers, const std::string& content) {
  return "--XX\n" + headers + "\n\n" + content + "\n";
}

const std::string kAttachedMessage =
    "Subject: Inner report\r\nFrom: b@example.com\r\nMIME-Version: 1.0\r\n"
    "Content-Type: multipart/mixed; boundary=\"IN\"\r\n\r\n"
    "--IN\r\nContent-Type: text/plain\r\n\r\ninner body\r\n"
    "--IN\r\nContent-Type: text/csv; name=\"data.csv\"\r\n\r\na,b\r\n--IN--\r\n";

struct ListCase {
  const char* label;
  std::string message;
  std::vector<Extracted> expected;
};

void PrintTo(const ListCase& c, std::ostream* out) { *out << c.label; }

class AttachmentListing : public ::testing::TestWithParam<ListCase> {};

TEST_P(AttachmentListing, ExtractsExactlyTheAttachedFiles) {
  TempDir folder;
  EXPECT_EQ(ExtractAll(GetParam().message, folder.path()), GetParam().expected);
}

TEST_P(AttachmentListing, WriterInTheBackgroundWritesTheSameFiles) {
  TempDir folder;
  BackgroundWriter writer(1);  // tiny limit: each message waits for the one before
  EXPECT_EQ(ExtractAll(GetParam().message, folder.path(), &writer), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Structures, AttachmentListing,
    ::testing::Values(
        ListCase{"NamedParts",
                 Mixed(Part("Content-Type: application/pdf\nContent-Disposition: attachment; "
                            "filename=\"a.pdf\"\nContent-Transfer-Encoding: base64",
                            "JVBERi0xLjQgc2Nhbm5lZA==") +
                       Part("Content-Type: text/plain; name=\"notes.txt\"", "plain notes")),
                 {{"a.pdf", "%PDF-1.4 scanned"}, {"notes.txt", "plain notes"}}},
        ListCase{"DispositionNameWinsOverTypeName",
                 Mixed(Part("Content-Type: image/png; name=\"type.png\"\n"
                            "Content-Disposition: attachment; filename=\"disp.png\"",
                            "PNG")),
                 {{"disp.png", "PNG"}}},
        ListCase{"NamelessPartsGetAnExtensionFromTheType",
                 Mixed(Part("Content-Type: application/pdf", "P") +
                       Part("Content-Type: image/jpeg", "J") +
                       Part("Content-Type: application/x-unheard-of", "U") +
                       Part("Content-Type: text/plain\nContent-Disposition: attachment", "T")),
                 {{"attachment.pdf", "P"},
                  {"attachment.jpg", "J"},
                  {"attachment.bin", "U"},
                  {"attachment.txt", "T"}}},
        ListCase{"BodiesInAlternativeAreNotFiles",
                 "Subject: s\nMIME-Version: 1.0\n"
                 "Content-Type: multipart/alternative; boundary=\"AL\"\n\n"
                 "--AL\nContent-Type: text/plain\n\nplain\n"
                 "--AL\nContent-Type: text/html\n\n<p>html</p>\n--AL--\n",
                 {}},
        ListCase{"EmbeddedImagesInRelatedAreNotFiles",
                 "Subject: s\nMIME-Version: 1.0\n"
                 "Content-Type: multipart/related; boundary=\"RE\"\n\n"
                 "--RE\nContent-Type: text/html\n\n<img src=\"cid:logo\">\n"
                 "--RE\nContent-Type: image/png; name=\"logo.png\"\nContent-ID: <logo>\n\nL\n"
                 "--RE\nContent-Type: image/png; name=\"photo.png\"\nContent-ID: <photo>\n"
                 "Content-Disposition: attachment\n\nP\n--RE--\n",
                 {{"photo.png", "P"}}},
        ListCase{"ContentIdOutsideRelatedIsStillAFile",
                 Mixed(Part("Content-Type: image/gif\nContent-ID: <x>", "G")),
                 {{"attachment.gif", "G"}}},
        ListCase{"TopLevelPdfFromAScanner",
                 "Subject: scan\nMIME-Version: 1.0\nContent-Type: application/pdf\n"
                 "Content-Transfer-Encoding: base64\n\nJVBERi0xLjQgc2Nhbm5lZA==\n",
                 {{"attachment.pdf", "%PDF-1.4 scanned"}}},
        ListCase{"TopLevelTextIsABody", "Subject: s\n\njust text\n", {}},
        ListCase{
            "AttachedMessageKeepsItsBytesAndItsFilesFollow",
            Mixed(Part("Content-Type: message/rfc822", kAttachedMessage) +
                  Part("Content-Type: text/plain; name=\"after.txt\"", "after")),
            {{"Inner report.eml", kAttachedMessage}, {"data.csv", "a,b"}, {"after.txt", "after"}}},
        ListCase{"AttachedMessageStartingWithContentFieldsKeepsThem",
                 Mixed(Part("Content-Type: message/rfc822",
                            "Content-Type: text/csv; name=\"d.csv\"\nSubject: csv\n\n1,2")),
                 {{"csv.eml", "Content-Type: text/csv; name=\"d.csv\"\nSubject: csv\n\n1,2"},
                  {"d.csv", "1,2"}}},
        ListCase{"AttachedMessageWithoutSubject",
                 Mixed(Part("Content-Type: message/rfc822", "From: c@example.com\n\nhi")),
                 {{"attachment.eml", "From: c@example.com\n\nhi"}}},
        ListCase{"TransferEncodedAttachedMessageIsDecoded",
                 Mixed(Part("Content-Type: message/rfc822\nContent-Transfer-Encoding: base64",
                            "U3ViamVjdDogZW5jCgpoaQ==")),
                 {{"enc.eml", "Subject: enc\n\nhi"}}},
        ListCase{"SlashesInAnAttachedSubjectStay",
                 Mixed(Part("Content-Type: message/rfc822", "Subject: a/b\n\nhi")),
                 {{"a_b.eml", "Subject: a/b\n\nhi"}}},
        ListCase{"Rfc2231JapaneseName",
                 Mixed(Part("Content-Type: application/pdf\nContent-Disposition: attachment;\n"
                            " filename*=UTF-8''%E8%AB%8B%E6%B1%82%E6%9B%B8.pdf",
                            "X")),
                 {{"請求書.pdf", "X"}}},
        // Written by their UTF-16 names on Windows, never through code page 932.
        ListCase{"JapaneseNameOutsideCodePage932",
                 Mixed(Part("Content-Type: application/pdf\nContent-Disposition: attachment;"
                            " filename*=UTF-8''%F0%A0%AE%B7%E9%87%8E%E5%AE%B6%E3%81%AE%E9%B7%97%E5%"
                            "A4%96.pdf",
                            "X")),
                 {{"\U00020BB7野家の鷗外.pdf", "X"}}},
        ListCase{"EncodedWordInQuotes",
                 Mixed(Part("Content-Type: application/octet-stream;\n"
                            " name=\"=?iso-2022-jp?b?GyRCOCtAUT1xGyhCLnhsc3g=?=\"",
                            "X")),
                 {{"見積書.xlsx", "X"}}},
        ListCase{"ShiftJisEightBitNameWithBackslashByte",
                 Mixed(Part("Content-Type: text/plain\nContent-Disposition: attachment; "
                            "filename=\"\x95\x5c.txt\"",
                            "X")),
                 {{"表.txt", "X"}}},
        ListCase{"TruncatedBase64",
                 Mixed(Part("Content-Type: application/pdf; name=\"t.pdf\"\n"
                            "Content-Transfer-Encoding: base64",
                            "aGVsbG8gd29yb")),
                 {{"t.pdf", "hello wor"}}},
        ListCase{"BadBase64Padding",
                 Mixed(Part("Content-Type: application/pdf; name=\"p.pdf\"\n"
                            "Content-Transfer-Encoding: base64",
                            "aGVsbG8=====")),
                 {{"p.pdf", "hello"}}},
        ListCase{"MissingClosingBoundary",
                 "Subject: s\nMIME-Version: 1.0\nContent-Type: multipart/mixed; boundary=\"XX\"\n\n"
                 "--XX\nContent-Type: text/plain\n\nbody\n"
                 "--XX\nContent-Type: application/zip; name=\"z.zip\"\n\nZIPDATA\n",
                 {{"z.zip", "ZIPDATA\n"}}},
        ListCase{"BoundaryNeverAppears",
                 "Subject: s\nMIME-Version: 1.0\nContent-Type: multipart/mixed; boundary=\"XX\"\n\n"
                 "just some text\n",
                 {}},
        ListCase{"UnknownCharsetInName",
                 Mixed(Part("Content-Type: text/plain; charset=x-nothing\n"
                            "Content-Disposition: attachment; filename*=x-nothing''abc.txt",
                            "X")),
                 {{"abc.txt", "X"}}},
        ListCase{"UuencodedAttachment",
                 Mixed(Part("Content-Type: text/plain; name=\"u.txt\"\n"
                            "Content-Transfer-Encoding: x-uuencode",
                            "begin 644 u.txt\n#86)C\n`\nend")),
                 {{"u.txt", "abc"}}},
        ListCase{"ZeroLengthPart",
                 Mixed("--XX\nContent-Type: application/pdf; name=\"empty.pdf\"\n\n\n"),
                 {{"empty.pdf", ""}}}),
    [](const auto& info) { return std::string(info.param.label); });

// ---- content that spans many decoding blocks, in memory and read from disk -------

// Every byte value, in a sequence that does not line up with block sizes.
std::string BinaryPayload(std::size_t size) {
  std::string bytes(size, '\0');
  std::uint32_t x = 12345;
  for (char& c : bytes) {
    x = x * 1103515245u + 12345u;
    c = static_cast<char>(x >> 24);
  }
  return bytes;
}

// Lines of text with '=' signs, long lines and trailing blanks.
std::string TextPayload(std::size_t size) {
  std::string text;
  for (int line = 0; text.size() < size; ++line) {
    text += "line " + std::to_string(line) + " = \xE8\xAB\x8B\xE6\xB1\x82 " +
            std::string(static_cast<std::size_t>(line % 150), 'x') + (line % 7 == 0 ? " \n" : "\n");
  }
  return text.substr(0, size);
}

std::string Encoded(const std::string& bytes, GMimeContentEncoding encoding) {
  GMimeEncoding state;
  g_mime_encoding_init_encode(&state, encoding);
  std::string out(g_mime_encoding_outlen(&state, bytes.size()) + 16, '\0');
  out.resize(g_mime_encoding_flush(&state, bytes.data(), bytes.size(), out.data()));
  return out;
}

struct BigCase {
  const char* label;
  GMimeContentEncoding encoding;
  const char* encoding_name;
  std::string content;
};

void PrintTo(const BigCase& c, std::ostream* out) { *out << c.label; }

class BigContent : public ::testing::TestWithParam<BigCase> {};

TEST_P(BigContent, DecodesToTheSameBytes) {
  const BigCase& c = GetParam();
  const std::string message =
      Mixed(Part(std::string("Content-Type: application/octet-stream; name=\"big.bin\"\n") +
                     "Content-Transfer-Encoding: " + c.encoding_name,
                 Encoded(c.content, c.encoding)));
  for (const bool background : {false, true}) {
    SCOPED_TRACE(background ? "written in the background" : "written at once");
    TempDir folder;
    BackgroundWriter writer(64 * 1024 * 1024);
    const std::vector<Extracted> files =
        ExtractAll(message, folder.path(), background ? &writer : nullptr);
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(files[0].content.size(), c.content.size());
    EXPECT_TRUE(files[0].content == c.content) << "decoded bytes differ";
  }
}

// The process's file size limit and /proc are POSIX's and Linux's.
#ifndef _WIN32
// A write that fails (here: past the process's file size limit) is a FileWrite
// failure, whether the file is written at once or in the background.
TEST(AttachmentList, FailedWriteIsAFileWriteFailure) {
  const std::string message =
      Mixed(Part("Content-Type: application/octet-stream; name=\"big.bin\"\n"
                 "Content-Transfer-Encoding: base64",
                 Encoded(BinaryPayload(256 * 1024), GMIME_CONTENT_ENCODING_BASE64)));
  for (const bool background : {false, true}) {
    SCOPED_TRACE(background ? "written in the background" : "written at once");
    TempDir folder;
    BackgroundWriter writer(64 * 1024 * 1024);
    AttachmentList list(MemoryFile(message), MemoryScratch);
    const FailureKind kind = [&] {
      const testing::FileSizeLimit limit(64 * 1024);
      return KindOf([&] {
        Extract(list, 0, folder.path(), background ? &writer : nullptr);
        writer.Wait();
      });
    }();
    EXPECT_EQ(kind, FailureKind::FileWrite);
  }
}

// A message that cannot be read (here: a descriptor open for writing only)
// fails as the mail store; parsed as empty, its attachments would be lost and
// the message still marked read.
TEST(AttachmentList, UnreadableMessageIsAMailStoreFailure) {
  const UniqueFd message = MemoryFile(Mixed(Part(
      "Content-Type: application/pdf; name=\"a.pdf\"\nContent-Transfer-Encoding: base64", "QUJD")));
  const std::string writable = "/proc/self/fd/" + std::to_string(message.get());
  UniqueFd write_only(::open(writable.c_str(), O_WRONLY | O_CLOEXEC));
  ASSERT_TRUE(write_only.valid());
  EXPECT_EQ(KindOf([&] { AttachmentList list(std::move(write_only), MemoryScratch); }),
            FailureKind::MailStore);
}
#endif

constexpr std::size_t kMiB = 1024 * 1024;

INSTANTIATE_TEST_SUITE_P(
    Sizes, BigContent,
    ::testing::Values(BigCase{"Base64InMemory", GMIME_CONTENT_ENCODING_BASE64, "base64",
                              BinaryPayload(3 * kMiB + 7)},
                      BigCase{"Base64FromDisk", GMIME_CONTENT_ENCODING_BASE64, "base64",
                              BinaryPayload(9 * kMiB + 5)},
                      BigCase{"QuotedPrintableInMemory", GMIME_CONTENT_ENCODING_QUOTEDPRINTABLE,
                              "quoted-printable", TextPayload(3 * kMiB + 3)},
                      BigCase{"QuotedPrintableFromDisk", GMIME_CONTENT_ENCODING_QUOTEDPRINTABLE,
                              "quoted-printable", TextPayload(9 * kMiB + 1)}),
    [](const auto& info) { return std::string(info.param.label); });

// ---- files inside other wrappings: winmail.dat, uuencoded text, AppleDouble ----

const std::string kCp932Estimate = "\x8c\xa9\x90\xcf\x8f\x91.xlsx";  // 見積書.xlsx

std::string TnefInTnef(const std::string& inner) {
  return TnefWriter()
      .MessageHeader(932, u"転送")
      .File({"",
             "",
             {LongProperty(kPropAttachMethod, 5),
              CountedProperty(kPropAttachDataObject, std::string(16, '\x07') + inner)}})
      .bytes();
}

// A stream `depth` attached messages deep, with one file at the bottom.
std::string NestedTnef(int depth) {
  std::string tnef = TnefWriter().MessageHeader(932, u"底").File({"deep.txt", "D", {}}).bytes();
  for (int i = 0; i < depth; ++i) tnef = TnefInTnef(tnef);
  return tnef;
}

std::string TnefBomb() {
  TnefWriter writer;
  for (std::size_t i = 0; i <= kMaxTnefAttachments; ++i) writer.File({"x.txt", "x", {}});
  return writer.bytes();
}

const std::string kTwoFiles = TnefWriter()
                                  .MessageHeader(932, u"見積書の送付")
                                  .File({kCp932Estimate, "XLSX bytes", {}})
                                  .File({"report.pdf", "%PDF-1.4 report", {}})
                                  .bytes();
const std::string kLongUnicodeName =
    TnefWriter()
        .MessageHeader(932, u"計画書")
        .File({"KEIKAK~1.PDF",
               "%PDF-1.4 plan",
               {CountedProperty(kPropLongFileNameUnicode,
                                Utf16Le(u"令和6年度 事業計画書（最終版）\U00020BB7.pdf"))}})
        .bytes();
const std::string kLongSubject =
    TnefWriter()
        .MessageHeader(
            932, u"【至急】令和6年度第3四半期の売上報告書と来期の予算案についてのご確認のお願い")
        .File({"budget.xlsx", "XLSX", {}})
        .bytes();
// The second file's data attribute has a wrong checksum.
const std::string kDamagedSecondFile =
    TnefWriter()
        .MessageHeader(932, u"見積書の送付")
        .File({kCp932Estimate, "XLSX bytes", {}})
        .File({"report.pdf", "", {}})
        .Raw(TnefAttribute(kAttachmentLevel, kTnefFileData, "%PDF-1.4 report", 1))
        .File({"after.txt", "never read", {}})
        .bytes();
// An empty file keeps its data attribute, of no bytes.
const std::string kEmptyFirstFile = TnefWriter()
                                        .MessageHeader(932, u"空のファイル")
                                        .File({"empty.txt", "", {}})
                                        .Raw(TnefAttribute(kAttachmentLevel, kTnefFileData, ""))
                                        .File({"report.pdf", "%PDF-1.4 report", {}})
                                        .bytes();
const std::string kRichTextOnly = TnefWriter().MessageHeader(932, u"打ち合わせの件").bytes();
const std::string kBadChecksum =
    TnefWriter()
        .Raw(TnefAttribute(kAttachmentLevel, kTnefRenderingData, std::string(14, '\0')))
        .Raw(TnefAttribute(kAttachmentLevel, kTnefFileData, "PDF", 7))
        .bytes();
// An unknown property type makes libytnef give up on the whole stream.
const std::string kRefusedProperties =
    TnefWriter().File({"a.pdf", "A", {{0x37050009, LittleEndian32(1)}}}).bytes();

std::string Iso2022JpUuencodedMail() {
  return "Subject: drawing\nMIME-Version: 1.0\nContent-Type: text/plain; charset=ISO-2022-JP\n\n"
         "\x1b$BE:IU%U%!%$%k$rAw$j$^$9!#\x1b(B\n\n"
         "begin 644 \x1b$B?^LL\x1b(B.pdf\n"
         "0)5!$1BTQ+C0@9')A=VEN9P  \n`\nend\n\n-- \nsignature\n";
}

std::string Uuencoded(const std::string& bytes) {
  return Encoded(bytes, GMIME_CONTENT_ENCODING_UUENCODE);
}

// The first line of a block of three, then nothing: the message was cut.
std::string CutOffUuencodedMail() {
  const std::string lines = Uuencoded(BinaryPayload(120));
  return "Subject: scan\n\nbegin 600 scan.bin\n" + lines.substr(0, lines.find('\n') + 1);
}

INSTANTIATE_TEST_SUITE_P(
    Wrappings, AttachmentListing,
    ::testing::Values(
        ListCase{"OutlookRichTextWithTwoFilesOneNamedInCp932",
                 MailWithWinmailDat(kTwoFiles),
                 {{"見積書.xlsx", "XLSX bytes"}, {"report.pdf", "%PDF-1.4 report"}}},
        ListCase{"OutlookLongUnicodeName",
                 MailWithWinmailDat(kLongUnicodeName),
                 {{"令和6年度 事業計画書（最終版）\U00020BB7.pdf", "%PDF-1.4 plan"}}},
        ListCase{"OutlookSubjectLongerThanLibytnefTakes",
                 MailWithWinmailDat(kLongSubject),
                 {{"budget.xlsx", "XLSX"}}},
        ListCase{"OutlookRichTextOnly", MailWithWinmailDat(kRichTextOnly), {}},
        ListCase{"CorruptTnefIsSavedAsItStands",
                 MailWithWinmailDat(kBadChecksum),
                 {{"winmail.dat", kBadChecksum}}},
        ListCase{"CutOffTnefGivesTheFilesBeforeTheCutAndTheWinmailDat",
                 MailWithWinmailDat(kTwoFiles.substr(0, kTwoFiles.size() - 5)),
                 {{"見積書.xlsx", "XLSX bytes"},
                  {"winmail.dat", kTwoFiles.substr(0, kTwoFiles.size() - 5)}}},
        ListCase{"DamagedTnefGivesTheFilesBeforeTheDamageAndTheWinmailDat",
                 MailWithWinmailDat(kDamagedSecondFile),
                 {{"見積書.xlsx", "XLSX bytes"}, {"winmail.dat", kDamagedSecondFile}}},
        ListCase{"EmptyFileInsideTnefIsAFileAndNoWinmailDat",
                 MailWithWinmailDat(kEmptyFirstFile),
                 {{"empty.txt", ""}, {"report.pdf", "%PDF-1.4 report"}}},
        ListCase{"TnefPropertiesLibytnefRefusesKeepTheWinmailDatToo",
                 MailWithWinmailDat(kRefusedProperties),
                 {{"a.pdf", "A"}, {"winmail.dat", kRefusedProperties}}},
        ListCase{"FilesOfAMessageAttachedInsideTnef",
                 MailWithWinmailDat(TnefInTnef(kTwoFiles)),
                 {{"見積書.xlsx", "XLSX bytes"}, {"report.pdf", "%PDF-1.4 report"}}},
        ListCase{"TnefNestedBeyondTheLimitKeepsTheWinmailDat",
                 MailWithWinmailDat(NestedTnef(5)),
                 {{"winmail.dat", NestedTnef(5)}}},
        ListCase{
            "TnefNestedWithinTheLimit", MailWithWinmailDat(NestedTnef(4)), {{"deep.txt", "D"}}},
        ListCase{"TnefBombIsSavedAsItStands",
                 MailWithWinmailDat(TnefBomb()),
                 {{"winmail.dat", TnefBomb()}}},
        ListCase{"HostileNameInsideTnef",
                 MailWithWinmailDat(TnefWriter().File({"..\\..\\evil.bat", "E", {}}).bytes()),
                 {{"evil.bat", "E"}}},
        ListCase{"WinmailDatKnownByItsNameOnly",
                 Mixed(Part("Content-Type: application/octet-stream; name=\"WINMAIL.DAT\"\n"
                            "Content-Transfer-Encoding: base64",
                            Encoded(kTwoFiles, GMIME_CONTENT_ENCODING_BASE64))),
                 {{"見積書.xlsx", "XLSX bytes"}, {"report.pdf", "%PDF-1.4 report"}}},
        ListCase{"UuencodeInAnIso2022JpBody",
                 Iso2022JpUuencodedMail(),
                 {{"図面.pdf", "%PDF-1.4 drawing"}}},
        ListCase{"CutOffUuencodeBlockGivesWhatItHolds",
                 CutOffUuencodedMail(),
                 {{"scan.bin", BinaryPayload(120).substr(0, 45)}}},
        ListCase{"TwoUuencodedFilesInABase64BodyOneNamedToEscape",
                 Mixed(Part("Content-Type: text/plain; charset=us-ascii\n"
                            "Content-Transfer-Encoding: base64",
                            Encoded("See below.\nbegin 644 ../../etc/a.txt\n" +
                                        Uuencoded("first file") + "end\nand\nbegin 0644 b.bin\n" +
                                        Uuencoded(BinaryPayload(300)) + "end\n",
                                    GMIME_CONTENT_ENCODING_BASE64))),
                 {{"a.txt", "first file"}, {"b.bin", BinaryPayload(300)}}},
        ListCase{"UuencodeWithCrlfLinesAndNoEndLine",
                 "Subject: s\r\n\r\nbegin 644 u.txt\r\n#86)C\r\n`\r\n",
                 {{"u.txt", "abc"}}},
        ListCase{"BeginLinesThatStartNoBlock",
                 "Subject: s\n\nbegin the meeting at 10\nbegin 644\nbegin 12 x.txt\n"
                 "begin-base64 644 y.txt\n",
                 {}},
        ListCase{"NamedTextAttachmentIsSavedAsItStands",
                 Mixed(Part("Content-Type: text/plain; name=\"notes.txt\"",
                            "begin 644 inner.txt\n#86)C\n`\nend")),
                 {{"notes.txt", "begin 644 inner.txt\n#86)C\n`\nend"}}},
        ListCase{"AppleDoubleGivesTheDataForkOnly",
                 Mixed(Part("Content-Type: multipart/appledouble; boundary=\"AD\"",
                            "--AD\nContent-Type: application/applefile; name=\"report.pdf\"\n"
                            "Content-Transfer-Encoding: base64\n\nAAUWBwACAAA=\n"
                            "--AD\nContent-Type: application/pdf; name=\"report.pdf\"\n\nPDF\n"
                            "--AD--")),
                 {{"report.pdf", "PDF"}}}),
    [](const auto& info) { return std::string(info.param.label); });

// A message too large to be read into memory is parsed from its file: a
// winmail.dat in it is unpacked all the same.
TEST(AttachmentList, WinmailDatInAMessageReadFromDisk) {
  const std::string big = BinaryPayload(9 * kMiB);
  const std::string message =
      Mixed(Part("Content-Type: application/octet-stream; name=\"big.bin\"\n"
                 "Content-Transfer-Encoding: base64",
                 Encoded(big, GMIME_CONTENT_ENCODING_BASE64)) +
            Part("Content-Type: application/ms-tnef; name=\"winmail.dat\"\n"
                 "Content-Transfer-Encoding: base64",
                 Encoded(kTwoFiles, GMIME_CONTENT_ENCODING_BASE64)));
  TempDir folder;
  const std::vector<Extracted> files = ExtractAll(message, folder.path());
  ASSERT_EQ(files.size(), 3u);
  EXPECT_TRUE(files[0].content == big) << "big.bin differs";
  EXPECT_EQ(files[1], (Extracted{"見積書.xlsx", "XLSX bytes"}));
  EXPECT_EQ(files[2], (Extracted{"report.pdf", "%PDF-1.4 report"}));
}

// Attached messages sent base64-encoded are looked into up to 16 MiB per
// message; a larger one is saved, decoded, without the files inside it.
TEST(AttachmentList, EncodedAttachedMessageBeyondTheLimitIsSavedAlone) {
  const std::string inner =
      "Subject: big\nMIME-Version: 1.0\nContent-Type: multipart/mixed; boundary=\"IN\"\n\n"
      "--IN\nContent-Type: text/plain\n\n" +
      TextPayload(16 * kMiB) +
      "\n--IN\nContent-Type: application/pdf; name=\"r.pdf\"\n\nPDF\n--IN--\n";
  TempDir folder;
  const std::vector<Extracted> files =
      ExtractAll(Mixed(Part("Content-Type: message/rfc822\nContent-Transfer-Encoding: base64",
                            Encoded(inner, GMIME_CONTENT_ENCODING_BASE64))),
                 folder.path());
  ASSERT_EQ(files.size(), 1u);
  EXPECT_EQ(files[0].name, "attachment.eml");
  EXPECT_TRUE(files[0].content == inner) << "the attached message differs";
}

// Names chosen by strangers, each sent as an RFC 2231 value so that any byte
// can be carried.
std::string Percent(const std::string& name) {
  std::string encoded;
  for (unsigned char c : name) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    encoded += '%';
    encoded += kHex[c >> 4];
    encoded += kHex[c & 15];
  }
  return encoded;
}

class HostileName : public ::testing::TestWithParam<std::string> {};

TEST_P(HostileName, LandsInsideTheFolderAsAPlainFile) {
  TempDir root;
  const fs::path folder = root / "dest";
  fs::create_directory(folder);
  const std::string message =
      Mixed(Part("Content-Type: application/octet-stream\nContent-Disposition: attachment;"
                 " filename*=UTF-8''" +
                     Percent(GetParam()),
                 "payload"));
  AttachmentList list(MemoryFile(message), MemoryScratch);
  ASSERT_EQ(list.size(), 1u);
  const fs::path path = Extract(list, 0, folder);
  EXPECT_EQ(path.parent_path(), folder);
  EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(path)));
  EXPECT_EQ(ReadFile(path), "payload");
  std::set<fs::path> everything;
  for (const auto& entry : fs::recursive_directory_iterator(root.path())) {
    everything.insert(entry.path());
  }
  EXPECT_EQ(everything, (std::set<fs::path>{folder, path}));
}

INSTANTIATE_TEST_SUITE_P(Names, HostileName,
                         ::testing::Values("../../x", "/etc/x", "C:\\x\\y.txt",
                                           "\\\\host\\share\\x", "a/b", "a\\b", ".", "..", "",
                                           std::string("a\0b.txt", 7),
                                           "a\x1b"
                                           "b",
                                           "a\ab", "a\tb", "a\rb", "a\nb.pdf",
                                           std::string(100, 'x') + std::string(70, '\xE3') + ".pdf",
                                           std::string(300, 'y'), "CON", "NUL.txt", "aux.pdf",
                                           "trailing.", "space ", "-rf", ".bashrc", "a:b", "a／b",
                                           "evil\u202Efdp.exe", "%2e%2e%2f"));

TEST(AttachmentList, OneNameHundredsOfTimesGivesDistinctFiles) {
  std::string parts;
  for (int i = 0; i < 300; ++i) {
    parts += Part("Content-Type: text/plain; name=\"same.txt\"", std::to_string(i));
  }
  TempDir folder;
  const std::vector<Extracted> files = ExtractAll(Mixed(parts), folder.path());
  ASSERT_EQ(files.size(), 300u);
  std::set<std::string> names;
  for (int i = 0; i < 300; ++i) {
    names.insert(files[i].name);
    EXPECT_EQ(files[i].content, std::to_string(i));
  }
  EXPECT_EQ(names.size(), 300u);
  EXPECT_EQ(files[1].name, "same (2).txt");
}

TEST(AttachmentList, ExistingFileInTheFolderIsKept) {
  TempDir folder;
  std::ofstream(folder / "a.pdf") << "old";
  const auto files = ExtractAll(Mixed(Part("Content-Type: application/pdf; name=\"a.pdf\"", "new")),
                                folder.path());
  EXPECT_EQ(files, (std::vector<Extracted>{{"a (2).pdf", "new"}}));
  EXPECT_EQ(ReadFile(folder / "a.pdf"), "old");
}

std::string Nested(int depth) {
  std::string message = "Subject: deep\nMIME-Version: 1.0\n";
  std::string tail;
  for (int i = 0; i < depth; ++i) {
    const std::string b = "B" + std::to_string(i);
    message += "Content-Type: multipart/mixed; boundary=\"" + b + "\"\n\n--" + b + "\n";
    tail = "--" + b + "--\n" + tail;
  }
  return message + "Content-Type: application/pdf; name=\"deep.pdf\"\n\nD\n" + tail;
}

struct DepthCase {
  int depth;
  bool readable;
};

void PrintTo(const DepthCase& c, std::ostream* os) { *os << "depth " << c.depth; }

class NestingDepth : public ::testing::TestWithParam<DepthCase> {};

// A part nested too deep was dropped without a word, and the message, with
// nothing found in it, was left unread as if it had no file: it is a message
// that cannot be read.
TEST_P(NestingDepth, ShallowPartsAreFoundTooDeepIsUnreadable) {
  const auto list = [] {
    return AttachmentList(MemoryFile(Nested(GetParam().depth)), MemoryScratch).size();
  };
  if (GetParam().readable) {
    EXPECT_EQ(list(), 1u);
  } else {
    EXPECT_THROW(list(), UnreadableMessage);
  }
}

INSTANTIATE_TEST_SUITE_P(Depths, NestingDepth,
                         ::testing::Values(DepthCase{1, true}, DepthCase{64, true},
                                           DepthCase{65, false}, DepthCase{5000, false}));

// A message of a megabyte of empty parts, or a part with a header block of
// megabytes, made the parser hold hundreds: one beyond the bounds is not
// parsed, and cannot be read.
TEST(PartBounds, PartsAndTheirHeaderBlocksAreBounded) {
  const auto lines = [](std::size_t count, const std::string& line) {
    std::string text;
    for (std::size_t i = 0; i < count; ++i) text += line;
    return text;
  };
  const std::string big_block =
      lines(kMaxPartHeaderBytes / 64 + 1, "X-F: " + std::string(58, 'f') + "\n");
  const std::string base64_body = lines(kMaxPartHeaderBytes / 64 + 1, std::string(63, 'Q') + "\n");
  const std::string z = "Content-Type: multipart/mixed; boundary=z\n";
  std::string many_declared;
  for (std::size_t i = 0; i <= kMaxPartLines; ++i) {
    many_declared += "Content-Type: multipart/mixed; boundary=\"b" + std::to_string(i) + "\"\n";
  }
  const struct {
    const char* label;
    std::string message;
    bool within;
  } cases[] = {
      {"parts at the bound", "Subject: s\n" + z + "\n" + lines(kMaxPartLines, "--z\n\nx\n"), true},
      {"one part beyond", "Subject: s\n" + z + "\n" + lines(kMaxPartLines + 1, "--z\n\nx\n"),
       false},
      {"CRLF and the closing delimiter count",
       z + "\n" + lines(kMaxPartLines, "--z \r\n") + "--z--\r\n", false},
      {"dashes inside lines", z + lines(kMaxPartLines + 1, "x--z\n -- z\n-x-\n"), true},
      {"a lone dash per line", lines(kMaxPartLines + 1, "-\n"), true},
      {"comment lines of a text attachment",
       z + "\n--z\nContent-Type: text/plain\n\n" + lines(kMaxPartLines + 1, "-- note\n--\n") +
           "--z--\n",
       true},
      {"delimiters of no declared boundary", lines(kMaxPartLines + 1, "--z\n\nx\n"), true},
      {"boundaries declared beyond", many_declared, false},
      {"a part header block beyond", z + "\n--z\n" + big_block + "\nbody\n", false},
      {"a long part header line",
       z + "\n--z\nX-Long: " + std::string(kMaxPartHeaderBytes, 'l') + "\n\n", false},
      {"a large body after its header block", z + "\n--z\nContent-Type: a/b\n\n" + base64_body,
       true},
      {"an attached message's header block beyond",
       z + "\n--z\nContent-Type: Message/RFC822\n\n" + big_block + "\nbody\n", false},
      {"an attached message sent base64-encoded",
       z + "\n--z\nContent-Type: message/rfc822\nContent-Transfer-Encoding: BASE64\n\n" +
           base64_body,
       true},
      {"a top-level header block is not a part's", big_block + "\nbody\n", true},
      {"a message that is an attached message",
       "Content-Type: message/rfc822\n\n" + big_block + "\nbody\n", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(!PartBoundExceeded(MemoryFile(c.message).get()), c.within) << c.label;
    EXPECT_EQ(!PartBoundExceeded(std::string_view(c.message)), c.within) << c.label << " (memory)";
  }
  const std::string bomb = "Subject: s\nContent-Type: multipart/mixed; boundary=z\n\n" +
                           lines(kMaxPartLines, "--z\n\nx\n") + "--z--\n";
  EXPECT_THROW(AttachmentList(MemoryFile(bomb), MemoryScratch), UnreadableMessage);
}

// More uuencoded blocks than are taken from one body: the first ones, and the
// body itself, so that nothing is lost; the walk stays linear.
TEST(AttachmentList, UuencodedBlocksBeyondTheLimitKeepTheBody) {
  std::string body;
  for (std::size_t i = 0; i <= kMaxUuencodedFiles; ++i) {
    body += "begin 644 f" + std::to_string(i) + ".txt\n" + Uuencoded(std::to_string(i)) + "end\n";
  }
  TempDir folder;
  const std::vector<Extracted> files = ExtractAll("Subject: many\n\n" + body, folder.path());
  ASSERT_EQ(files.size(), kMaxUuencodedFiles + 1);
  EXPECT_EQ(files.front(), (Extracted{"f0.txt", "0"}));
  EXPECT_EQ(files[kMaxUuencodedFiles - 1],
            (Extracted{"f" + std::to_string(kMaxUuencodedFiles - 1) + ".txt",
                       std::to_string(kMaxUuencodedFiles - 1)}));
  EXPECT_EQ(files.back(), (Extracted{"attachment.txt", body}));
}

TEST(AttachmentList, UnwritableFolderIsAFileWriteFailure) {
  TempDir root;
  std::ofstream(root / "plain") << "x";
  AttachmentList list(MemoryFile(Mixed(Part("Content-Type: application/pdf", "P"))), MemoryScratch);
  ASSERT_EQ(list.size(), 1u);
  try {
    Extract(list, 0, root / "plain");
    FAIL() << "no failure";
  } catch (const Failure& failure) {
    EXPECT_EQ(failure.kind(), FailureKind::FileWrite);
  }
}

// The files of `message` but the attached messages; those, each opened on
// its own, must give their files the same way.
std::vector<Extracted> FilesOpeningAttachedMessages(const std::string& message) {
  TempDir folder;
  std::vector<Extracted> files;
  for (const Extracted& file : ExtractAll(message, folder.path())) {
    if (!file.name.ends_with(".eml")) {
      files.push_back(file);
      continue;
    }
    EXPECT_EQ(FilesOpeningAttachedMessages(file.content),
              (std::vector<Extracted>{{"r.pdf", "%PDF-1.4 scanned"}}))
        << "attached message " << file.name;
  }
  return files;
}

// Each mail in the data folder is named after the fault it once provoked and
// carries one attachment, r.pdf, behind that fault, perhaps inside an
// attached message that must then give it again when opened on its own.
TEST(AttachmentList, RegressionMailsStillYieldTheirAttachment) {
  std::size_t mails = 0;
  for (const auto& entry : fs::directory_iterator(QM_TEST_DATA)) {
    if (entry.path().extension() != ".eml") continue;
    ++mails;
    std::ifstream in(entry.path(), std::ios::binary);
    const std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    EXPECT_EQ(FilesOpeningAttachedMessages(bytes),
              (std::vector<Extracted>{{"r.pdf", "%PDF-1.4 scanned"}}))
        << entry.path();
  }
  EXPECT_GE(mails, 10u);
}

// A message too large to be read into memory is parsed from its file: an
// mbox "From " line before it is passed over, and the CR before a closing
// boundary that ends the file is left out, all the same.
TEST(AttachmentList, MboxFromLineAndLastCrOfAMessageReadFromDisk) {
  const std::string big = BinaryPayload(9 * kMiB);
  const std::string message =
      "From sender@example.com Mon Jan  1 09:00:00 2024\r\nSubject: s\r\nMIME-Version: 1.0\r\n"
      "Content-Type: multipart/mixed; boundary=\"XX\"\r\n\r\n"
      "--XX\r\nContent-Type: application/octet-stream; name=\"big.bin\"\r\n"
      "Content-Transfer-Encoding: base64\r\n\r\n" +
      Encoded(big, GMIME_CONTENT_ENCODING_BASE64) +
      "\r\n--XX\r\nContent-Type: text/plain; name=\"r.txt\"\r\n\r\nlast\r\n--XX--";
  TempDir folder;
  const std::vector<Extracted> files = ExtractAll(message, folder.path());
  ASSERT_EQ(files.size(), 2u);
  EXPECT_TRUE(files[0].content == big) << "big.bin differs";
  EXPECT_EQ(files[1], (Extracted{"r.txt", "last"}));
}

// A header block of megabytes reached the MIME parser whole, which keeps
// every field at several times its size: it now parses a copy whose header
// block holds only what describes the content.
TEST(BoundedHeaderBlock, LargeBlocksKeepOnlyTheContentFieldsAndTheRest) {
  const std::string many = [] {
    std::string lines;
    while (lines.size() <= kMaxParsedHeaderBytes)
      lines += "X-Filler: " + std::string(80, 'x') + "\n";
    return lines;
  }();
  const std::string type = "Content-Type: multipart/mixed;\n boundary=\"XX\"\n";
  const std::string body = "\n--XX\nContent-Type: application/pdf; name=\"r.pdf\"\n\nP\n--XX--\n";
  const std::string long_line = "Subject: " + std::string(5 << 20, 's') + "\n";
  const struct {
    const char* label;
    std::string message;
    std::string parsed;
  } cases[] = {
      {"within the bound", type + "Subject: s\n" + body, type + "Subject: s\n" + body},
      {"many fields", "From: a@x\n" + many + type + "MIME-Version: 1.0\n" + body,
       type + "MIME-Version: 1.0\n" + body},
      {"one long line", long_line + type + body, type + body},
      {"crlf lines", "X-A: 1\r\n" + many + "Content-Type: text/plain\r\n\r\nbody\r\n",
       "Content-Type: text/plain\r\n\r\nbody\r\n"},
      {"a content field longer than the bound",
       "Content-Type: application/pdf; name=\"" + std::string(kMaxParsedHeaderBytes, 'n') +
           "\"\nContent-Disposition: attachment\n\nP",
       "Content-Disposition: attachment\n\nP"},
      {"no end of the block", many + type, type},
  };
  for (const auto& c : cases) {
    const UniqueFd parsed = WithBoundedHeaderBlock(MemoryFile(c.message), MemoryScratch);
    std::string bytes(c.parsed.size() + 1, '\0');
    bytes.resize(
        static_cast<std::size_t>(qm::fs::ReadAt(parsed.get(), bytes.data(), bytes.size(), 0)));
    EXPECT_EQ(bytes, c.parsed) << c.label;
  }
  AttachmentList list(MemoryFile(long_line + type + body), MemoryScratch);
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(list.Name(0), "r.pdf");
}

// winmail.dat shapes met in real mail, each in a mail named after its cause.
TEST(AttachmentList, WinmailDatRegressionMailsGiveTheirFiles) {
  const struct {
    const char* mail;
    std::vector<std::string> names;
  } cases[] = {
      {"winmail-with-empty-file.eml", {"empty.txt", "r.pdf"}},
      {"winmail-damaged-after-first-file.eml", {"r.pdf", "winmail.dat"}},
  };
  for (const auto& c : cases) {
    TempDir folder;
    const std::vector<Extracted> files =
        ExtractAll(ReadFile(fs::path(QM_TEST_DATA) / "winmail" / c.mail), folder.path());
    std::vector<std::string> names;
    for (const Extracted& file : files) {
      names.push_back(file.name);
      if (file.name != "winmail.dat") {
        EXPECT_EQ(file.content, file.name == "r.pdf" ? "%PDF-1.4 scanned" : "") << c.mail;
      }
    }
    EXPECT_EQ(names, c.names) << c.mail;
  }
}

}  // namespace
}  // namespace qm
