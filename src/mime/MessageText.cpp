#include "mime/MessageText.h"

#include <gmime/gmime.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <string_view>
#include <utility>

#include "base/GObjectPtr.h"
#include "mime/BoundedHeaderBlock.h"
#include "mime/PartBounds.h"
#include "mime/PartFields.h"
#include "mime/TopPart.h"
#include "store/UnreadableMessage.h"
#include "text/Charset.h"
#include "text/CutAtCharacter.h"
#include "text/HeaderText.h"
#include "text/HtmlText.h"

namespace qm {
namespace {

// Transfer-decoded body bytes held while the text is chosen, in all: enough
// for kMaxMessageTextBytes of text in any charset.
constexpr std::size_t kMaxDecodedBytes = 4 * kMaxMessageTextBytes;
// Attached messages sent transfer-encoded are decoded into memory to be read,
// up to this many bytes in all; the rest of one beyond it is not read.
constexpr std::size_t kMaxDecodedMessageBytes = 4 * 1024 * 1024;
constexpr std::size_t kReadBlock = 64 * 1024;

// The body texts of one message, the top one or an attached one.
struct MessageBodies {
  std::vector<std::string> plain;
  std::vector<std::string> html;  // already turned into text
};

struct Pending {
  GMimeObject* object;
  int depth;
  std::size_t message;  // index of the MessageBodies it belongs to
};

bool NeedsFilter(GMimeContentEncoding encoding) {
  return encoding == GMIME_CONTENT_ENCODING_BASE64 ||
         encoding == GMIME_CONTENT_ENCODING_QUOTEDPRINTABLE ||
         encoding == GMIME_CONTENT_ENCODING_UUENCODE;
}

// An attached message sent transfer-encoded, which RFC 2046 forbids and
// senders do anyway: GMime leaves it a plain part.
bool IsEncodedMessage(GMimeObject* part) {
  GMimeDataWrapper* content =
      GMIME_IS_PART(part) ? g_mime_part_get_content(GMIME_PART(part)) : nullptr;
  return content != nullptr && IsType(part, "message", "rfc822") &&
         NeedsFilter(g_mime_data_wrapper_get_encoding(content));
}

MessageBytes BytesHolding(std::string_view text) {
  MessageBytes bytes(g_byte_array_new(), g_byte_array_unref);
  g_byte_array_append(bytes.get(), reinterpret_cast<const guint8*>(text.data()),
                      static_cast<guint>(text.size()));
  return bytes;
}

// Up to `limit` bytes of the content of `part`, transfer-decoded. Throws
// UnreadableMessage when the message's file cannot be read.
std::string TransferDecoded(GMimeObject* part, std::size_t limit) {
  GMimeDataWrapper* content = g_mime_part_get_content(GMIME_PART(part));
  GMimeStream* source = content != nullptr ? g_mime_data_wrapper_get_stream(content) : nullptr;
  if (source == nullptr) return {};
  const GMimeContentEncoding encoding = g_mime_data_wrapper_get_encoding(content);
  GObjectPtr<GMimeFilter> decoder(NeedsFilter(encoding) ? g_mime_filter_basic_new(encoding, FALSE)
                                                        : nullptr);
  g_mime_stream_reset(source);
  std::string decoded;
  std::vector<char> block(kReadBlock);
  while (decoded.size() < limit) {
    // A bounded file stream reports reading at its end as an error (EINVAL),
    // so the end is asked for first.
    errno = 0;
    const gssize got =
        g_mime_stream_eos(source) ? 0 : g_mime_stream_read(source, block.data(), block.size());
    if (got < 0) throw UnreadableMessage("", std::strerror(errno != 0 ? errno : EIO));
    char* out = block.data();
    std::size_t out_length = static_cast<std::size_t>(got);
    std::size_t prespace = 0;
    if (decoder && got > 0) {
      g_mime_filter_filter(decoder.get(), block.data(), out_length, 0, &out, &out_length,
                           &prespace);
    } else if (decoder) {
      g_mime_filter_complete(decoder.get(), block.data(), 0, 0, &out, &out_length, &prespace);
    }
    decoded.append(out, std::min(out_length, limit - decoded.size()));
    if (got == 0) break;
  }
  return decoded;
}

// `text` with CRLF and lone CR line breaks made "\n", and none at its end.
std::string WithNewlines(std::string_view text) {
  std::string result;
  result.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\r') {
      result += text[i];
    } else if (i + 1 >= text.size() || text[i + 1] != '\n') {
      result += '\n';
    }
  }
  while (!result.empty() && result.back() == '\n') result.pop_back();
  return result;
}

