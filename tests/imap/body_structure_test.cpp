#include "imap/BodyStructure.h"

#include <gtest/gtest.h>

#include <string>

namespace qm {
namespace {

// Parts as servers send them (extended BODYSTRUCTURE).
const std::string kPlain =
    R"(("TEXT" "PLAIN" ("CHARSET" "utf-8") NIL NIL "7BIT" 12 1 NIL NIL NIL NIL))";
const std::string kHtml =
    R"(("TEXT" "HTML" ("CHARSET" "utf-8") NIL NIL "QUOTED-PRINTABLE" 120 4 NIL NIL NIL NIL))";
const std::string kPdf =
    R"(("APPLICATION" "PDF" ("NAME" "a.pdf") NIL NIL "BASE64" 4000 NIL ("ATTACHMENT" ("FILENAME" "a.pdf")) NIL NIL))";

std::string Multipart(const std::string& parts, const std::string& subtype) {
  return "(" + parts + " \"" + subtype + "\" (\"BOUNDARY\" \"b\") NIL NIL NIL)";
}

TEST(BodyStructure, OnlyHtmlShapesHoldNoFileAnythingElseIsFetched) {
  const struct {
    const char* label;
    std::string raw;
    bool may_hold;
  } cases[] = {
      {"html", kHtml, false},
      {"alternative of html", Multipart(kHtml + kHtml, "ALTERNATIVE"), false},
      {"alternative in alternative",
       Multipart(kHtml + Multipart(kHtml + kHtml, "ALTERNATIVE"), "ALTERNATIVE"), false},
      {"inline disposition without a name",
       R"(("TEXT" "HTML" ("CHARSET" "us-ascii") NIL NIL "7BIT" 3 1 NIL ("INLINE" NIL) NIL NIL))",
       false},
      {"literal strings",
       "(\"TEXT\" {4}\r\nHTML (\"CHARSET\" \"utf-8\") NIL NIL \"7BIT\" 12 1 NIL NIL NIL NIL)",
       false},
      // Plain text may carry uuencoded files.
      {"plain text", kPlain, true},
      {"alternative of plain text and html", Multipart(kPlain + kHtml, "ALTERNATIVE"), true},
      {"plain text deep in alternatives",
       Multipart(kHtml + Multipart(kHtml + kPlain, "ALTERNATIVE"), "ALTERNATIVE"), true},
      // Files, or what may be one.
      {"a scanner's pdf", kPdf, true},
      {"html with a name",
       R"(("TEXT" "HTML" ("NAME" "page.html") NIL NIL "7BIT" 9 1 NIL NIL NIL NIL))", true},
      {"html with an encoded name",
       R"(("TEXT" "HTML" ("NAME*" "utf-8''%E8%A6%8B.html") NIL NIL "7BIT" 9 1 NIL NIL NIL NIL))",
       true},
      {"non-ASCII name",
       "(\"TEXT\" \"HTML\" (\"CHARSET\" \"iso-2022-jp\" \"NAME\" \"\x1b$B8+@Q\x1b(B.html\") NIL "
       "NIL \"7BIT\" 9 1 NIL NIL NIL NIL)",
       true},
      {"html as an attachment",
       R"(("TEXT" "HTML" NIL NIL NIL "7BIT" 9 1 NIL ("ATTACHMENT" NIL) NIL NIL))", true},
      {"inline html with a file name",
       R"(("TEXT" "HTML" NIL NIL NIL "7BIT" 9 1 NIL ("INLINE" ("FILENAME*0*" "utf-8''a")) NIL NIL))",
       true},
      {"disposition of another shape",
       R"(("TEXT" "HTML" NIL NIL NIL "7BIT" 9 1 NIL "INLINE" NIL NIL))", true},
      {"no extension data: the disposition is not known",
       R"(("TEXT" "HTML" ("CHARSET" "utf-8") NIL NIL "7BIT" 12 1))", true},
      {"other text", R"(("TEXT" "CALENDAR" NIL NIL NIL "7BIT" 9 1 NIL NIL NIL NIL))", true},
      {"mixed with html only", Multipart(kHtml, "MIXED"), true},
      {"alternative with a pdf", Multipart(kHtml + kPdf, "ALTERNATIVE"), true},
      {"related html", Multipart(kHtml, "RELATED"), true},
      {"attached message",
       R"(("MESSAGE" "RFC822" NIL NIL NIL "7BIT" 900 (NIL "s" NIL NIL NIL NIL NIL NIL NIL NIL) ("TEXT" "HTML" NIL NIL NIL "7BIT" 9 1 NIL NIL NIL NIL) 20 NIL NIL NIL NIL))",
       true},
      {"cut short", kHtml.substr(0, kHtml.size() - 1), true},
      {"trailing bytes", kHtml + " x", true},
      {"empty", "", true},
      {"nested too deep", std::string(40, '(') + kHtml + " \"ALTERNATIVE\"" + std::string(40, ')'),
       true},
      {"literal longer than the text", "(\"TEXT\" {500}\r\nHTML)", true},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(MayHoldAttachment(c.raw), c.may_hold) << c.label << ": " << c.raw;
  }
}

}  // namespace
}  // namespace qm
