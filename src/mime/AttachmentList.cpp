#include "mime/AttachmentList.h"

#include <gmime/gmime.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <deque>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "base/Failure.h"
#include "base/GObjectPtr.h"
#include "base/WriteAll.h"
#include "mime/BoundedHeaderBlock.h"
#include "mime/GMimeSetup.h"
#include "mime/HeldFile.h"
#include "mime/PartBounds.h"
#include "mime/PartFields.h"
#include "mime/TnefFiles.h"
#include "mime/TopPart.h"
#include "mime/UuencodedFiles.h"
#include "store/UnreadableMessage.h"
#include "text/HeaderText.h"
#include "text/SafeName.h"

namespace qm {
namespace {

// A message with parts nested deeper than this cannot be read; the walk
// itself never recurses.
constexpr int kMaxDepth = kMaxPartDepth;
constexpr std::size_t kChunk = 64 * 1024;
// Encoded content is decoded in blocks of this size, so that a block costs one
// write however small the parser's own reads are.
constexpr std::size_t kDecodeBlock = 1024 * 1024;
// A winmail.dat larger than this is saved as it stands, not unpacked.
constexpr std::int64_t kMaxTnefBytes = 64 * 1024 * 1024;
// Text bodies up to this size are searched for uuencoded files; the text is
// held in memory while it is searched.
constexpr std::size_t kMaxSearchedTextBytes = 16 * 1024 * 1024;
// Attached messages sent transfer-encoded are decoded into memory to be
// walked, up to this many bytes in all for one message; beyond that they are
// saved, decoded, without the files inside them.
constexpr std::size_t kMaxDecodedMessageBytes = 16 * 1024 * 1024;

std::string MimeType(GMimeObject* object) {
  GMimeContentType* type = g_mime_object_get_content_type(object);
  if (type == nullptr) return "application/octet-stream";
  gchar* text = g_mime_content_type_get_mime_type(type);
  std::string result = text != nullptr ? text : "application/octet-stream";
  g_free(text);
  std::transform(result.begin(), result.end(), result.begin(),
                 [](unsigned char c) { return static_cast<char>(g_ascii_tolower(c)); });
  return result;
}

std::string ExtensionFor(const std::string& mime_type) {
  static const std::map<std::string, std::string> kExtensions = {
      {"application/pdf", ".pdf"},
      {"image/jpeg", ".jpg"},
      {"image/pjpeg", ".jpg"},
      {"image/png", ".png"},
      {"image/gif", ".gif"},
      {"image/tiff", ".tif"},
      {"text/plain", ".txt"},
      {"text/html", ".html"},
      {"text/csv", ".csv"},
      {"text/calendar", ".ics"},
      {"application/zip", ".zip"},
      {"application/x-zip-compressed", ".zip"},
      {"application/msword", ".doc"},
      {"application/vnd.openxmlformats-officedocument.wordprocessingml.document", ".docx"},
      {"application/vnd.ms-excel", ".xls"},
      {"application/vnd.openxmlformats-officedocument.spreadsheetml.sheet", ".xlsx"},
      {"application/vnd.ms-powerpoint", ".ppt"},
      {"application/vnd.openxmlformats-officedocument.presentationml.presentation", ".pptx"},
      {"message/rfc822", ".eml"},
  };
  const auto found = kExtensions.find(mime_type);
  return found != kExtensions.end() ? found->second : ".bin";
}

// Outlook's rich-text wrapping of a message's files.
bool IsTnef(GMimeObject* part, const std::string& declared_name) {
  return IsType(part, "application", "ms-tnef") || IsType(part, "application", "vnd.ms-tnef") ||
         g_ascii_strcasecmp(declared_name.c_str(), "winmail.dat") == 0;
}

// The header part of a Macintosh file sent as multipart/appledouble; the
// part after it holds the file's data.
bool IsAppleDoubleHeader(GMimeObject* part, GMimeObject* parent) {
  return parent != nullptr && IsType(parent, "multipart", "appledouble") &&
         IsType(part, "application", "applefile");
}

// The text the sender wrote, or an HTML picture embedded in it: not files.
bool IsBodyOrEmbedded(GMimeObject* part, const std::string& declared_name, bool in_related) {
  if (DispositionIsAttachment(part)) return false;
  const bool text = IsType(part, "text", "plain") || IsType(part, "text", "html");
  if (text && declared_name.empty()) return true;
  return in_related && g_mime_object_get_content_id(part) != nullptr;
}

// `message` is the attached message, or the top part that holds its headers.
std::string SubjectFileName(GMimeObject* message) {
  std::string subject = message != nullptr ? DecodeUnstructured(RawHeader(message, "Subject")) : "";
  // A subject is no path: its slashes must not cut it short.
  std::replace(subject.begin(), subject.end(), '/', '_');
  std::replace(subject.begin(), subject.end(), '\\', '_');
  const bool blank = subject.find_first_not_of(" \t\r\n") == std::string::npos;
  return blank ? "attachment.eml" : subject + ".eml";
}

// A byte range of the message file; end < 0 means "to the end of the file".
struct Range {
  gint64 begin = 0;
  gint64 end = -1;
};

// Bytes of the in-memory message that make up an attachment's file, and how
// they are encoded.
struct Slice {
  std::size_t begin;
  std::size_t end;
  GMimeContentEncoding encoding;
};

struct Entry {
  GMimeObject* object;                   // owned by the message tree; for a held file, its source
  std::string name;                      // safe file name
  std::optional<Range> raw_bytes;        // set for an attached message copied as it stands
  std::shared_ptr<const HeldFile> held;  // a file already decoded into a scratch file
  std::optional<Slice> slice;            // where it lies in the in-memory message, once known
};

struct Pending {
  GMimeObject* object;
  GMimeObject* parent;  // the enclosing multipart, if any
  int depth;
  bool in_related;
  // The bytes of the message file this part belongs to; none for a part of
  // a message that was decoded from a transfer encoding.
  std::optional<Range> enclosing;
};

// Where the content that starts at `begin` ends: before the line break that
// precedes the next "--boundary" line, or at the end of `enclosing`.
gint64 ContentEnd(int fd, gint64 begin, const std::string& boundary, Range enclosing) {
  if (boundary.empty()) return enclosing.end;
  const std::string marker = "\n--" + boundary;
  std::string window;
  gint64 window_start = begin - 1;  // the line break before `begin` may precede the marker
  std::array<char, kChunk> buffer;
  for (gint64 at = begin;;) {
    std::size_t got = 0;
    if (!ReadBytesAt(fd, buffer.data(), buffer.size(), at, got) || got == 0) return enclosing.end;
    window.append(buffer.data(), got);
    at += static_cast<gint64>(got);
    const std::size_t found = window.find(marker);
    if (found != std::string::npos) {
      gint64 end = window_start + 1 + static_cast<gint64>(found);
      if (found > 0 && window[found - 1] == '\r') --end;
      if (enclosing.end >= 0) end = std::min(end, enclosing.end);
      return std::max(end, begin);
    }
    if (enclosing.end >= 0 && at >= enclosing.end) return enclosing.end;
    const std::size_t keep = std::min(window.size(), marker.size());
    window_start += static_cast<gint64>(window.size() - keep);
    window.erase(0, window.size() - keep);
  }
}

void CopyRange(int from, int to, Range range, const std::string& what) {
  std::array<char, kChunk> buffer;
  for (gint64 at = range.begin; range.end < 0 || at < range.end;) {
    std::size_t want = buffer.size();
    if (range.end >= 0)
      want = std::min<std::size_t>(want, static_cast<std::size_t>(range.end - at));
    std::size_t got = 0;
    if (!ReadBytesAt(from, buffer.data(), want, at, got)) {
      throw UnreadableMessage("", std::strerror(errno));
    }
    if (got == 0) return;
    WriteAll(to, buffer.data(), got, what);
    at += static_cast<gint64>(got);
  }
}

// Where an attached message's header block starts: at its earliest field.
// GMime gives the Content-* fields to the message's top part, so the
// message's own fields may start later. -1 when no field has an offset.
gint64 HeaderBlockStart(GMimeMessage* message) {
  gint64 start = -1;
  for (GMimeObject* object : {GMIME_OBJECT(message), g_mime_message_get_mime_part(message)}) {
    GMimeHeaderList* headers = object != nullptr ? g_mime_object_get_header_list(object) : nullptr;
    const int count = headers != nullptr ? g_mime_header_list_get_count(headers) : 0;
    for (int i = 0; i < count; ++i) {
      const gint64 offset = g_mime_header_get_offset(g_mime_header_list_get_header_at(headers, i));
      if (offset >= 0 && (start < 0 || offset < start)) start = offset;
    }
  }
  return start;
}

bool NeedsDecoding(GMimeContentEncoding encoding) {
  return encoding == GMIME_CONTENT_ENCODING_BASE64 ||
         encoding == GMIME_CONTENT_ENCODING_QUOTEDPRINTABLE ||
         encoding == GMIME_CONTENT_ENCODING_UUENCODE;
}

// Writes `size` bytes of content, transfer-decoded by GMime's own decoder when
// `encoding` is base64 or quoted-printable, to `to`, a large block at a time.
// Uses no GMime object, so it may run on any thread.
void DecodeRange(const char* data, std::size_t size, GMimeContentEncoding encoding, int to,
                 const std::string& what) {
  if (encoding != GMIME_CONTENT_ENCODING_BASE64 &&
      encoding != GMIME_CONTENT_ENCODING_QUOTEDPRINTABLE) {
    WriteAll(to, data, size, what);
    return;
  }
  GMimeEncoding state;
  g_mime_encoding_init_decode(&state, encoding);
  const std::size_t room = g_mime_encoding_outlen(&state, kDecodeBlock);
  const auto out = std::make_unique_for_overwrite<char[]>(room);
  for (std::size_t at = 0; at < size; at += kDecodeBlock) {
    const std::size_t length = std::min(kDecodeBlock, size - at);
    WriteAll(to, out.get(), g_mime_encoding_step(&state, data + at, length, out.get()), what);
  }
  WriteAll(to, out.get(), g_mime_encoding_flush(&state, nullptr, 0, out.get()), what);
}

// Hands the content of a part, transfer-decoded by GMime's own decoder, to
// `sink`, a block of up to `block_size` bytes at a time.
template <typename Sink>
void DecodeInto(GMimeDataWrapper* content, std::size_t block_size, Sink sink) {
  GMimeStream* source = g_mime_data_wrapper_get_stream(content);
  if (source == nullptr) return;
  const GMimeContentEncoding encoding = g_mime_data_wrapper_get_encoding(content);
  GObjectPtr<GMimeFilter> decoder(NeedsDecoding(encoding) ? g_mime_filter_basic_new(encoding, FALSE)
                                                          : nullptr);
  g_mime_stream_reset(source);
  const auto block = std::make_unique_for_overwrite<char[]>(block_size);
  for (;;) {
    // A bounded file stream reports reading at its end as an error (EINVAL),
    // so the end is asked for first.
    errno = 0;
    const gssize got =
        g_mime_stream_eos(source) ? 0 : g_mime_stream_read(source, block.get(), block_size);
    if (got < 0) {
      throw UnreadableMessage("", std::strerror(errno != 0 ? errno : EIO));
    }
    char* out = block.get();
    std::size_t out_length = static_cast<std::size_t>(got);
    std::size_t out_prespace = 0;
    if (decoder && got > 0) {
      g_mime_filter_filter(decoder.get(), block.get(), out_length, 0, &out, &out_length,
                           &out_prespace);
    } else if (decoder) {
      g_mime_filter_complete(decoder.get(), block.get(), 0, 0, &out, &out_length, &out_prespace);
    }
    sink(out, out_length);
    if (got == 0) return;
  }
}

// Writes the content of a part, transfer-decoded, to `to`, a large block at a
// time.
void DecodeInto(GMimeDataWrapper* content, int to, const std::string& what) {
  DecodeInto(content, kDecodeBlock,
             [&](const char* data, std::size_t size) { WriteAll(to, data, size, what); });
}

// The transfer-decoded content of `part` in memory; std::nullopt when it is
// larger than `limit` bytes.
std::optional<std::string> DecodedContent(GMimeObject* part, std::size_t limit) {
  GMimeDataWrapper* content =
      GMIME_IS_PART(part) ? g_mime_part_get_content(GMIME_PART(part)) : nullptr;
  GMimeStream* source = content != nullptr ? g_mime_data_wrapper_get_stream(content) : nullptr;
  if (source == nullptr) return std::string();
  const gint64 encoded = g_mime_stream_length(source);
  if (encoded > static_cast<gint64>(2 * limit)) return std::nullopt;
  std::string text;
  bool too_large = false;
  const std::size_t block = std::clamp<std::size_t>(
      static_cast<std::size_t>(std::max<gint64>(encoded, 0)) + 1, 4096, kDecodeBlock);
  DecodeInto(content, block, [&](const char* data, std::size_t size) {
    too_large = too_large || size > limit - text.size();
    if (!too_large) text.append(data, size);
  });
  if (too_large) return std::nullopt;
  return text;
}

// The transfer-decoded content of `part` as message bytes; nullptr when it
// is larger than `limit` bytes.
MessageBytes DecodedBytes(GMimeObject* part, std::size_t limit) {
  GMimeDataWrapper* content =
      GMIME_IS_PART(part) ? g_mime_part_get_content(GMIME_PART(part)) : nullptr;
  GMimeStream* source = content != nullptr ? g_mime_data_wrapper_get_stream(content) : nullptr;
  if (source == nullptr || g_mime_stream_length(source) > static_cast<gint64>(2 * limit)) {
    return nullptr;
  }
  MessageBytes bytes(g_byte_array_new(), g_byte_array_unref);
  bool too_large = false;
  DecodeInto(content, kDecodeBlock, [&](const char* data, std::size_t size) {
    too_large = too_large || size > limit - bytes->len;
    if (!too_large) g_byte_array_append(bytes.get(), reinterpret_cast<const guint8*>(data), size);
  });
  return too_large ? nullptr : bytes;
}

bool IsEncodedMessage(GMimeObject* part) {
  GMimeDataWrapper* content =
      GMIME_IS_PART(part) ? g_mime_part_get_content(GMIME_PART(part)) : nullptr;
  return content != nullptr && IsType(part, "message", "rfc822") &&
         NeedsDecoding(g_mime_data_wrapper_get_encoding(content));
}

// The two bytes of the stream's whole message at `offset`, if it has them.
std::optional<std::string> TwoBytesAt(GMimeStream* stream, gint64 offset) {
  std::string pair(2, '\0');
  if (GMIME_IS_STREAM_MEM(stream)) {
    const GByteArray* bytes = g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(stream));
    if (bytes == nullptr || offset < 0 || offset + 2 > static_cast<gint64>(bytes->len)) {
      return std::nullopt;
    }
    std::memcpy(pair.data(), bytes->data + offset, 2);
    return pair;
  }
  std::size_t got = 0;
  if (!GMIME_IS_STREAM_FS(stream) ||
      !ReadBytesAt(GMIME_STREAM_FS(stream)->fd, pair.data(), 2, offset, got) || got != 2) {
    return std::nullopt;
  }
  return pair;
}

// GMime leaves the CR of the line break before a boundary line in a part's
// content when that boundary line ends the message without a line break of
// its own. The line break belongs to the boundary: the content ends before it.
void EndBeforeBoundaryLineBreak(GMimeObject* part) {
  GMimeDataWrapper* content = g_mime_part_get_content(GMIME_PART(part));
  GMimeStream* source = content != nullptr ? g_mime_data_wrapper_get_stream(content) : nullptr;
  if (source == nullptr || source->bound_end <= source->bound_start) return;
  if (TwoBytesAt(source, source->bound_end - 1) == "\r\n") {
    g_mime_stream_set_bounds(source, source->bound_start, source->bound_end - 1);
  }
}

// Appends the transfer-decoded content of `part` to `scratch`; std::nullopt,
// with nothing appended, when it is larger than `limit` bytes.
std::optional<Span> AppendDecodedContent(GMimeObject* part, ScratchFile& scratch,
                                         std::int64_t limit) {
  GMimeDataWrapper* content =
      GMIME_IS_PART(part) ? g_mime_part_get_content(GMIME_PART(part)) : nullptr;
  const std::int64_t begin = scratch.size();
  if (content == nullptr) return Span{begin, 0};
  bool too_large = false;
  DecodeInto(content, kDecodeBlock, [&](const char* data, std::size_t size) {
    too_large = too_large || static_cast<std::int64_t>(size) > limit - (scratch.size() - begin);
    if (!too_large) scratch.Append(std::string_view(data, size));
  });
  if (too_large) {
    scratch.Truncate(begin);
    return std::nullopt;
  }
  return Span{begin, scratch.size() - begin};
}

void WriteSlice(const GByteArray& bytes, const Slice& slice, int to, const std::string& what) {
  DecodeRange(reinterpret_cast<const char*>(bytes.data) + slice.begin, slice.end - slice.begin,
              slice.encoding, to, what);
}

}  // namespace

