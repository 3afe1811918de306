#include "frame/RegFileRegistry.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

#ifdef _WIN32
#include <fstream>
#include <system_error>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace qm {

namespace {

constexpr long kErrorPathNotFound = 3;
constexpr long kErrorWriteFault = 29;
constexpr long kErrorInvalidParameter = 87;
constexpr long kErrorDiskFull = 112;

constexpr char kHeader[] = "REGEDIT4";
constexpr std::size_t kWrapColumn = 76;  // hex lists wrap like regedit's do

// ---------------------------------------------------------------------------
// The file's content in memory.

struct Value {
  std::string name;
  std::uint32_t type = 0;
  Bytes data;
};

struct Section {
  std::string key_path;  // as in the brackets, e.g. HKEY_CURRENT_USER\SOFTWARE\X
  std::vector<Value> values;
};

using Document = std::vector<Section>;

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// Key and value names compare without regard to letter case, as in the registry.
bool SameName(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return LowerAscii(x) == LowerAscii(y);
         });
}

template <typename Item, typename NameOf>
Item* FindByName(std::vector<Item>& items, std::string_view name, NameOf name_of) {
  auto it = std::find_if(items.begin(), items.end(),
                         [&](const Item& item) { return SameName(name_of(item), name); });
  return it == items.end() ? nullptr : &*it;
}

Section* FindSection(Document& document, std::string_view key_path) {
  return FindByName(document, key_path, [](const Section& s) { return s.key_path; });
}

Value* FindValue(std::vector<Value>& values, std::string_view name) {
  return FindByName(values, name, [](const Value& v) { return v.name; });
}

void PutValue(std::vector<Value>& values, const Value& value) {
  if (Value* existing = FindValue(values, value.name)) {
    *existing = value;
  } else {
    values.push_back(value);
  }
}

std::string KeyPath(RegistryRoot root, const std::string& sub_key) {
  std::string path =
      root == RegistryRoot::LocalMachine ? "HKEY_LOCAL_MACHINE" : "HKEY_CURRENT_USER";
  if (!sub_key.empty()) path += "\\" + sub_key;
  return path;
}

// Names that a line of the file cannot carry.
bool FitsOnOneLine(std::string_view name) {
  return name.find_first_of(std::string_view("\0\r\n", 3)) == std::string_view::npos;
}

// ---------------------------------------------------------------------------
// Reading.

std::string_view Trim(std::string_view text) {
  std::size_t begin = text.find_first_not_of(" \t");
  if (begin == std::string_view::npos) return {};
  std::size_t end = text.find_last_not_of(" \t");
  return text.substr(begin, end - begin + 1);
}

bool ConsumePrefix(std::string_view* text, std::string_view prefix) {
  if (text->substr(0, prefix.size()) != prefix) return false;
  text->remove_prefix(prefix.size());
  return true;
}

std::optional<unsigned> HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  c = LowerAscii(c);
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return std::nullopt;
}

// 1 to `max_digits` hex digits, nothing else.
std::optional<std::uint32_t> ParseHex(std::string_view text, std::size_t max_digits) {
  if (text.empty() || text.size() > max_digits) return std::nullopt;
  std::uint32_t value = 0;
  for (char c : text) {
    std::optional<unsigned> digit = HexDigit(c);
    if (!digit) return std::nullopt;
    value = value * 16 + *digit;
  }
  return value;
}

// A quoted text at the start of `*text`, with \\ and \" escapes; the closing
// quote is consumed.
std::optional<std::string> ParseQuoted(std::string_view* text) {
  if (!ConsumePrefix(text, "\"")) return std::nullopt;
  std::string result;
  for (std::size_t i = 0; i < text->size(); ++i) {
    char c = (*text)[i];
    if (c == '"') {
      text->remove_prefix(i + 1);
      return result;
    }
    if (c == '\\' && i + 1 < text->size()) c = (*text)[++i];
    result += c;
  }
  return std::nullopt;
}

