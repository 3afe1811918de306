#include "mail/AttachmentList.h"

#include <gmime/gmime.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "frame/Failure.h"
#include "mail/DestinationFile.h"
#include "mail/HeaderText.h"
#include "mail/SafeName.h"

namespace qm {
namespace {

// Parts nested deeper than this are ignored; the walk itself never recurses.
constexpr int kMaxDepth = 64;
constexpr std::size_t kChunk = 64 * 1024;

struct ObjectUnref {
  void operator()(gpointer object) const { g_object_unref(object); }
};
struct OptionsFree {
  void operator()(GMimeParserOptions* options) const { g_mime_parser_options_free(options); }
};
template <typename T>
using GObjectPtr = std::unique_ptr<T, ObjectUnref>;

void InitGMimeOnce() {
  static std::once_flag once;
  std::call_once(once, [] { g_mime_init(); });
}

// Malformed mail is normal mail: the parser's complaints change nothing.
void IgnoreWarning(gint64, GMimeParserWarning, const gchar*, gpointer) {}

std::unique_ptr<GMimeParserOptions, OptionsFree> LenientOptions() {
  static const char* kFallbackCharsets[] = {"UTF-8", "CP932", "EUC-JP", "ISO-8859-1", nullptr};
  std::unique_ptr<GMimeParserOptions, OptionsFree> options(g_mime_parser_options_new());
  g_mime_parser_options_set_fallback_charsets(options.get(), kFallbackCharsets);
  g_mime_parser_options_set_rfc2047_compliance_mode(options.get(), GMIME_RFC_COMPLIANCE_LOOSE);
  g_mime_parser_options_set_parameter_compliance_mode(options.get(), GMIME_RFC_COMPLIANCE_LOOSE);
  g_mime_parser_options_set_warning_callback(options.get(), IgnoreWarning, nullptr);
  return options;
}

GMimeHeader* FirstHeader(GMimeObject* object, const char* name) {
  GMimeHeaderList* list = g_mime_object_get_header_list(object);
  return list != nullptr ? g_mime_header_list_get_header(list, name) : nullptr;
}

// The header value exactly as written; GMime's own decoding is not used.
std::string RawHeader(GMimeObject* object, const char* name) {
  GMimeHeader* header = FirstHeader(object, name);
  const char* raw = header != nullptr ? g_mime_header_get_raw_value(header) : nullptr;
  return raw != nullptr ? raw : "";
}

std::string DeclaredName(GMimeObject* object) {
  for (const auto& [header, parameter] :
       {std::pair{"Content-Disposition", "filename"}, std::pair{"Content-Type", "name"}}) {
    const std::string raw = RawHeader(object, header);
    if (raw.empty()) continue;
    std::optional<std::string> name = DecodeParameter(raw, parameter);
    if (name && !name->empty()) return *name;
  }
  return {};
}

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

bool DispositionIsAttachment(GMimeObject* object) {
  const char* disposition = g_mime_object_get_disposition(object);
  return disposition != nullptr && g_ascii_strcasecmp(disposition, "attachment") == 0;
}

bool IsType(GMimeObject* object, const char* type, const char* subtype) {
  GMimeContentType* content_type = g_mime_object_get_content_type(object);
  return content_type != nullptr && g_mime_content_type_is_type(content_type, type, subtype);
}

// The text the sender wrote, or an HTML picture embedded in it: not files.
bool IsBodyOrEmbedded(GMimeObject* part, const std::string& declared_name, bool in_related) {
  if (DispositionIsAttachment(part)) return false;
  const bool text = IsType(part, "text", "plain") || IsType(part, "text", "html");
  if (text && declared_name.empty()) return true;
  return in_related && g_mime_object_get_content_id(part) != nullptr;
}

std::string SubjectFileName(GMimeMessage* message) {
  std::string subject =
      message != nullptr ? DecodeUnstructured(RawHeader(GMIME_OBJECT(message), "Subject")) : "";
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

struct Entry {
  GMimeObject* object;             // owned by the message tree
  std::string name;                // safe file name
  std::optional<Range> raw_bytes;  // set for an attached message copied as it stands
};

struct Pending {
  GMimeObject* object;
  GMimeObject* parent;  // the enclosing multipart, if any
  int depth;
  bool in_related;
  Range enclosing;  // the bytes of the message this part belongs to
};

bool ReadAt(int fd, char* buffer, std::size_t size, gint64 offset, std::size_t& got) {
  for (;;) {
    const ssize_t n = ::pread(fd, buffer, size, offset);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    got = static_cast<std::size_t>(n);
    return true;
  }
}

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
    if (!ReadAt(fd, buffer.data(), buffer.size(), at, got) || got == 0) return enclosing.end;
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
    if (!ReadAt(from, buffer.data(), want, at, got)) {
      throw FileFailure(FailureKind::FileWrite, errno, "reading the message for " + what);
    }
    if (got == 0) return;
    for (std::size_t done = 0; done < got;) {
      const ssize_t n = ::write(to, buffer.data() + done, got - done);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) throw FileFailure(FailureKind::FileWrite, errno, "writing " + what);
      done += static_cast<std::size_t>(n);
    }
    at += static_cast<gint64>(got);
  }
}