struct AttachmentList::Impl {
  UniqueFd fd;
  OpenScratchFile open_scratch;
  std::shared_ptr<ScratchFile> scratch;  // opened when a wrapped file is first found
  MessageBytes bytes;            // the whole message when it is in memory; outlives the tree
  GObjectPtr<GMimeObject> root;  // the message's top-level part
  std::string date;              // its raw Date field, kept when the tree goes
  // Attached messages decoded from a transfer encoding, and their top parts,
  // which entries point into; the bytes outlive the trees.
  std::vector<MessageBytes> decoded_bytes;
  std::vector<GObjectPtr<GMimeObject>> decoded_roots;
  std::size_t decoded_budget = kMaxDecodedMessageBytes;
  std::deque<Entry> entries;  // grows without copying: a message may have thousands

  std::optional<Slice> SliceOf(const Entry& entry) const;
  const std::shared_ptr<ScratchFile>& Scratch();
  void Parse();
  void Walk(GMimeObject* root);
  void DropTreeWhenUnneeded();
  void AddMessagePart(const Pending& at, std::vector<Pending>& stack);
  void AddEncodedMessage(const Pending& at, std::vector<Pending>& stack);
  void AddLeaf(const Pending& at);
  void AddHeldFiles(std::vector<HeldFile> files, GMimeObject* source);
  bool AddUuencodedFiles(GMimeObject* body);
  bool AddTnefFiles(GMimeObject* part);
  void WriteDecoded(GMimeObject* part, int to, const std::string& what);
};

