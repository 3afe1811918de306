#include "mime/TnefFiles.h"

// libytnef's headers are C and define BYTE, WORD and DWORD as macros.
extern "C" {
#include <ytnef.h>
}

#include <cstddef>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "mime/TnefStream.h"
#include "text/Charset.h"
#include "text/HeaderText.h"

namespace qm {
namespace {

// Messages attached inside messages attached inside ... are unpacked this deep.
constexpr int kMaxDepth = 4;
// Files taken from one stream and all the messages inside it.
constexpr std::size_t kMaxFiles = kMaxTnefAttachments;
// An attached message's object starts with the 16-byte interface id.
constexpr std::size_t kObjectHeaderBytes = 16;
constexpr unsigned kEmbeddedMessage = 5;  // PR_ATTACH_METHOD of an attached message

// A parse by libytnef, freed with it.
class ParsedTnef {
 public:
  ParsedTnef() {
    TNEFInitialize(&tnef_);
    tnef_.Debug = 0;
  }
  ~ParsedTnef() { TNEFFree(&tnef_); }
  ParsedTnef(const ParsedTnef&) = delete;
  ParsedTnef& operator=(const ParsedTnef&) = delete;

  // `stream` must outlive nothing: libytnef copies what it keeps.
  bool Parse(std::string& stream) {
    return TNEFParseMemory(reinterpret_cast<unsigned char*>(stream.data()),
                           static_cast<long>(stream.size()), &tnef_) == 0;
  }
  const TNEFStruct& tnef() const { return tnef_; }

 private:
  TNEFStruct tnef_{};
};

std::string_view Bytes(const variableLength& value) {
  return value.data != nullptr && value.size > 0
             ? std::string_view(reinterpret_cast<const char*>(value.data),
                                static_cast<std::size_t>(value.size))
             : std::string_view();
}

const variableLength* Property(const Attachment& attachment, unsigned type, unsigned id) {
  variableLength* found =
      MAPIFindProperty(const_cast<MAPIProps*>(&attachment.MAPI), PROP_TAG(type, id));
  return found != MAPI_UNDEFINED && found != nullptr && found->data != nullptr ? found : nullptr;
}

std::string_view UpToNul(std::string_view text) { return text.substr(0, text.find('\0')); }

// Text in the sender's code page (Japanese Outlook: 932), as the stream's
// code page attribute names it.
std::string FromCodePage(std::string_view bytes, unsigned code_page) {
  bytes = UpToNul(bytes);
  if (code_page != 0) {
    const std::string converter = "windows-" + std::to_string(code_page);
    if (auto text = ConvertExactly(bytes, converter.c_str())) return *text;
  }
  return DecodeUnlabelled(bytes);
}

// libytnef turns a UTF-16 value into CESU-8 (a character beyond the BMP as
// two three-byte halves) ending in a NUL, in a buffer of 3 * size / 2 + 1
// bytes where size, still the length of the UTF-16, is what it reports.
std::string FromLibytnefUnicode(const variableLength& value) {
  const auto* text = reinterpret_cast<const char*>(value.data);
  const std::string_view bytes(text,
                               ::strnlen(text, 3 * static_cast<std::size_t>(value.size) / 2 + 1));
  if (auto converted = ConvertExactly(bytes, "CESU-8")) return *converted;
  return ReplaceInvalidUtf8(bytes);
}

unsigned CodePageOf(const TNEFStruct& tnef) {
  const std::string_view bytes = Bytes(tnef.CodePage);
  if (bytes.size() < 4) return 0;
  unsigned value = 0;
  for (std::size_t i = 4; i-- > 0;) value = value << 8 | static_cast<unsigned char>(bytes[i]);
  return value;
}

// The name property `id`, Unicode or in the code page.
std::optional<std::string> NameProperty(const Attachment& attachment, unsigned id,
                                        unsigned code_page) {
  if (const auto* name = Property(attachment, PT_UNICODE, id)) return FromLibytnefUnicode(*name);
  if (const auto* name = Property(attachment, PT_STRING8, id)) {
    return FromCodePage(Bytes(*name), code_page);
  }
  return std::nullopt;
}

// The long name, else the title, else the display name or the short name.
std::string NameOf(const Attachment& attachment, unsigned code_page) {
  if (auto name = NameProperty(attachment, PR_ATTACH_LONG_FILENAME, code_page)) return *name;
  if (!UpToNul(Bytes(attachment.Title)).empty()) {
    return FromCodePage(Bytes(attachment.Title), code_page);
  }
  for (const unsigned id : {PR_DISPLAY_NAME, PR_ATTACH_FILENAME}) {
    if (auto name = NameProperty(attachment, id, code_page)) return *name;
  }
  return {};
}

// The stream of an attached message, when `attachment` is one.
std::optional<std::string_view> EmbeddedStream(const Attachment& attachment) {
  const auto* object = Property(attachment, PT_OBJECT, PR_ATTACH_DATA_OBJ);
  const auto* method = Property(attachment, PT_LONG, PR_ATTACH_METHOD);
  const bool embedded =
      method != nullptr && method->size >= 1 && method->data[0] == kEmbeddedMessage;
  if (object == nullptr || !embedded) return std::nullopt;
  const std::string_view bytes = Bytes(*object);
  if (bytes.size() <= kObjectHeaderBytes) return std::nullopt;
  return bytes.substr(kObjectHeaderBytes);
}

// The file's bytes carried as its binary data property (the data property's
// id with the binary type), for an attachment without a file data attribute.
std::optional<std::string_view> PropertyFileBytes(const Attachment& attachment) {
  if (const auto* data = Property(attachment, PT_BINARY, PR_ATTACH_DATA_OBJ)) return Bytes(*data);
  return std::nullopt;
}

struct Pending {
  Span stream;
  int depth;
};

class Unpacker {
 public:
  explicit Unpacker(std::shared_ptr<ScratchFile> scratch) : scratch_(std::move(scratch)) {}