class Lines {
 public:
  explicit Lines(std::string_view text) {
    if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
    text_ = text;
  }

  bool Next(std::string_view* line) {
    if (text_.empty()) return false;
    std::size_t end = text_.find('\n');
    *line = text_.substr(0, end);
    text_.remove_prefix(end == std::string_view::npos ? text_.size() : end + 1);
    if (!line->empty() && line->back() == '\r') line->remove_suffix(1);
    return true;
  }

 private:
  std::string_view text_;
};

// "xx,xx,..." where a line ending in a backslash continues on the next line.
std::optional<Bytes> ParseHexList(std::string_view first_line, Lines* lines) {
  std::string joined(Trim(first_line));
  std::string_view next;
  while (!joined.empty() && joined.back() == '\\' && lines->Next(&next)) {
    joined.pop_back();
    joined += Trim(next);
  }
  Bytes bytes;
  std::string_view rest = joined;
  while (!rest.empty()) {
    std::size_t comma = rest.find(',');
    std::string_view item = Trim(rest.substr(0, comma));
    std::optional<std::uint32_t> byte = ParseHex(item, 2);
    if (!byte) return std::nullopt;
    bytes.push_back(static_cast<std::uint8_t>(*byte));
    if (comma == std::string_view::npos) break;
    rest = Trim(rest.substr(comma + 1));  // a trailing comma ends the list
  }
  return bytes;
}

bool OnlyCommentLeft(std::string_view text) {
  text = Trim(text);
  return text.empty() || text.front() == ';';
}

Bytes TextData(std::string_view text) {
  Bytes data(text.begin(), text.end());
  data.push_back(0);
  return data;
}

Bytes DwordData(std::uint32_t value) {
  return {static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8),
          static_cast<std::uint8_t>(value >> 16), static_cast<std::uint8_t>(value >> 24)};
}

// The part after '=' of a value line.
bool ParseData(std::string_view text, Lines* lines, Value* value) {
  if (text.substr(0, 1) == "\"") {
    std::optional<std::string> content = ParseQuoted(&text);
    if (!content || !OnlyCommentLeft(text)) return false;
    value->type = kRegSz;
    value->data = TextData(*content);
    return true;
  }
  if (ConsumePrefix(&text, "dword:")) {
    std::optional<std::uint32_t> number = ParseHex(Trim(text), 8);
    if (!number) return false;
    value->type = kRegDword;
    value->data = DwordData(*number);
    return true;
  }
  if (ConsumePrefix(&text, "hex:")) {
    value->type = kRegBinary;
  } else if (ConsumePrefix(&text, "hex(")) {
    std::size_t close = text.find("):");
    std::optional<std::uint32_t> type =
        close == std::string_view::npos ? std::nullopt : ParseHex(text.substr(0, close), 8);
    if (!type) return false;
    value->type = *type;
    text.remove_prefix(close + 2);
  } else {
    return false;
  }
  std::optional<Bytes> bytes = ParseHexList(text, lines);
  if (!bytes) return false;
  value->data = std::move(*bytes);
  return true;
}

// `"NAME"=data` or `@=data` (the unnamed value).
std::optional<Value> ParseValueLine(std::string_view line, Lines* lines) {
  Value value;
  if (!ConsumePrefix(&line, "@")) {
    std::optional<std::string> name = ParseQuoted(&line);
    if (!name) return std::nullopt;
    value.name = std::move(*name);
  }
  line = Trim(line);
  if (!ConsumePrefix(&line, "=")) return std::nullopt;
  if (!ParseData(Trim(line), lines, &value)) return std::nullopt;
  return value;
}

// Sections with the same key (in any letter case) are read as one.
Section* StartSection(Document* document, std::string_view line) {
  if (line.size() < 3 || line.back() != ']') return nullptr;
  std::string_view key_path = line.substr(1, line.size() - 2);
  if (Section* existing = FindSection(*document, key_path)) return existing;
  document->push_back(Section{std::string(key_path), {}});
  return &document->back();
}