// Removes a file being written unless it was completed.
class PartialFile {
 public:
  explicit PartialFile(std::filesystem::path path) : path_(std::move(path)) {}
  ~PartialFile() {
    if (!path_.empty()) ::unlink(path_.c_str());
  }
  PartialFile(const PartialFile&) = delete;
  PartialFile& operator=(const PartialFile&) = delete;
  std::filesystem::path Keep() { return std::exchange(path_, {}); }

 private:
  std::filesystem::path path_;
};

}  // namespace

struct AttachmentList::Impl {
  UniqueFd fd;
  GObjectPtr<GMimeMessage> message;
  std::vector<Entry> entries;

  void Parse();
  void Walk(GMimeObject* root);
  void AddMessagePart(const Pending& at, std::vector<Pending>& stack);
  void AddLeaf(const Pending& at);
  void WriteDecoded(GMimeObject* part, int to, const std::string& what);
};

void AttachmentList::Impl::Parse() {
  InitGMimeOnce();
  const int copy = ::dup(fd.get());
  if (copy < 0) throw FileFailure(FailureKind::MailStore, errno, "reading a message");
  GObjectPtr<GMimeStream> stream(g_mime_stream_fs_new_with_bounds(copy, 0, -1));
  GObjectPtr<GMimeParser> parser(g_mime_parser_new_with_stream(stream.get()));
  g_mime_parser_set_persist_stream(parser.get(), TRUE);
  g_mime_parser_set_format(parser.get(), GMIME_FORMAT_MESSAGE);
  const auto options = LenientOptions();
  message.reset(g_mime_parser_construct_message(parser.get(), options.get()));
  if (message) Walk(g_mime_message_get_mime_part(message.get()));
}

void AttachmentList::Impl::Walk(GMimeObject* root) {
  std::vector<Pending> stack;
  if (root != nullptr) stack.push_back({root, nullptr, 0, false, Range{}});
  while (!stack.empty()) {
    const Pending at = stack.back();
    stack.pop_back();
    if (at.depth > kMaxDepth) continue;
    if (GMIME_IS_MESSAGE_PART(at.object)) {
      AddMessagePart(at, stack);
    } else if (GMIME_IS_MULTIPART(at.object)) {
      GMimeMultipart* multipart = GMIME_MULTIPART(at.object);
      const bool related = at.in_related || IsType(at.object, "multipart", "related");
      for (int i = g_mime_multipart_get_count(multipart) - 1; i >= 0; --i) {
        stack.push_back({g_mime_multipart_get_part(multipart, i), at.object, at.depth + 1, related,
                         at.enclosing});
      }
    } else if (GMIME_IS_PART(at.object)) {
      AddLeaf(at);
    }
  }
}