  // False when the outermost stream is no TNEF.
  bool Unpack(Span outer) {
    std::vector<Pending> pending;
    pending.push_back({outer, 0});
    for (bool first = true; !pending.empty(); first = false) {
      const Pending at = pending.back();
      pending.pop_back();
      if (!UnpackOne(at, pending) && first) return false;
    }
    return true;
  }

  TnefContents& contents() { return contents_; }

 private:
  bool UnpackOne(const Pending& at, std::vector<Pending>& pending) {
    const std::optional<TnefLayout> layout = ReadTnefLayout(*scratch_, at.stream);
    if (!layout) {
      contents_.incomplete = true;
      return false;
    }
    contents_.incomplete |= layout->incomplete;
    std::vector<Pending> inner;
    for (std::size_t i = 0; i < layout->attachments.size(); ++i) {
      UnpackAttachment(at, *layout, i, inner);
    }
    // The walk takes the first attached message first, after this one's files.
    for (auto it = inner.rbegin(); it != inner.rend(); ++it) pending.push_back(*it);
    return true;
  }

  // One attachment: libytnef reads what describes it, the file's bytes are
  // taken from the stream where they stand.
  void UnpackAttachment(const Pending& at, const TnefLayout& layout, std::size_t index,
                        std::vector<Pending>& inner) {
    std::string described = TnefAttachmentStream(*scratch_, at.stream, layout, index);
    ParsedTnef parsed;
    const bool read = parsed.Parse(described);
    std::string().swap(described);
    const Attachment* attachment = read ? parsed.tnef().starting_attach.next : nullptr;
    const std::optional<Span>& data = layout.attachments[index].data;
    if (attachment == nullptr) {
      contents_.incomplete = true;
      if (data) Add({}, *data);
      return;
    }
    const std::string name = NameOf(*attachment, CodePageOf(parsed.tnef()));
    if (const auto stream = EmbeddedStream(*attachment)) {
      if (at.depth + 1 > kMaxDepth) {
        contents_.incomplete = true;
      } else {
        inner.push_back({Keep(*stream), at.depth + 1});
      }
    } else if (data) {
      Add(name, *data);
    } else if (const auto bytes = PropertyFileBytes(*attachment)) {
      Add(name, Keep(*bytes));
    } else {
      contents_.incomplete = true;  // a link, an OLE object: nothing to save as a file
    }
  }

  // Bytes from libytnef's memory, appended to the scratch file.
  Span Keep(std::string_view bytes) {
    const Span span{scratch_->size(), static_cast<std::int64_t>(bytes.size())};
    scratch_->Append(bytes);
    return span;
  }

  void Add(std::string name, Span bytes) {
    if (contents_.files.size() >= kMaxFiles) {
      contents_.incomplete = true;
      return;
    }
    contents_.files.push_back({std::move(name), scratch_, bytes});
  }

  std::shared_ptr<ScratchFile> scratch_;
  TnefContents contents_;
};

}  // namespace

std::optional<TnefContents> FilesInTnef(const std::shared_ptr<ScratchFile>& scratch, Span stream) {
  Unpacker unpacker(scratch);
  if (!unpacker.Unpack(stream)) return std::nullopt;
  return std::move(unpacker.contents());
}

bool LibytnefReads(std::string stream) {
  ParsedTnef parsed;
  return parsed.Parse(stream);
}

}  // namespace qm
