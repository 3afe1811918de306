#include "imap/ImapParser.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "base/Failure.h"
#include "tests/imap/ScriptedTransport.h"

namespace qm {
namespace {

using testing::LiteralOf;
using testing::Script;
using testing::ScriptedTransport;
using testing::Server;

constexpr char kMalformed[] = "the mail server sent a malformed response";
constexpr char kLost[] = "connection lost";

// A compact, unambiguous rendering of a value: strings in quotes with
// control bytes as \xHH, lists in parentheses.
std::string Describe(const ImapValue& value) {
  switch (value.kind) {
    case ImapValue::Kind::kAtom:
      return value.text;
    case ImapValue::Kind::kNumber:
      return "#" + std::to_string(value.number);
    case ImapValue::Kind::kNil:
      return "NIL";
    case ImapValue::Kind::kStreamed:
      return "<streamed " + std::to_string(value.number) + ">";
    case ImapValue::Kind::kRaw:
      return "<raw " + value.text + ">";
    case ImapValue::Kind::kString: {
      std::string out = "\"";
      for (const char c : value.text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20) {
          const char hex[] = "0123456789abcdef";
          out += std::string("\\x") + hex[byte >> 4] + hex[byte & 15];
        } else {
          out += c;
        }
      }
      return out + "\"";
    }
    case ImapValue::Kind::kList: {
      std::string out = "(";
      for (const ImapValue& item : value.items) out += (out.size() > 1 ? " " : "") + Describe(item);
      return out + ")";
    }
  }
  return "?";
}

std::string Describe(const ImapResponse& r) {
  std::string out = r.kind == ImapResponse::Kind::kTagged         ? "tag:" + r.tag
                    : r.kind == ImapResponse::Kind::kContinuation ? std::string("+")
                                                                  : std::string("*");
  if (r.has_number) out += " " + std::to_string(r.number);
  if (!r.keyword.empty()) out += " " + r.keyword;
  if (!r.code.empty())
    out += " [" + r.code + (r.code_argument.empty() ? "" : "|" + r.code_argument) + "]";
  if (!r.text.empty()) out += " text=" + r.text;
  for (const ImapValue& value : r.data) out += " " + Describe(value);
  for (const ImapFetchItem& item : r.fetch) out += " " + item.name + "=" + Describe(item.value);
  return out;
}

std::shared_ptr<Script> Playing(const std::string& bytes, std::size_t piece = 4096) {
  auto script = std::make_shared<Script>();
  if (!bytes.empty()) script->steps.push_back(Server(bytes));
  script->piece = piece;
  return script;
}

// Every response in `bytes`, then the text of the failure that ended the read
// (kLost when the input simply ran out).
std::vector<std::string> ParseAll(const std::string& bytes, std::size_t piece = 4096) {
  ScriptedTransport transport(Playing(bytes, piece));
  ImapParser parser(transport);
  std::vector<std::string> out;
  try {
    for (;;) out.push_back(Describe(parser.Next()));
  } catch (const Failure& failure) {
    EXPECT_EQ(failure.kind(), FailureKind::MailStore);
    out.push_back(std::string("failure: ") + failure.what());
  }
  return out;
}

struct WellFormed {
  std::string input;
  std::string expected;
};

TEST(ImapParser, ReadsEachKindOfResponse) {
  const std::string header = "Subject: =?ISO-2022-JP?B?GyRCJDMbKEI=?=\r\nFrom: a@b\r\n\r\n";
  const std::vector<WellFormed> cases = {
      {"* 3 EXISTS\r\n", "* 3 EXISTS"},
      {"* 0 exists\r\n", "* 0 EXISTS"},
      {"* 5 EXPUNGE\r\n", "* 5 EXPUNGE"},
      {"* FLAGS (\\Answered \\Seen $Forwarded)\r\n", "* FLAGS (\\Answered \\Seen $Forwarded)"},
      {"* OK [PERMANENTFLAGS (\\Seen \\*)] Flags permitted.\r\n",
       "* OK [PERMANENTFLAGS|(\\Seen \\*)] text=Flags permitted."},
      {"* OK [UIDVALIDITY 1700000000] UIDs valid\r\n",
       "* OK [UIDVALIDITY|1700000000] text=UIDs valid"},
      {"a1 OK [READ-WRITE] Select completed (0.001 + 0.000 secs).\r\n",
       "tag:a1 OK [READ-WRITE] text=Select completed (0.001 + 0.000 secs)."},
      {"a2 NO [NONEXISTENT] Mailbox doesn't exist: Foo\r\n",
       "tag:a2 NO [NONEXISTENT] text=Mailbox doesn't exist: Foo"},
      {"a3 bad Error in IMAP command\r\n", "tag:a3 BAD text=Error in IMAP command"},
      {"a4 OK\r\n", "tag:a4 OK"},
      {"a5 OK [ALERT]\r\n", "tag:a5 OK [ALERT]"},
      {"a6 NO \xe6\x97\xa5\xe6\x9c\xac\r\n", "tag:a6 NO text=\xe6\x97\xa5\xe6\x9c\xac"},
      {"* BYE Server shutting down.\r\n", "* BYE text=Server shutting down."},
      {"+ Ready for literal data\r\n", "+ text=Ready for literal data"},
      {"+\r\n", "+"},
      {"* CAPABILITY IMAP4rev1 LITERAL+ AUTH=PLAIN\r\n",
       "* CAPABILITY IMAP4rev1 LITERAL+ AUTH=PLAIN"},
      {"* SEARCH\r\n", "* SEARCH"},
      {"* 1 FETCH (UID 7 FLAGS (\\Seen) BODY[HEADER.FIELDS (SUBJECT FROM)] " + LiteralOf(header) +
           ")\r\n",
       "* 1 FETCH UID=#7 FLAGS=(\\Seen) BODY[HEADER.FIELDS (SUBJECT FROM)]=\"Subject: "
       "=?ISO-2022-JP?B?GyRCJDMbKEI=?=\\x0d\\x0aFrom: a@b\\x0d\\x0a\\x0d\\x0a\""},
      {"* 2 FETCH (UID 4294967295 FLAGS ())\r\n", "* 2 FETCH UID=#4294967295 FLAGS=()"},
      {"* 1 fetch (body[]<0> {3}\r\nabc)\r\n", "* 1 FETCH BODY[]<0>=\"abc\""},
      {"* 1 FETCH (BODY[] " + LiteralOf(std::string("x\r\n\0y)\r\n", 8)) + ")\r\n",
       "* 1 FETCH BODY[]=\"x\\x0d\\x0a\\x00y)\\x0d\\x0a\""},
      {"* 1 FETCH (BODY[] {0}\r\n)\r\n", "* 1 FETCH BODY[]=\"\""},
      {"* 1 FETCH (BODY[] \"a \\\"b\\\" \\\\c\")\r\n", "* 1 FETCH BODY[]=\"a \"b\" \\c\""},
      {"* 1 FETCH (UID 3 BODY[] NIL)\r\n", "* 1 FETCH UID=#3 BODY[]=NIL"},
      {"* 1 FETCH (X ((1 2) ((\"a\") nil) ()))\r\n", "* 1 FETCH X=((#1 #2) ((\"a\") NIL) ())"},
      {"* LIST (\\HasNoChildren) \"/\" {5}\r\nINBOX\r\n",
       "* LIST (\\HasNoChildren) \"/\" \"INBOX\""},
  };
  for (const WellFormed& c : cases) {
    SCOPED_TRACE(c.input);
    const std::vector<std::string> got = ParseAll(c.input);
    ASSERT_EQ(got.size(), 2u) << got.back();
    EXPECT_EQ(got[0], c.expected);
    EXPECT_EQ(got[1], std::string("failure: ") + kLost);  // then waits for more
  }
}

TEST(ImapParser, RefusesMalformedResponses) {
  const std::vector<std::string> cases = {
      "* 3 EXISTS\n",             // bare LF
      "* 3 EXISTS \r\n",          // trailing space
      "* 4294967296 EXISTS\r\n",  // beyond 32 bits
      "* 99999999999999999999999 EXISTS\r\n",
      "* 0 EXPUNGE\r\n",
      "* 0 FETCH (UID 1)\r\n",
      "* 1 FETCH (UID 1\r\n",  // unclosed attribute list
      "* 1 FETCH ()\r\n",
      "* 1 FETCH (UID  1)\r\n",  // two spaces
      "* 1 FETCH UID 1\r\n",
      "* 1 FETCH (BODY[ \"x\")\r\n",        // unclosed section
      "* 1 FETCH (BODY[] \"a\\x\")\r\n",    // only \\ and \" may be escaped
      "* 1 FETCH (BODY[] \"a\r\nb\")\r\n",  // quoted strings do not span lines
      "* 1 FETCH (BODY[] {3+}\r\nabc)\r\n",
      "* 1 FETCH (BODY[] {}\r\n)\r\n",
      "* 1 FETCH (BODY[] {3}\nabc)\r\n",
      "* 1 FETCH (BODY[] {99999999999999999999999}\r\n",
      "* 1 FETCH (X " + std::string(40, '(') + std::string(40, ')') + ")\r\n",
      "* FLAGS (\\Seen\r\n",
      "* FLAGS (\\Seen )\r\n",
      "* FLAGS (\\)\r\n",
      "a1 MAYBE fine\r\n",
      "a1 OK [READ-WRITE text\r\n",
      "a1 OK [] text\r\n",
      "a1 OK text\rmore\r\n",
      std::string("a1 OK te\0xt\r\n", 13),
      " OK text\r\n",
      "+abc OK\r\n",
      "*\r\n",
      "* \r\n",
      "* OK " + std::string(70 * 1024, 'x') + "\r\n",
  };
  for (const std::string& input : cases) {
    SCOPED_TRACE(input.substr(0, 60));
    const std::vector<std::string> got = ParseAll(input);
    EXPECT_EQ(got.back(), std::string("failure: ") + kMalformed);
  }
}

// Tagged, untagged and continuation responses interleaved, with literals that
// hold CRLF and NUL, read back one by one.
const std::string kStream =
    "* 2 EXISTS\r\n"
    "* 1 FETCH (UID 10 FLAGS (\\Seen) BODY[HEADER.FIELDS (SUBJECT FROM)] " +
    LiteralOf(std::string("Subject: a\r\n\0\r\n", 15)) +
    ")\r\n"
    "* 1 EXPUNGE\r\n"
    "* 1 FETCH (FLAGS () UID 11 BODY[HEADER.FIELDS (SUBJECT FROM)] \"From: \\\"q\\\"\")\r\n"
    "+ go on\r\n"
    "* 3 EXISTS\r\n"
    "a1 OK [READ-ONLY] done\r\n";
const std::vector<std::string> kStreamParsed = {
    "* 2 EXISTS",
    "* 1 FETCH UID=#10 FLAGS=(\\Seen) BODY[HEADER.FIELDS (SUBJECT FROM)]=\"Subject: "
    "a\\x0d\\x0a\\x00\\x0d\\x0a\"",
    "* 1 EXPUNGE",
    "* 1 FETCH FLAGS=() UID=#11 BODY[HEADER.FIELDS (SUBJECT FROM)]=\"From: \"q\"\"",
    "+ text=go on",
    "* 3 EXISTS",
    "tag:a1 OK [READ-ONLY] text=done",
};

TEST(ImapParser, ReadsInterleavedResponsesWhateverTheChunking) {
  for (const std::size_t piece : {1u, 2u, 7u, 4096u}) {
    SCOPED_TRACE(piece);
    std::vector<std::string> expected = kStreamParsed;
    expected.push_back(std::string("failure: ") + kLost);
    EXPECT_EQ(ParseAll(kStream, piece), expected);
  }
}

// A cut anywhere yields the responses completed before the cut, then a wait
// for more bytes: never a malformed-response failure, never a crash.
TEST(ImapParser, EveryPrefixWaitsForMore) {
  std::vector<std::size_t> ends;  // where each response of kStream ends
  for (std::size_t at = kStream.find("\r\n"); at != std::string::npos;) {
    ends.push_back(at + 2);
    at = kStream.find("\r\n", at + 2);
  }
  // Line ends inside the literal and the continuation of the first FETCH do
  // not end a response: keep the ends that follow a complete response.
  const std::vector<std::size_t> response_ends = {ends[0], ends[4], ends[5], ends[6],
                                                  ends[7], ends[8], ends[9]};
  ASSERT_EQ(response_ends.back(), kStream.size());
  for (std::size_t cut = 0; cut <= kStream.size(); ++cut) {
    for (const std::size_t piece : {1u, 5u, 4096u}) {
      SCOPED_TRACE("cut " + std::to_string(cut) + " piece " + std::to_string(piece));
      const std::vector<std::string> got = ParseAll(kStream.substr(0, cut), piece);
      std::size_t complete = 0;
      while (complete < response_ends.size() && response_ends[complete] <= cut) ++complete;
      ASSERT_EQ(got.size(), complete + 1);
      EXPECT_EQ(got.back(), std::string("failure: ") + kLost);
    }
  }
}

class StringSink : public LiteralSink {
 public:
  void Begin() override {
    bytes.clear();
    ++begun;
  }
  void Write(std::string_view chunk) override {
    bytes.append(chunk);
    ++writes;
  }
  std::string bytes;
  int begun = 0;
  int writes = 0;
};

TEST(ImapParser, StreamsTheChosenItemToTheSink) {
  std::string body(3 * 1024 * 1024, 'm');  // more than a literal in memory may hold
  for (std::size_t i = 0; i < body.size(); i += 997) body[i] = static_cast<char>(i % 256);
  const std::string input =
      "* 4 FETCH (UID 9 BODY[HEADER] {2}\r\nhh BODY[] " + LiteralOf(body) + " FLAGS (\\Seen))\r\n";
  ScriptedTransport transport(Playing(input, 100 * 1000));
  ImapParser parser(transport);
  StringSink sink;
  parser.StreamFetchItem("BODY[]", &sink);
  const ImapResponse response = parser.Next();
  EXPECT_EQ(Describe(response),
            "* 4 FETCH UID=#9 BODY[HEADER]=\"hh\" BODY[]=<streamed 3145728> FLAGS=(\\Seen)");
  EXPECT_EQ(sink.begun, 1);
  EXPECT_GT(sink.writes, 1);  // arrived in pieces, written as it came
  EXPECT_TRUE(sink.bytes == body);
}

TEST(ImapParser, BoundsWhatTheServerAnnounces) {
  struct Case {
    std::string input;
    bool stream;
    std::string expected;
  };
  const std::string mib(ImapParser::kLiteralLimit, 'x');
  std::string five_literals = "* 1 FETCH (";
  for (int i = 0; i < 5; ++i) five_literals += "X" + std::to_string(i) + " " + LiteralOf(mib) + " ";
  five_literals.back() = ')';
  five_literals += "\r\n";
  const std::vector<Case> cases = {
      {"* 1 FETCH (BODY[] {2147483649}\r\n", true, kMalformed},  // over 2 GiB
      {"* 1 FETCH (BODY[] {2147483648}\r\n", true, kLost},       // allowed: waits for the bytes
      {"* 1 FETCH (BODY[] {1048577}\r\n", false, kMalformed},
      {"* 1 FETCH (BODY[] " + LiteralOf(mib) + ")\r\n", false, ""},
      {five_literals, false, kMalformed},  // together more than one response may hold
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.input.substr(0, 40));
    ScriptedTransport transport(Playing(c.input, 64 * 1024));
    ImapParser parser(transport);
    StringSink sink;
    if (c.stream) parser.StreamFetchItem("BODY[]", &sink);
    try {
      parser.Next();
      EXPECT_EQ(c.expected, "");
    } catch (const Failure& failure) {
      EXPECT_EQ(failure.what(), c.expected);
      if (c.expected == kMalformed) {
        EXPECT_EQ(sink.begun, 0);  // refused before any byte
      }
    }
  }
}

}  // namespace
}  // namespace qm