Document ParseDocument(std::string_view text) {
  Document document;
  Lines lines(text);
  std::string_view line;
  if (!lines.Next(&line) || Trim(line) != kHeader) return document;
  std::size_t current = 0;
  bool in_section = false;
  while (lines.Next(&line)) {
    line = Trim(line);
    if (line.empty() || line.front() == ';') continue;
    if (line.front() == '[') {
      Section* section = StartSection(&document, line);
      in_section = section != nullptr;
      if (in_section) current = static_cast<std::size_t>(section - document.data());
      continue;
    }
    std::optional<Value> value = ParseValueLine(line, &lines);
    if (value && in_section) PutValue(document[current].values, *value);
  }
  return document;
}

enum class FileState { Missing, Read, Unreadable };

struct FileContent {
  FileState state = FileState::Missing;
  std::string text;
};

class StdioFile {
 public:
  StdioFile(const std::filesystem::path& path, const char* mode)
      : file_(std::fopen(path.string().c_str(), mode)) {}
  ~StdioFile() {
    if (file_ != nullptr) std::fclose(file_);
  }
  StdioFile(const StdioFile&) = delete;
  StdioFile& operator=(const StdioFile&) = delete;
  std::FILE* get() const { return file_; }

 private:
  std::FILE* file_;
};

FileContent ReadFile(const std::filesystem::path& path) {
  FileContent content;
  errno = 0;
  StdioFile file(path, "rb");
  if (file.get() == nullptr) {
    bool absent = errno == ENOENT || errno == ENOTDIR;
    content.state = absent ? FileState::Missing : FileState::Unreadable;
    return content;
  }
  char buffer[4096];
  std::size_t count;
  while ((count = std::fread(buffer, 1, sizeof buffer, file.get())) > 0) {
    content.text.append(buffer, count);
  }
  content.state = std::ferror(file.get()) ? FileState::Unreadable : FileState::Read;
  return content;
}

// ---------------------------------------------------------------------------
// Writing.

std::string Quoted(std::string_view text) {
  std::string result = "\"";
  for (char c : text) {
    if (c == '\\' || c == '"') result += '\\';
    result += c;
  }
  return result + "\"";
}

// Text plus exactly one closing NUL, with nothing that would break the line.
bool IsPlainText(const Value& value) {
  if (value.type != kRegSz || value.data.empty() || value.data.back() != 0) return false;
  return std::none_of(value.data.begin(), value.data.end() - 1,
                      [](std::uint8_t byte) { return byte == 0 || byte == '\r' || byte == '\n'; });
}

std::string HexNumber(std::uint32_t number, int digits) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string text;
  do {
    text.insert(text.begin(), kDigits[number % 16]);
    number /= 16;
  } while (number != 0 || static_cast<int>(text.size()) < digits);
  return text;
}

std::string HexList(std::string prefix, const Bytes& data) {
  std::string text = std::move(prefix);
  std::size_t column = text.size();
  for (std::size_t i = 0; i < data.size(); ++i) {
    text += HexNumber(data[i], 2);
    column += 2;
    if (i + 1 == data.size()) break;
    text += ',';
    ++column;
    if (column > kWrapColumn) {
      text += "\\\n  ";
      column = 2;
    }
  }
  return text;
}

std::string ValueLine(const Value& value) {
  std::string line = (value.name.empty() ? std::string("@") : Quoted(value.name)) + "=";
  if (IsPlainText(value)) {
    std::string_view text(reinterpret_cast<const char*>(value.data.data()), value.data.size() - 1);
    return line + Quoted(text);
  }
  if (value.type == kRegDword && value.data.size() == 4) {
    const Bytes& d = value.data;
    std::uint32_t number = d[0] | (d[1] << 8) | (d[2] << 16) | (std::uint32_t{d[3]} << 24);
    return line + "dword:" + HexNumber(number, 8);
  }
  std::string prefix = value.type == kRegBinary ? "hex:" : "hex(" + HexNumber(value.type, 1) + "):";
  return HexList(line + prefix, value.data);
}

