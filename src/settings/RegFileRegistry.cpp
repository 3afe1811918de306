#include "settings/RegFileRegistry.h"

#include <algorithm>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

#include "settings/RegFileDocument.h"
#include "settings/RegFileEncoding.h"
#include "settings/RegFileStorage.h"

namespace qm {

namespace {

constexpr long kErrorInvalidParameter = 87;

RegValue* FindValue(std::vector<RegValue>& values, std::string_view name) {
  auto it = std::find_if(values.begin(), values.end(),
                         [&](const RegValue& value) { return SameRegistryName(value.name, name); });
  return it == values.end() ? nullptr : &*it;
}

void RemoveValue(std::vector<RegValue>& values, std::string_view name) {
  std::erase_if(values, [&](const RegValue& value) { return SameRegistryName(value.name, name); });
}

void PutValue(std::vector<RegValue>& values, const RegValue& value) {
  if (RegValue* existing = FindValue(values, value.name)) {
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

// Names that a line of the file can carry: no line break, and no other
// control character but TAB, which would make the file no text.
bool FitsOnOneLine(std::string_view name) {
  return std::none_of(name.begin(), name.end(),
                      [](char c) { return static_cast<unsigned char>(c) < 0x20 && c != '\t'; });
}

// The text of a file that was read; nothing when its bytes are no text, or
// too many to be a settings file.
std::optional<RegFileText> TextOf(const FileContent& content) {
  if (content.state == FileState::Missing) return RegFileText{};
  if (content.state == FileState::TooLarge) return std::nullopt;
  return DecodeRegFile(content.bytes);
}

// A file that cannot be read, or that is no regular file, is never replaced.
bool MayReplace(const FileContent& content) {
  return content.state != FileState::Unreadable && content.state != FileState::NotRegular;
}

}  // namespace

// One change made through a handle: a value written, or one deleted.
struct RegFileRegistry::Change {
  RegValue value;  // for a deletion, only the name counts
  bool deleted = false;
};

struct RegFileRegistry::OpenedKey {
  std::string key_path;
  std::vector<RegValue> values;  // as read, with this handle's changes applied
  std::vector<Change> changes;   // what this handle changed, in order
  bool dirty = false;            // the file must be rewritten at close
};

RegFileRegistry::RegFileRegistry(std::filesystem::path file, SetAsideNotice notice)
    : file_(std::move(file)), notice_(std::move(notice)) {}

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
  FileContent content = ReadWholeFile(file_);
  if (create && !MayReplace(content)) return kErrorAccessDenied;
  const std::optional<RegFileText> text = TextOf(content);
  const RegFileDocument document = text ? RegFileDocument(*text) : RegFileDocument();
  auto opened = std::make_unique<OpenedKey>();
  opened->key_path = KeyPath(root, sub_key);
  if (std::optional<std::vector<RegValue>> values = document.Values(opened->key_path)) {
    opened->values = std::move(*values);
  } else if (!create) {
    return kErrorFileNotFound;
  } else {
    opened->dirty = true;  // a created key exists even without values
  }
  if (create) {
    long folder_result = CreatePrivateFolders(file_.parent_path());
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
  RegValue* value = FindValue(opened->values, name);
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
  RegValue value{name, type, data};
  PutValue(opened->values, value);
  opened->changes.push_back({std::move(value), false});
  opened->dirty = true;
  return kErrorSuccess;
}

long RegFileRegistry::DeleteValue(RegistryKey key, const std::string& name) {
  OpenedKey* opened = Find(key);
  if (opened == nullptr) return kErrorInvalidHandle;
  if (FindValue(opened->values, name) == nullptr) return kErrorFileNotFound;
  RemoveValue(opened->values, name);
  opened->changes.push_back({RegValue{name, 0, {}}, true});
  opened->dirty = true;
  return kErrorSuccess;
}

long RegFileRegistry::CloseKey(RegistryKey key) {
  auto it = opened_.find(key);
  if (it == opened_.end()) return kErrorInvalidHandle;
  std::unique_ptr<OpenedKey> opened = std::move(it->second);
  opened_.erase(it);
  return opened->dirty ? Store(*opened) : kErrorSuccess;
}

// Into the file as it is now, so that keys and values written meanwhile by
// someone else survive.
long RegFileRegistry::Store(const OpenedKey& opened) {
  FileContent content = ReadWholeFile(file_);
  if (!MayReplace(content)) return kErrorAccessDenied;
  std::optional<RegFileText> text = TextOf(content);
  std::optional<std::filesystem::path> set_aside;
  if (!text) {
    set_aside = MoveAside(file_, LocalTimeStamp());
    if (!set_aside) return kErrorAccessDenied;
    text = RegFileText{};
  }
  RegFileDocument document(*text);
  document.AddSection(opened.key_path);
  for (const Change& change : opened.changes) {
    if (change.deleted) {
      document.Remove(opened.key_path, change.value.name);
    } else {
      document.Put(opened.key_path, change.value);
    }
  }
  const long result = ReplaceFile(file_, EncodeRegFile(document.FileText()));
  if (set_aside && notice_) notice_(*set_aside);
  return result;
}

}  // namespace qm