void AttachmentList::Impl::AddMessagePart(const Pending& at, std::vector<Pending>& stack) {
  GMimeMessage* inner = g_mime_message_part_get_message(GMIME_MESSAGE_PART(at.object));
  std::string name = DeclaredName(at.object);
  if (name.empty()) name = SubjectFileName(inner);
  Entry entry{at.object, MakeSafeFileName(name, "attachment.eml"), std::nullopt};

  GMimeHeaderList* headers =
      inner != nullptr ? g_mime_object_get_header_list(GMIME_OBJECT(inner)) : nullptr;
  GMimeHeader* first = headers != nullptr && g_mime_header_list_get_count(headers) > 0
                           ? g_mime_header_list_get_header_at(headers, 0)
                           : nullptr;
  Range bytes;
  if (first != nullptr && g_mime_header_get_offset(first) >= 0) {
    bytes.begin = g_mime_header_get_offset(first);
    const char* boundary =
        at.parent != nullptr ? g_mime_multipart_get_boundary(GMIME_MULTIPART(at.parent)) : nullptr;
    bytes.end =
        ContentEnd(fd.get(), bytes.begin, boundary != nullptr ? boundary : "", at.enclosing);
    entry.raw_bytes = bytes;
  }
  entries.push_back(std::move(entry));
  if (inner != nullptr) {
    GMimeObject* body = g_mime_message_get_mime_part(inner);
    if (body != nullptr) stack.push_back({body, nullptr, at.depth + 1, false, bytes});
  }
}

void AttachmentList::Impl::AddLeaf(const Pending& at) {
  const std::string declared = DeclaredName(at.object);
  if (IsBodyOrEmbedded(at.object, declared, at.in_related)) return;
  const std::string fallback = "attachment" + ExtensionFor(MimeType(at.object));
  entries.push_back({at.object, MakeSafeFileName(declared.empty() ? fallback : declared, fallback),
                     std::nullopt});
}

void AttachmentList::Impl::WriteDecoded(GMimeObject* object, int to, const std::string& what) {
  GMimeDataWrapper* content =
      GMIME_IS_PART(object) ? g_mime_part_get_content(GMIME_PART(object)) : nullptr;
  // The stream writes straight to the descriptor (no buffer to flush); the
  // caller closes it.
  GObjectPtr<GMimeStream> out(g_mime_stream_fs_new(to));
  g_mime_stream_fs_set_owner(GMIME_STREAM_FS(out.get()), FALSE);
  if (content == nullptr && GMIME_IS_MESSAGE_PART(object)) {
    // An attached message whose bytes could not be located: write it out again.
    GMimeMessage* inner = g_mime_message_part_get_message(GMIME_MESSAGE_PART(object));
    errno = 0;
    if (inner != nullptr &&
        g_mime_object_write_to_stream(GMIME_OBJECT(inner), nullptr, out.get()) < 0) {
      throw FileFailure(FailureKind::FileWrite, errno != 0 ? errno : EIO, "writing " + what);
    }
  } else if (content != nullptr) {
    errno = 0;
    if (g_mime_data_wrapper_write_to_stream(content, out.get()) < 0) {
      throw FileFailure(FailureKind::FileWrite, errno != 0 ? errno : EIO, "writing " + what);
    }
  }
}

AttachmentList::AttachmentList(UniqueFd message) : impl_(std::make_unique<Impl>()) {
  impl_->fd = std::move(message);
  impl_->Parse();
}

AttachmentList::~AttachmentList() = default;

std::size_t AttachmentList::size() const { return impl_->entries.size(); }

std::filesystem::path AttachmentList::Extract(std::size_t index,
                                              const std::filesystem::path& folder) {
  const Entry& entry = impl_->entries.at(index);
  NewFile file = CreateFreshFile(folder, entry.name);
  PartialFile partial(file.path);
  const std::string what = file.path.string();
  if (entry.raw_bytes) {
    CopyRange(impl_->fd.get(), file.fd.get(), *entry.raw_bytes, what);
  } else {
    impl_->WriteDecoded(entry.object, file.fd.get(), what);
  }
  if (::close(file.fd.Release()) != 0) throw FileFailure(FailureKind::FileWrite, errno, what);
  return partial.Keep();
}

}  // namespace qm