std::string FormatDocument(const Document& document) {
  std::string text = std::string(kHeader) + "\n\n";
  for (const Section& section : document) {
    text += "[" + section.key_path + "]\n";
    for (const Value& value : section.values) text += ValueLine(value) + "\n";
    text += "\n";
  }
  return text;
}

#ifdef _WIN32

long CreateFolders(const std::filesystem::path& folder) {
  std::error_code error;
  std::filesystem::create_directories(folder, error);
  return error ? kErrorPathNotFound : kErrorSuccess;
}

long ReplaceFile(const std::filesystem::path& file, const std::string& text) {
  std::filesystem::path temporary = file;
  temporary += ".new";
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    out << text;
    out.flush();
    if (!out) return kErrorWriteFault;
  }
  std::error_code error;
  std::filesystem::rename(temporary, file, error);
  if (error) std::filesystem::remove(temporary, error);
  return error ? kErrorWriteFault : kErrorSuccess;
}

#else

long ErrorCodeFor(int error) {
  switch (error) {
    case EACCES:
    case EPERM:
    case EROFS:
      return kErrorAccessDenied;
    case ENOENT:
    case ENOTDIR:
      return kErrorPathNotFound;
    case ENOSPC:
      return kErrorDiskFull;
    default:
      return kErrorWriteFault;
  }
}

// Missing folders are created private to the user; existing ones are left as they are.
long CreateFolders(const std::filesystem::path& folder) {
  std::filesystem::path partial;
  for (const std::filesystem::path& part : folder) {
    partial /= part;
    if (::mkdir(partial.c_str(), 0700) != 0 && errno != EEXIST) return ErrorCodeFor(errno);
  }
  std::error_code error;
  return std::filesystem::is_directory(folder, error) ? kErrorSuccess : kErrorPathNotFound;
}

class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int get() const { return fd_; }
  // Closes now, so that a failing close is seen: true on success.
  bool Close() {
    int fd = std::exchange(fd_, -1);
    return ::close(fd) == 0;
  }

 private:
  int fd_;
};

// A file next to the target that disappears again unless it was renamed into place.
class TemporaryFile {
 public:
  explicit TemporaryFile(const std::filesystem::path& target)
      : name_((target.parent_path() / ("." + target.filename().string() + ".XXXXXX")).string()),
        descriptor_(::mkstemp(name_.data())),
        created_(descriptor_.get() >= 0) {}
  ~TemporaryFile() {
    if (created_ && !renamed_) ::unlink(name_.c_str());
  }
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;

  bool created() const { return created_; }

