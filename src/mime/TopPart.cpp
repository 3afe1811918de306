#include "mime/TopPart.h"

#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <string>

#include "base/Failure.h"
#include "base/FileSystem.h"
#include "mime/GMimeSetup.h"
#include "mime/MboxFromLine.h"
#include "store/UnreadableMessage.h"

namespace qm {
namespace {

// Where the message starts: after the mbox "From " line it may begin with.
gint64 MessageStart(int fd, const MessageBytes& bytes) {
  if (bytes) {
    return static_cast<gint64>(
        MboxFromLineLength({reinterpret_cast<const char*>(bytes->data), bytes->len}));
  }
  std::array<char, kMboxFromLineLimit> first;
  std::size_t got = 0;
  if (!ReadBytesAt(fd, first.data(), first.size(), 0, got)) {
    throw UnreadableMessage("", std::strerror(errno));
  }
  return static_cast<gint64>(MboxFromLineLength({first.data(), got}));
}

// A stream on the message from `start` on: on `bytes` when it is in memory
// (the bytes stay owned by the caller, so decoding may still use them after
// the parse tree is gone), else on a copy of the descriptor. Offsets in the
// stream are those of the whole message.
GMimeStream* OpenMessageStream(int fd, const MessageBytes& bytes, gint64 start) {
  if (bytes) {
    GMimeStream* stream = g_mime_stream_mem_new_with_byte_array(bytes.get());
    g_mime_stream_mem_set_owner(GMIME_STREAM_MEM(stream), FALSE);
    g_mime_stream_set_bounds(stream, start, -1);
    return stream;
  }
  const int copy = ::dup(fd);
  if (copy < 0) throw FileFailure(FailureKind::MailStore, errno, "reading a message");
  return g_mime_stream_fs_new_with_bounds(copy, start, -1);
}

}  // namespace

bool ReadBytesAt(int fd, char* buffer, std::size_t size, gint64 offset, std::size_t& got) {
  const std::int64_t n = fs::ReadAt(fd, buffer, size, static_cast<std::uint64_t>(offset));
  if (n < 0) return false;
  got = static_cast<std::size_t>(n);
  return true;
}

MessageBytes ReadIntoMemory(int fd) {
  fs::EntryInfo info;
  if (fs::InfoOf(fd, info) != 0 || info.kind != fs::EntryKind::kRegular ||
      info.size > static_cast<std::uint64_t>(kInMemoryLimit)) {
    return nullptr;
  }
  MessageBytes bytes(g_byte_array_sized_new(static_cast<guint>(info.size)), g_byte_array_unref);
  g_byte_array_set_size(bytes.get(), static_cast<guint>(info.size));
  std::size_t have = 0;
  for (std::size_t got = 0; have < bytes->len; have += got) {
    if (!ReadBytesAt(fd, reinterpret_cast<char*>(bytes->data) + have, bytes->len - have,
                     static_cast<gint64>(have), got)) {
      throw UnreadableMessage("", std::strerror(errno));
    }
    if (got == 0) break;  // the file shrank meanwhile
  }
  g_byte_array_set_size(bytes.get(), static_cast<guint>(have));
  return bytes;
}

GObjectPtr<GMimeObject> ParseTopPart(int fd, const MessageBytes& bytes) {
  InitGMimeOnce();
  GObjectPtr<GMimeStream> stream(OpenMessageStream(fd, bytes, MessageStart(fd, bytes)));
  GObjectPtr<GMimeParser> parser(g_mime_parser_new_with_stream(stream.get()));
  g_mime_parser_set_persist_stream(parser.get(), TRUE);
  const ParserOptionsPtr options = LenientOptions();
  return GObjectPtr<GMimeObject>(g_mime_parser_construct_part(parser.get(), options.get()));
}

}  // namespace qm