// The decoded bytes of a text part as UTF-8: in its declared charset, or,
// without one, as unlabelled text (ISO-2022-JP escapes recognised).
std::string AsUtf8(GMimeObject* part, std::string_view bytes) {
  const char* charset = g_mime_object_get_content_type_parameter(part, "charset");
  if (charset == nullptr || *charset == '\0') return DecodeHeaderBytes(bytes);
  return ConvertToUtf8(bytes, charset);
}

// Whether `part` is text the sender wrote rather than a file: no attachment,
// no file name.
bool IsBodyText(GMimeObject* part) {
  return GMIME_IS_PART(part) && !DispositionIsAttachment(part) && DeclaredName(part).empty() &&
         (IsType(part, "text", "plain") || IsType(part, "text", "html"));
}

bool IsPlainBody(GMimeObject* part) { return IsBodyText(part) && IsType(part, "text", "plain"); }

// The parts of `multipart` to read: of an alternative, its plain part when it
// has one; of any other multipart, every part.
std::vector<GMimeObject*> PartsToRead(GMimeObject* object) {
  GMimeMultipart* multipart = GMIME_MULTIPART(object);
  std::vector<GMimeObject*> parts;
  for (int i = 0; i < g_mime_multipart_get_count(multipart); ++i) {
    parts.push_back(g_mime_multipart_get_part(multipart, i));
  }
  if (IsType(object, "multipart", "alternative")) {
    const auto plain = std::find_if(parts.begin(), parts.end(), IsPlainBody);
    if (plain != parts.end()) return {*plain};
  }
  return parts;
}

std::string Joined(const std::vector<std::string>& pieces) {
  std::string text;
  for (const std::string& piece : pieces) {
    if (piece.empty()) continue;
    if (!text.empty()) text += "\n\n";
    text += piece;
  }
  return text;
}

// Walks a message's tree without recursion, collecting its body texts and
// its attachments' names.
class BodyCollector {
 public:
  explicit BodyCollector(std::vector<std::string>& names) : names_(names) {}

  void Walk(GMimeObject* root);
  // The text of every message, each chosen from its plain or its HTML parts.
  std::string Text() const;

 private:
  void AddName(GMimeObject* part);
  void AddAttachedMessage(const Pending& at, std::vector<Pending>& stack);
  void AddEncodedMessage(const Pending& at, std::vector<Pending>& stack);
  void AddLeaf(const Pending& at);

  std::vector<std::string>& names_;
  std::vector<MessageBodies> messages_;
  std::size_t text_budget_ = kMaxDecodedBytes;
  std::size_t message_budget_ = kMaxDecodedMessageBytes;
  // Attached messages decoded from a transfer encoding, and their trees,
  // which read the bytes: the bytes go last.
  std::vector<MessageBytes> decoded_bytes_;
  std::vector<GObjectPtr<GMimeObject>> decoded_trees_;
};

void BodyCollector::Walk(GMimeObject* root) {
  messages_.emplace_back();
  std::vector<Pending> stack{{root, 0, 0}};
  while (!stack.empty()) {
    const Pending at = stack.back();
    stack.pop_back();
    if (at.depth > kMaxPartDepth) continue;
    if (GMIME_IS_MESSAGE_PART(at.object)) {
      AddAttachedMessage(at, stack);
    } else if (IsEncodedMessage(at.object)) {
      AddEncodedMessage(at, stack);
    } else if (GMIME_IS_MULTIPART(at.object)) {
      const std::vector<GMimeObject*> parts = PartsToRead(at.object);
      for (auto part = parts.rbegin(); part != parts.rend(); ++part) {
        stack.push_back({*part, at.depth + 1, at.message});
      }
    } else if (GMIME_IS_PART(at.object)) {
      AddLeaf(at);
    }
  }
}