  bool Write(std::string_view text) {
    while (!text.empty()) {
      ssize_t written = ::write(descriptor_.get(), text.data(), text.size());
      if (written < 0 && errno == EINTR) continue;
      if (written <= 0) return false;
      text.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
  }

  bool Finish() {
    return ::fchmod(descriptor_.get(), 0600) == 0 && ::fsync(descriptor_.get()) == 0 &&
           descriptor_.Close();
  }

  bool RenameTo(const std::filesystem::path& target) {
    renamed_ = ::rename(name_.c_str(), target.c_str()) == 0;
    return renamed_;
  }

 private:
  std::string name_;
  Descriptor descriptor_;
  bool created_;
  bool renamed_ = false;
};

// The rename itself lasts only once the folder's entry is on disk.
void SyncFolder(const std::filesystem::path& folder) {
  Descriptor descriptor(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (descriptor.get() >= 0) ::fsync(descriptor.get());
}

// Readers see either the old file or the whole new one, never a part of it.
long ReplaceFile(const std::filesystem::path& file, const std::string& text) {
  TemporaryFile temporary(file);
  if (!temporary.created()) return ErrorCodeFor(errno);
  if (!temporary.Write(text) || !temporary.Finish() || !temporary.RenameTo(file)) {
    return ErrorCodeFor(errno);
  }
  SyncFolder(file.parent_path());
  return kErrorSuccess;
}

#endif

}  // namespace

// ---------------------------------------------------------------------------

struct RegFileRegistry::OpenedKey {
  std::string key_path;
  std::vector<Value> values;   // as read, with this handle's writes applied
  std::vector<Value> written;  // what this handle changed, in order
  bool dirty = false;          // the file must be rewritten at close
};

RegFileRegistry::RegFileRegistry(std::filesystem::path file) : file_(std::move(file)) {}

RegFileRegistry::~RegFileRegistry() {
  while (!opened_.empty()) CloseKey(opened_.begin()->first);
}

long RegFileRegistry::OpenKey(RegistryRoot root, const std::string& sub_key, RegistryKey* key) {
  return Open(root, sub_key, false, key);
}

long RegFileRegistry::CreateKey(RegistryRoot root, const std::string& sub_key, RegistryKey* key) {
  return Open(root, sub_key, true, key);
}

long RegFileRegistry::Open(RegistryRoot root, const std::string& sub_key, bool create,
                           RegistryKey* key) {
  if (key == nullptr || !FitsOnOneLine(sub_key)) return kErrorInvalidParameter;
  FileContent content = ReadFile(file_);
  if (create && content.state == FileState::Unreadable) return kErrorAccessDenied;
  Document document = ParseDocument(content.text);
  auto opened = std::make_unique<OpenedKey>();
  opened->key_path = KeyPath(root, sub_key);
  if (Section* section = FindSection(document, opened->key_path)) {
    opened->values = std::move(section->values);
  } else if (!create) {
    return kErrorFileNotFound;
  } else {
    opened->dirty = true;  // a created key exists even without values
  }
  if (create) {
    long folder_result = CreateFolders(file_.parent_path());
    if (folder_result != kErrorSuccess) return folder_result;
  }
  *key = next_key_++;
  opened_.emplace(*key, std::move(opened));
  return kErrorSuccess;
}

RegFileRegistry::OpenedKey* RegFileRegistry::Find(RegistryKey key) {
  auto it = opened_.find(key);
  return it == opened_.end() ? nullptr : it->second.get();
}

long RegFileRegistry::QueryValue(RegistryKey key, const std::string& name, std::uint32_t* type,
                                 Bytes* data) {
  OpenedKey* opened = Find(key);
  if (opened == nullptr) return kErrorInvalidHandle;
  Value* value = FindValue(opened->values, name);
  if (value == nullptr) return kErrorFileNotFound;
  if (type != nullptr) *type = value->type;
  if (data != nullptr) *data = value->data;
  return kErrorSuccess;
}

long RegFileRegistry::SetValue(RegistryKey key, const std::string& name, std::uint32_t type,
                               const Bytes& data) {
  OpenedKey* opened = Find(key);
  if (opened == nullptr) return kErrorInvalidHandle;
  if (!FitsOnOneLine(name)) return kErrorInvalidParameter;
  Value value{name, type, data};
  PutValue(opened->values, value);
  opened->written.push_back(std::move(value));
  opened->dirty = true;
  return kErrorSuccess;
}

long RegFileRegistry::CloseKey(RegistryKey key) {
  auto it = opened_.find(key);
  if (it == opened_.end()) return kErrorInvalidHandle;
  std::unique_ptr<OpenedKey> opened = std::move(it->second);
  opened_.erase(it);
  if (!opened->dirty) return kErrorSuccess;

  // Merge into the file as it is now, so that keys and values written meanwhile
  // by someone else survive.
  FileContent content = ReadFile(file_);
  if (content.state == FileState::Unreadable) return kErrorAccessDenied;
  Document document = ParseDocument(content.text);
  Section* section = FindSection(document, opened->key_path);
  if (section == nullptr) {
    document.push_back(Section{opened->key_path, {}});
    section = &document.back();
  }
  for (const Value& value : opened->written) PutValue(section->values, value);
  return ReplaceFile(file_, FormatDocument(document));
}

}  // namespace qm
