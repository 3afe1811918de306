// The text of an HTML body: tags out, blocks as lines, references decoded.
#include "text/HtmlText.h"

#include <gtest/gtest.h>

#include <string>

namespace qm {
namespace {

struct HtmlCase {
  const char* label;
  std::string html;
  std::string text;
};
void PrintTo(const HtmlCase& c, std::ostream* os) { *os << c.label; }

class HtmlToTextTest : public ::testing::TestWithParam<HtmlCase> {};

TEST_P(HtmlToTextTest, GivesTheText) { EXPECT_EQ(HtmlToText(GetParam().html), GetParam().text); }

std::string Repeated(const std::string& part, int times) {
  std::string whole;
  for (int i = 0; i < times; ++i) whole += part;
  return whole;
}

INSTANTIATE_TEST_SUITE_P(
    Bodies, HtmlToTextTest,
    ::testing::Values(
        HtmlCase{"BreakInParagraph", "<p>パスワード<br>abc123</p>", "パスワード\nabc123"},
        HtmlCase{"UpperCaseTags", "<P>A<BR/>B</P><DIV>C</DIV>", "A\nB\nC"},
        HtmlCase{"TwoBreaksKeepBlankLine", "a<br><br>b", "a\n\nb"},
        HtmlCase{"BlocksAndHeadings", "<h1>T</h1><ul><li>a</li><li>b</li></ul><h6>z</h6>",
                 "T\na\nb\nz"},
        HtmlCase{"TableRowsAndCells",
                 "<table><tr><td>パスワード</td><td>abc123</td></tr><tr><th>ID</th><td>u1</td>"
                 "</tr></table>",
                 "パスワード abc123\nID u1"},
        HtmlCase{"WhiteSpaceCollapsed", "<div>\n  a \t\r\n b  </div>  <div> c</div>", "a b\nc"},
        HtmlCase{"PreKeepsWhiteSpace", "x<pre>a  b\r\n\tc</pre>y", "x\na  b\n\tc\ny"},
        HtmlCase{"NamedReferences", "a&amp;b &lt;c&gt; &quot;d&apos; &copy;&nbsp;e",
                 "a&b <c> \"d' ©\u00A0e"},
        HtmlCase{"NumericReferences", "&#65;&#x42;&#X43;&#68 &#x1F600;", "ABCD 😀"},
        HtmlCase{"InvalidNumericReferences", "&#0;&#xD800;&#99999999999;&#x100000041;",
                 "\uFFFD\uFFFD\uFFFD\uFFFD"},
        HtmlCase{"UnknownReferencesStay", "&bogus; &amp &#; &", "&bogus; &amp &#; &"},
        HtmlCase{"HeadScriptStyleDropped",
                 "<html><head><title>T</title><meta charset=\"utf-8\"><style>p{color:red}</style>"
                 "</head><body>x<script>if (a<b && c) {}</script >y<STYLE>q{}</Style>z</body>",
                 "xyz"},
        HtmlCase{"ReferencesAndTextInHeadDropped", "<head>&amp;<meta name=a>x</head>y", "y"},
        HtmlCase{"HeadWithoutEndTag", "<head><meta charset=utf-8><title>t</title><p>text", "text"},
        HtmlCase{"QuotedGreaterThanInAttribute", "<a title=\"x>y\" href='z>'>link</a> it's",
                 "link it's"},
        HtmlCase{"Comments", "a<!-- <p>b</p> -->c<!DOCTYPE html><?xml x?>d", "acd"},
        HtmlCase{"LessThanAsText", "1 < 2 and 3 > 2 <3", "1 < 2 and 3 > 2 <3"},
        HtmlCase{"UnterminatedComment", "a<!-- b", "a"},
        HtmlCase{"UnterminatedScript", "a<script>b", "a"},
        HtmlCase{"UnterminatedTag", "a<p class=\"x", "a"},
        HtmlCase{"InvalidUtf8Replaced", "a\xff<b>b</b>", "a\uFFFDb"},
        HtmlCase{"DeepNesting",
                 Repeated("<div><span>", 50000) + "x" + Repeated("</span></div>", 50000), "x"}));

}  // namespace
}  // namespace qm