void BodyCollector::AddName(GMimeObject* part) {
  std::string name = DeclaredName(part);
  if (!name.empty()) names_.push_back(std::move(name));
}

void BodyCollector::AddAttachedMessage(const Pending& at, std::vector<Pending>& stack) {
  AddName(at.object);
  GMimeMessage* inner = g_mime_message_part_get_message(GMIME_MESSAGE_PART(at.object));
  GMimeObject* body = inner != nullptr ? g_mime_message_get_mime_part(inner) : nullptr;
  if (body == nullptr) return;
  messages_.emplace_back();
  stack.push_back({body, at.depth + 1, messages_.size() - 1});
}

// Decoded within its own budget, and within the part bounds, it is read as any
// attached message is.
void BodyCollector::AddEncodedMessage(const Pending& at, std::vector<Pending>& stack) {
  AddName(at.object);
  if (at.depth >= kMaxPartDepth) return;
  const std::string decoded = TransferDecoded(at.object, message_budget_);
  message_budget_ -= decoded.size();
  if (decoded.empty() || PartBoundExceeded(decoded)) return;
  MessageBytes bytes = BytesHolding(decoded);
  GObjectPtr<GMimeObject> top = ParseTopPart(-1, bytes);
  if (!top) return;
  messages_.emplace_back();
  stack.push_back({top.get(), at.depth + 1, messages_.size() - 1});
  decoded_bytes_.push_back(std::move(bytes));
  decoded_trees_.push_back(std::move(top));
}

void BodyCollector::AddLeaf(const Pending& at) {
  if (!IsBodyText(at.object)) {
    AddName(at.object);
    return;
  }
  const std::string bytes = TransferDecoded(at.object, text_budget_);
  text_budget_ -= bytes.size();
  std::string text = WithNewlines(AsUtf8(at.object, bytes));
  MessageBodies& bodies = messages_[at.message];
  if (IsType(at.object, "text", "plain")) {
    bodies.plain.push_back(std::move(text));
  } else {
    bodies.html.push_back(WithNewlines(HtmlToText(text)));
  }
}

std::string BodyCollector::Text() const {
  std::vector<std::string> texts;
  for (const MessageBodies& bodies : messages_) {
    texts.push_back(Joined(bodies.plain.empty() ? bodies.html : bodies.plain));
  }
  return std::string(CutAtCharacter(Joined(texts), kMaxMessageTextBytes));
}

std::string LowerCaseAscii(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(g_ascii_tolower(c)); });
  return text;
}

// The message's header block alone (after an mbox "From " line), at most
// kMaxParsedHeaderBytes of it, for a message too large in parts to be parsed
// whole. Throws UnreadableMessage when `fd` cannot be read.
MessageBytes HeaderBlockOnly(int fd) {
  std::string head(kMaxParsedHeaderBytes + 1024, '\0');
  std::size_t got = 0;
  if (!ReadBytesAt(fd, head.data(), head.size(), 0, got)) {
    throw UnreadableMessage("", std::strerror(errno));
  }
  head.resize(got);
  const std::size_t blank = std::min(head.find("\n\n"), head.find("\n\r\n"));
  if (blank != std::string::npos) head.resize(blank + 1);
  return BytesHolding(head);
}

void ReadHeaderFacts(GMimeObject* top, MessageFacts& facts) {
  facts.sender_address = LowerCaseAscii(ParseFirstMailbox(RawHeader(top, "From")).address);
  facts.date = DateOf(RawHeader(top, "Date"));
  facts.subject = DecodeUnstructured(RawHeader(top, "Subject"));
}

}  // namespace

MessageFacts ReadMessageFacts(int fd) {
  const bool whole = !PartBoundExceeded(fd).has_value();
  // The bytes outlive the tree, whose streams read them.
  const MessageBytes bytes = whole ? ReadIntoMemory(fd) : HeaderBlockOnly(fd);
  const GObjectPtr<GMimeObject> top = ParseTopPart(fd, bytes);
  MessageFacts facts;
  if (!top) return facts;
  ReadHeaderFacts(top.get(), facts);
  if (!whole) return facts;
  BodyCollector bodies(facts.attachment_names);
  bodies.Walk(top.get());
  facts.text = bodies.Text();
  return facts;
}

}  // namespace qm