void AttachmentList::Impl::Parse() {
  InitGMimeOnce();
  if (const std::optional<std::string> exceeded = PartBoundExceeded(fd.get())) {
    throw UnreadableMessage("", *exceeded);
  }
  fd = WithBoundedHeaderBlock(std::move(fd), open_scratch);
  bytes = ReadIntoMemory(fd.get());
  root = ParseTopPart(fd.get(), bytes);
  if (root) date = RawHeader(root.get(), "Date");
  if (root) Walk(root.get());
  DropTreeWhenUnneeded();
}

// A message in memory whose every file is a slice of it, or already decoded,
// needs its parse tree no more: it goes before any file is written, so that a
// message of thousands of parts does not hold both at once.
void AttachmentList::Impl::DropTreeWhenUnneeded() {
  bool all_known = true;
  for (Entry& entry : entries) {
    if (!entry.held) entry.slice = SliceOf(entry);
    all_known = all_known && (entry.held || entry.slice);
  }
  if (!all_known) return;
  for (Entry& entry : entries) entry.object = nullptr;
  root.reset();
}

void AttachmentList::Impl::Walk(GMimeObject* root) {
  std::vector<Pending> stack;
  if (root != nullptr) stack.push_back({root, nullptr, 0, false, Range{}});
  while (!stack.empty()) {
    const Pending at = stack.back();
    stack.pop_back();
    if (at.depth > kMaxDepth) {
      throw UnreadableMessage(
          "", "parts nested more than " + std::to_string(kMaxDepth) + " levels deep");
    }
    if (GMIME_IS_MESSAGE_PART(at.object)) {
      AddMessagePart(at, stack);
    } else if (IsEncodedMessage(at.object)) {
      AddEncodedMessage(at, stack);
    } else if (GMIME_IS_MULTIPART(at.object)) {
      GMimeMultipart* multipart = GMIME_MULTIPART(at.object);
      const bool related = at.in_related || IsType(at.object, "multipart", "related");
      for (int i = g_mime_multipart_get_count(multipart) - 1; i >= 0; --i) {
        GMimeObject* part = g_mime_multipart_get_part(multipart, i);
        if (IsAppleDoubleHeader(part, at.object)) continue;
        stack.push_back({part, at.object, at.depth + 1, related, at.enclosing});
      }
    } else if (GMIME_IS_PART(at.object)) {
      AddLeaf(at);
    }
  }
}

