#pragma once
// A generated mailbox for the fault tests, the same for the same seed: unread
// messages with one to three base64 attachments of varied sizes, some under
// names that other messages use for different bytes (so the numbered names
// are made) and some that repeat another message's file exactly (so the
// copy is dropped); a few unread messages without attachments, some with a
// flag of their own, and a few read ones whose files an unread-only scan
// leaves alone. It also checks a destination folder against it.

#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <map>
#include <random>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include "tests/e2e/EndToEnd.h"

namespace qm::testing {

struct CorpusAttachment {
  std::string name;
  std::string content;
};

struct CorpusMessage {
  std::string bytes;
  std::vector<CorpusAttachment> attachments;
  bool read = false;  // delivered with the seen flag
  std::string flags;  // other flags it is delivered with ("" and unread: into new/)
};

struct CorpusShape {
  int messages = 100;
  std::size_t smallest = 200;     // attachment sizes are spread evenly on a log scale
  std::size_t largest = 1 << 20;  // between these two
};

// `size` bytes (at least the tag) that start with `tag`; the rest comes from `random`.
inline std::string RandomContent(std::mt19937_64& random, std::size_t size,
                                 const std::string& tag) {
  std::string content = tag;
  content.resize(std::max(size, tag.size()));
  for (std::size_t at = tag.size(); at < content.size(); at += sizeof(std::uint64_t)) {
    const std::uint64_t word = random();
    std::memcpy(content.data() + at, &word, std::min(sizeof word, content.size() - at));
  }
  return content;
}

inline std::string Base64Lines(const std::string& bytes) {
  static constexpr char kDigits[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  constexpr std::size_t kGroupsPerLine = 19;  // 76 digits
  const std::size_t groups = (bytes.size() + 2) / 3;
  std::string text(groups * 4 + (groups + kGroupsPerLine - 1) / kGroupsPerLine, '\n');
  const auto* in = reinterpret_cast<const unsigned char*>(bytes.data());
  char* out = text.data();
  for (std::size_t g = 0; g < groups; ++g, in += 3) {
    const std::size_t left = bytes.size() - g * 3;
    const unsigned group = in[0] << 16 | (left > 1 ? in[1] << 8 : 0) | (left > 2 ? in[2] : 0);
    out[0] = kDigits[group >> 18];
    out[1] = kDigits[(group >> 12) & 63];
    out[2] = left > 1 ? kDigits[(group >> 6) & 63] : '=';
    out[3] = left > 2 ? kDigits[group & 63] : '=';
    out += 4;
    if ((g + 1) % kGroupsPerLine == 0 || g + 1 == groups) ++out;  // over the line break
  }
  return text;
}

// `name` as a filename*= parameter spells it.
inline std::string PercentEncodedName(const std::string& name) {
  std::string encoded;
  for (const unsigned char c : name) {
    if (c < 0x80 && c != '%' && c != ' ') {
      encoded += static_cast<char>(c);
    } else {
      static constexpr char kHex[] = "0123456789ABCDEF";
      encoded += '%';
      encoded += kHex[c >> 4];
      encoded += kHex[c & 15];
    }
  }
  return encoded;
}

inline std::string MessageWith(int serial, const std::vector<CorpusAttachment>& files) {
  std::string m = "From: Sender " + std::to_string(serial) + " <s" + std::to_string(serial) +
                  "@example.com>\nSubject: delivery " + std::to_string(serial) +
                  "\nMIME-Version: 1.0\nContent-Type: multipart/mixed; boundary=\"b0\"\n\n"
                  "--b0\nContent-Type: text/plain; charset=UTF-8\n\nThe files.\n";
  for (const CorpusAttachment& file : files) {
    m += "--b0\nContent-Type: application/octet-stream\nContent-Disposition: attachment;"
         " filename*=UTF-8''" +
         PercentEncodedName(file.name) + "\nContent-Transfer-Encoding: base64\n\n" +
         Base64Lines(file.content);
  }
  return m + "--b0--\n";
}

// What a scan must save: content -> the name it comes under. No two different
// names carry the same bytes, so each content has one.
using ExpectedFiles = std::unordered_map<std::string, std::string>;

inline ExpectedFiles FilesOfUnread(const std::vector<CorpusMessage>& messages) {
  ExpectedFiles files;
  for (const CorpusMessage& m : messages) {
    if (m.read) continue;
    for (const CorpusAttachment& a : m.attachments) files.emplace(a.content, a.name);
  }
  return files;
}

class AttachmentCorpus {
 public:
  AttachmentCorpus(std::uint64_t seed, CorpusShape shape) : random_(seed), shape_(shape) {
    for (int i = 0; i < shape_.messages; ++i) messages_.push_back(NextMessage(i));
    expected_ = FilesOfUnread(messages_);
  }

  const std::vector<CorpusMessage>& messages() const { return messages_; }

  // What an unread-only scan must save.
  const ExpectedFiles& expected() const { return expected_; }

  std::uint64_t attachment_bytes() const {
    std::uint64_t total = 0;
    for (const auto& [content, name] : expected_) total += content.size();
    return total;
  }

 private:
  static constexpr int kSharedNameOneIn = 4;  // a shared name with bytes of its own
  static constexpr int kRepeatOneIn = 6;      // the exact file of an earlier message
  static constexpr int kNoAttachmentOneIn = 12;
  static constexpr int kReadOneIn = 15;
  static constexpr int kFlaggedOneIn = 8;

  static const std::vector<std::string>& SharedNames() {
    static const std::vector<std::string> names = {
        "report.pdf", "scan.pdf",    "photo.jpg", "data.csv",       "見積書.pdf",
        "README",     "invoice.pdf", "notes.txt", "archive.tar.gz", "minutes.docx"};
    return names;
  }

  bool OneIn(int n) { return std::uniform_int_distribution<int>(0, n - 1)(random_) == 0; }

  std::string NewContent() {
    const double low = std::log(static_cast<double>(shape_.smallest));
    const double high = std::log(static_cast<double>(shape_.largest));
    const auto size = static_cast<std::size_t>(
        std::exp(std::uniform_real_distribution<double>(low, high)(random_)));
    // A serial up front keeps every new content distinct from all others.
    return RandomContent(random_, size, "#" + std::to_string(++contents_) + "\n");
  }

  CorpusAttachment NewAttachment(int serial, int index) {
    if (!unread_files_.empty() && OneIn(kRepeatOneIn)) {
      auto pick = std::uniform_int_distribution<std::size_t>(0, unread_files_.size() - 1);
      return unread_files_[pick(random_)];
    }
    if (OneIn(kSharedNameOneIn)) {
      auto pick = std::uniform_int_distribution<std::size_t>(0, SharedNames().size() - 1);
      return {SharedNames()[pick(random_)], NewContent()};
    }
    return {"file-" + std::to_string(serial) + "-" + std::to_string(index) + ".bin", NewContent()};
  }

  CorpusMessage NextMessage(int serial) {
    CorpusMessage m;
    m.read = OneIn(kReadOneIn);
    if (m.read) {
      // Names of their own: a file of a read message must never show up.
      m.attachments.push_back({"read-" + std::to_string(serial) + ".bin", NewContent()});
    } else if (!OneIn(kNoAttachmentOneIn)) {
      const int count = std::uniform_int_distribution<int>(1, 3)(random_);
      for (int i = 0; i < count; ++i) m.attachments.push_back(NewAttachment(serial, i));
      unread_files_.insert(unread_files_.end(), m.attachments.begin(), m.attachments.end());
    }
    if (OneIn(kFlaggedOneIn)) m.flags = "F";
    m.bytes = MessageWith(serial, m.attachments);
    return m;
  }

  std::mt19937_64 random_;
  CorpusShape shape_;
  int contents_ = 0;
  std::vector<CorpusMessage> messages_;
  std::vector<CorpusAttachment> unread_files_;
  ExpectedFiles expected_;
};

// The name a file of the destination folder was asked for: "x (2).pdf" and
// "x.pdf" both come from "x.pdf".
inline std::string AskedName(const std::string& saved) {
  const std::size_t dot = saved.rfind('.');
  // An extension is what follows the last dot, unless the dot starts the name;
  // "archive.tar (2).gz" is how numbered names of "archive.tar.gz" look.
  const std::size_t extension = dot == std::string::npos || dot == 0 ? saved.size() : dot;
  const std::string stem = saved.substr(0, extension);
  const std::size_t open = stem.rfind(" (");
  if (open == std::string::npos || stem.back() != ')') return saved;
  const std::string number = stem.substr(open + 2, stem.size() - open - 3);
  if (number.empty() || number.find_first_not_of("0123456789") != std::string::npos ||
      number[0] == '0' || number == "1") {
    return saved;
  }
  return stem.substr(0, open) + saved.substr(extension);
}

inline bool IsHiddenWorkFile(const std::string& name) { return name.rfind(".quillmar-", 0) == 0; }

// What is wrong with the file `name` holding `content`, if anything: it must
// be one of the corpus's attachments under its own name or a numbered form.
inline std::string WrongFile(const std::string& name, const std::string& content,
                             const ExpectedFiles& expected) {
  const auto found = expected.find(content);
  if (found == expected.end()) {
    return name + " (" + std::to_string(content.size()) + " bytes) holds no attachment's bytes";
  }
  if (AskedName(name) != found->second) return name + " holds the bytes of " + found->second;
  return {};
}

// The files under final names in a destination folder, for looking at
// again and again while runs come and go. A file is read once: the program
// never writes into a file under its final name, so one that keeps its
// inode, size and modification time holds what it held. Hidden work files
// are not looked at.
class SavedFiles {
 public:
  SavedFiles(std::filesystem::path folder, const ExpectedFiles& expected)
      : folder_(std::move(folder)), expected_(expected) {}

  // Looks at the folder again; returns the files that are partial, mixed up
  // or foreign (see WrongFile).
  std::vector<std::string> Look() {
    std::map<std::string, File> now;
    std::vector<std::string> wrong;
    for (const auto& entry : std::filesystem::directory_iterator(folder_)) {
      const std::string name = entry.path().filename().string();
      struct stat info {};
      if (IsHiddenWorkFile(name) || ::stat(entry.path().c_str(), &info) != 0) continue;
      File file{info.st_ino, info.st_size, info.st_mtim.tv_sec, info.st_mtim.tv_nsec, {}};
      const auto known = files_.find(name);
      if (known != files_.end() && known->second.SameAs(file)) {
        file.wrong = known->second.wrong;
        file.content = known->second.content;
      } else {
        const std::string content = ReadFile(entry.path());
        file.wrong = WrongFile(name, content, expected_);
        const auto found = expected_.find(content);
        file.content = found == expected_.end() ? nullptr : &found->first;
      }
      if (!file.wrong.empty()) wrong.push_back(file.wrong);
      now.emplace(name, std::move(file));
    }
    files_ = std::move(now);
    held_.clear();
    for (const auto& [name, file] : files_) held_.insert(file.content);
    return wrong;
  }

  // True when a file under a final name held `content` at the last look.
  bool Holds(const std::string& content) const {
    const auto found = expected_.find(content);
    return found != expected_.end() && held_.count(&found->first) != 0;
  }

 private:
  struct File {
    ino_t inode;
    off_t size;
    time_t seconds;
    long nanoseconds;
    std::string wrong;
    const std::string* content = nullptr;  // the expected content it holds
    bool SameAs(const File& other) const {
      return inode == other.inode && size == other.size && seconds == other.seconds &&
             nanoseconds == other.nanoseconds;
    }
  };

  std::filesystem::path folder_;
  const ExpectedFiles& expected_;
  std::map<std::string, File> files_;
  std::set<const std::string*> held_;
};

// Files under final names in `folder` that are partial, mixed up or foreign.
inline std::vector<std::string> WrongFiles(const std::filesystem::path& folder,
                                           const ExpectedFiles& expected) {
  return SavedFiles(folder, expected).Look();
}

// Everything wrong with a folder that a finished scan filled: every expected
// file there exactly once, nothing else (no hidden work file either).
inline std::vector<std::string> FolderProblems(const std::filesystem::path& folder,
                                               const ExpectedFiles& expected) {
  std::vector<std::string> problems;
  std::unordered_map<std::string, int> copies;  // content -> files holding it
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    const std::string name = entry.path().filename().string();
    if (IsHiddenWorkFile(name)) {
      problems.push_back(name + " is a work file left behind");
      continue;
    }
    std::string content = ReadFile(entry.path());
    if (std::string why = WrongFile(name, content, expected); !why.empty()) {
      problems.push_back(std::move(why));
    } else {
      ++copies[std::move(content)];
    }
  }
  for (const auto& [content, name] : expected) {
    const auto found = copies.find(content);
    const int count = found == copies.end() ? 0 : found->second;
    if (count != 1) {
      problems.push_back(std::to_string(count) + " copies of a " + std::to_string(content.size()) +
                         "-byte file named " + name);
    }
  }
  return problems;
}

}  // namespace qm::testing
