#pragma once
// Reads IMAP server responses from a transport, one whole response at a time:
// tagged and untagged status lines, message-number responses, FETCH data and
// continuation requests. The grammar is checked strictly, and every size the
// server announces is bounded. A literal of one chosen FETCH item (the whole
// message) can be streamed to a sink instead of being held in memory.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "imap/ImapTransport.h"

namespace qm {

// One data item: an atom (a flag such as "\Seen" included), a number, a string
// (quoted or literal), NIL, a parenthesised list, a literal that went to the
// sink (`number` then holds its size), or the text of a parenthesised value
// kept exactly as sent (`text`).
struct ImapValue {
  enum class Kind { kAtom, kNumber, kString, kNil, kList, kStreamed, kRaw };
  Kind kind = Kind::kNil;
  std::string text;
  std::uint64_t number = 0;
  std::vector<ImapValue> items;
};

// One attribute of a FETCH response. The name is upper-case and keeps its
// section and partial range, e.g. "UID", "FLAGS", "BODY[]".
struct ImapFetchItem {
  std::string name;
  ImapValue value;
};

struct ImapResponse {
  enum class Kind { kContinuation, kTagged, kUntagged };
  Kind kind = Kind::kUntagged;
  std::string tag;                   // tagged responses only
  std::string keyword;               // upper-case: OK, NO, BAD, BYE, EXISTS, FETCH, FLAGS, ...
  bool has_number = false;           // "* <number> <keyword>"
  std::uint32_t number = 0;          // the message number when has_number
  std::string code;                  // response code name in "[...]", upper-case
  std::string code_argument;         // what follows the code name inside the brackets
  std::string text;                  // human-readable text of status lines and continuations
  std::vector<ImapValue> data;       // the data of other untagged responses (FLAGS, CAPABILITY)
  std::vector<ImapFetchItem> fetch;  // the attributes of a FETCH response
};

// Receives a streamed literal. Begin is called before its first byte.
class LiteralSink {
 public:
  virtual ~LiteralSink() = default;
  virtual void Begin() = 0;
  virtual void Write(std::string_view bytes) = 0;
};

class ImapParser {
 public:
  static constexpr std::size_t kLineLimit = 64 * 1024;       // text between line ends or literals
  static constexpr std::size_t kLiteralLimit = 1024 * 1024;  // a literal held in memory
  static constexpr std::size_t kResponseLimit = 4 * 1024 * 1024;  // memory held by one response
  static constexpr std::uint64_t kStreamLimit = std::uint64_t{2} << 30;  // a streamed literal
  static constexpr int kDepthLimit = 32;                                 // nested parentheses

  explicit ImapParser(ImapTransport& transport);

  // The literal value of the FETCH attribute `item` (upper-case, e.g. "BODY[]")
  // goes to `sink` from now on; a null sink holds such literals in memory again.
  void StreamFetchItem(std::string item, LiteralSink* sink);

  // The parenthesised value of the FETCH attribute `item` (e.g.
  // "BODYSTRUCTURE") is kept as its text, read without recursion: one nested
  // deeper than this parser follows leaves the stream in step all the same.
  void KeepRawFetchItem(std::string item);

  // The bytes received but not parsed yet, handed over (to a decompressor
  // that takes over the stream after a COMPRESS command).
  std::string TakeUnparsed();

  // Reads the next complete response, asking the transport for more bytes as
  // needed. Throws Failure(MailStore) on a malformed or oversized response;
  // transport failures pass through.
  ImapResponse Next();

 private:
  char Peek();
  char Take();
  char TakeLong();
  void Expect(char wanted);
  void ExpectCrlf();
  void Refill();
  bool AtEnd() const { return begin_ == end_; }

  std::string Atom(bool allow_bracket);
  std::string Tag();
  std::uint64_t ParseNumber(const std::string& digits);
  std::uint32_t Number32(bool allow_zero);
  ImapValue Value(int depth);
  ImapValue List(int depth);
  std::string Quoted();
  std::uint64_t LiteralSize(std::uint64_t limit);
  std::string Literal();
  ImapValue StreamedLiteral();
  ImapValue RawList();
  void RawQuoted(std::string& text);
  std::string Text();

  void StatusText(ImapResponse& response);
  void Untagged(ImapResponse& response);
  void GenericData(ImapResponse& response);
  std::string FetchItemName();
  std::vector<ImapFetchItem> FetchAttributes();
  void Hold(std::size_t bytes);

  ImapTransport& transport_;
  std::vector<char> buffer_;
  std::size_t begin_ = 0;  // first unread byte in buffer_
  std::size_t end_ = 0;    // one past the last received byte
  std::size_t line_bytes_ = 0;
  std::size_t held_bytes_ = 0;
  std::string stream_item_;
  LiteralSink* sink_ = nullptr;
  std::string raw_item_;
};

}  // namespace qm