void AttachmentList::Impl::AddMessagePart(const Pending& at, std::vector<Pending>& stack) {
  GMimeMessage* inner = g_mime_message_part_get_message(GMIME_MESSAGE_PART(at.object));
  std::string name = DeclaredName(at.object);
  if (name.empty()) name = SubjectFileName(inner != nullptr ? GMIME_OBJECT(inner) : nullptr);
  Entry entry{at.object, MakeSafeFileName(name, "attachment.eml"), std::nullopt, nullptr,
              std::nullopt};

  const gint64 start = inner != nullptr ? HeaderBlockStart(inner) : -1;
  Range bytes;
  if (start >= 0 && at.enclosing) {
    bytes.begin = start;
    const char* boundary =
        at.parent != nullptr ? g_mime_multipart_get_boundary(GMIME_MULTIPART(at.parent)) : nullptr;
    bytes.end =
        ContentEnd(fd.get(), bytes.begin, boundary != nullptr ? boundary : "", *at.enclosing);
    entry.raw_bytes = bytes;
  }
  entries.push_back(std::move(entry));
  if (inner != nullptr) {
    GMimeObject* body = g_mime_message_get_mime_part(inner);
    const std::optional<Range> enclosing = at.enclosing ? std::optional(bytes) : std::nullopt;
    if (body != nullptr) stack.push_back({body, nullptr, at.depth + 1, false, enclosing});
  }
}

// An attached message sent transfer-encoded, which RFC 2046 forbids and
// senders do anyway: GMime leaves it a plain part. Its file is the decoded
// message; decoded in memory, within the budget and the bounds on parts, it
// is parsed and its files follow as for any attached message.
void AttachmentList::Impl::AddEncodedMessage(const Pending& at, std::vector<Pending>& stack) {
  MessageBytes decoded = at.depth < kMaxDepth ? DecodedBytes(at.object, decoded_budget) : nullptr;
  // Bounded as a message read from a file is; one beyond is kept whole in its .eml.
  if (decoded && PartBoundExceeded(std::string_view(reinterpret_cast<const char*>(decoded->data),
                                                    decoded->len))) {
    decoded = nullptr;
  }
  GObjectPtr<GMimeObject> top = decoded ? ParseTopPart(-1, decoded) : nullptr;
  std::string name = DeclaredName(at.object);
  if (name.empty()) name = SubjectFileName(top.get());
  entries.push_back(
      {at.object, MakeSafeFileName(name, "attachment.eml"), std::nullopt, nullptr, std::nullopt});
  if (!top) return;
  decoded_budget -= decoded->len;
  decoded_bytes.push_back(std::move(decoded));
  stack.push_back({top.get(), nullptr, at.depth + 1, false, std::nullopt});
  decoded_roots.push_back(std::move(top));
}

const std::shared_ptr<ScratchFile>& AttachmentList::Impl::Scratch() {
  if (!scratch) scratch = std::make_shared<ScratchFile>(open_scratch());
  return scratch;
}

void AttachmentList::Impl::AddLeaf(const Pending& at) {
  EndBeforeBoundaryLineBreak(at.object);
  const std::string declared = DeclaredName(at.object);
  if (IsBodyOrEmbedded(at.object, declared, at.in_related)) {
    const bool plain = IsType(at.object, "text", "plain");
    if (!plain || AddUuencodedFiles(at.object)) return;
  }
  if (IsTnef(at.object, declared) && AddTnefFiles(at.object)) return;
  const std::string fallback = "attachment" + ExtensionFor(MimeType(at.object));
  entries.push_back({at.object, MakeSafeFileName(declared.empty() ? fallback : declared, fallback),
                     std::nullopt, nullptr, std::nullopt});
}

void AttachmentList::Impl::AddHeldFiles(std::vector<HeldFile> files, GMimeObject* source) {
  for (HeldFile& file : files) {
    std::string name = MakeSafeFileName(file.name, "attachment.bin");
    entries.push_back({source, std::move(name), std::nullopt,
                       std::make_shared<const HeldFile>(std::move(file)), std::nullopt});
  }
}

// The files uuencoded in a text body. False when the body itself is to be
// saved too: it holds more blocks than are taken from one body.
bool AttachmentList::Impl::AddUuencodedFiles(GMimeObject* body) {
  const std::optional<std::string> text = DecodedContent(body, kMaxSearchedTextBytes);
  if (!text || text->find("begin ") == std::string::npos) return true;
  const char* charset = g_mime_object_get_content_type_parameter(body, "charset");
  UuencodedContents contents = UuencodedFiles(*text, charset != nullptr ? charset : "", Scratch());
  AddHeldFiles(std::move(contents.files), body);
  return !contents.incomplete;
}

// The files inside a winmail.dat instead of the winmail.dat itself, which
// only Outlook opens. One that holds only the message's rich text gives
// nothing. False when the part is to be saved as it stands: it cannot be
// unpacked, or not all of it could.
bool AttachmentList::Impl::AddTnefFiles(GMimeObject* part) {
  const std::optional<Span> stream = AppendDecodedContent(part, *Scratch(), kMaxTnefBytes);
  std::optional<TnefContents> contents = stream ? FilesInTnef(Scratch(), *stream) : std::nullopt;
  if (!contents) return false;
  AddHeldFiles(std::move(contents->files), part);
  return !contents->incomplete;
}

void AttachmentList::Impl::WriteDecoded(GMimeObject* object, int to, const std::string& what) {
  GMimeDataWrapper* content =
      GMIME_IS_PART(object) ? g_mime_part_get_content(GMIME_PART(object)) : nullptr;
  if (content != nullptr) {
    DecodeInto(content, to, what);
  } else if (GMIME_IS_MESSAGE_PART(object)) {
    // An attached message whose bytes could not be located: write it out again.
    GMimeMessage* inner = g_mime_message_part_get_message(GMIME_MESSAGE_PART(object));
    // The stream writes straight to the descriptor; the caller closes it.
    GObjectPtr<GMimeStream> out(g_mime_stream_fs_new(to));
    g_mime_stream_fs_set_owner(GMIME_STREAM_FS(out.get()), FALSE);
    errno = 0;
    if (inner != nullptr &&
        g_mime_object_write_to_stream(GMIME_OBJECT(inner), nullptr, out.get()) < 0) {
      throw FileFailure(FailureKind::FileWrite, errno != 0 ? errno : EIO, "writing " + what);
    }
  }
}

// The file of `entry` as a slice of the in-memory message: the whole content of
// a part that is copied or decoded by base64 or quoted-printable, or the bytes
// of an attached message. Anything else is written through GMime's streams.
std::optional<Slice> AttachmentList::Impl::SliceOf(const Entry& entry) const {
  if (!bytes || entry.held) return std::nullopt;
  const auto size = static_cast<gint64>(bytes->len);
  const auto clamp = [size](gint64 at) {
    return static_cast<std::size_t>(std::clamp<gint64>(at, 0, size));
  };
  if (entry.raw_bytes) {
    const gint64 end = entry.raw_bytes->end < 0 ? size : entry.raw_bytes->end;
    return Slice{clamp(entry.raw_bytes->begin), clamp(std::max(end, entry.raw_bytes->begin)),
                 GMIME_CONTENT_ENCODING_BINARY};
  }
  GMimeDataWrapper* content =
      GMIME_IS_PART(entry.object) ? g_mime_part_get_content(GMIME_PART(entry.object)) : nullptr;
  GMimeStream* source = content != nullptr ? g_mime_data_wrapper_get_stream(content) : nullptr;
  if (source == nullptr || !GMIME_IS_STREAM_MEM(source) ||
      g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(source)) != bytes.get()) {
    return std::nullopt;
  }
  const GMimeContentEncoding encoding = g_mime_data_wrapper_get_encoding(content);
  if (encoding == GMIME_CONTENT_ENCODING_UUENCODE) return std::nullopt;
  const gint64 end = source->bound_end < 0 ? size : source->bound_end;
  return Slice{clamp(source->bound_start), clamp(std::max(end, source->bound_start)), encoding};
}

AttachmentList::AttachmentList(UniqueFd message, OpenScratchFile open_scratch)
    : impl_(std::make_unique<Impl>()) {
  impl_->fd = std::move(message);
  impl_->open_scratch = std::move(open_scratch);
  impl_->Parse();
}

AttachmentList::~AttachmentList() = default;

std::size_t AttachmentList::size() const { return impl_->entries.size(); }

const std::string& AttachmentList::Name(std::size_t index) const {
  return impl_->entries.at(index).name;
}

std::optional<std::chrono::system_clock::time_point> AttachmentList::Date() const {
  return DateOf(impl_->date);
}

void AttachmentList::Write(std::size_t index, int fd, const std::string& what) const {
  const Entry& entry = impl_->entries.at(index);
  if (entry.held) {
    entry.held->scratch->CopyTo(entry.held->bytes, fd, what);
  } else if (entry.slice) {
    WriteSlice(*impl_->bytes, *entry.slice, fd, what);
  } else if (entry.raw_bytes) {
    CopyRange(impl_->fd.get(), fd, *entry.raw_bytes, what);
  } else {
    impl_->WriteDecoded(entry.object, fd, what);
  }
}

AttachmentList::DetachedWriter AttachmentList::Detached(std::size_t index,
                                                        std::size_t* held) const {
  const Entry& entry = impl_->entries.at(index);
  if (entry.held) {
    // The bytes are on disk; what the task holds until it runs is the open
    // file it writes, and a block to copy through when it does.
    if (held != nullptr) *held = kScratchCopyBlock;
    return [file = entry.held](int fd, const std::string& what) {
      file->scratch->CopyTo(file->bytes, fd, what);
    };
  }
  const std::optional<Slice>& slice = entry.slice;
  if (!slice) return {};
  if (held != nullptr) *held = impl_->bytes->len;
  // The task holds the message's bytes until it has run.
  return [bytes = impl_->bytes, slice = *slice](int fd, const std::string& what) {
    WriteSlice(*bytes, slice, fd, what);
  };
}

}  // namespace qm
