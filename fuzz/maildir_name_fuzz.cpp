// Feeds arbitrary bytes to the Maildir name handling: the split into unique
// part and flags, the seen test and the name marked seen must agree with
// each other for any name; and a Maildir holding files of such names, listed
// and all marked read, keeps every file (nothing replaced), and has every
// listed message marked seen in cur/ under its own unique part.

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "maildir/MaildirName.h"
#include "maildir/MaildirStore.h"

namespace {

namespace fs = std::filesystem;

void Require(bool condition, const char* what) {
  if (condition) return;
  std::fprintf(stderr, "violated: %s\n", what);
  std::abort();
}

bool IsSortedUnique(std::string_view flags) {
  return std::adjacent_find(flags.begin(), flags.end(), [](char a, char b) { return a >= b; }) ==
         flags.end();
}

void CheckName(std::string_view name) {
  const qm::MaildirName parts = qm::SplitMaildirName(name);
  if (parts.separator == 0) {
    Require(parts.unique == name && parts.flags.empty(), "no info: the whole name is unique");
  } else {
    Require(std::string(parts.unique) + parts.separator + "2," + std::string(parts.flags) == name,
            "unique, separator, info and flags make up the name");
  }
  Require(qm::IsSeenName(name) == (parts.flags.find('S') != std::string_view::npos),
          "seen means S among the flags");
  for (const char separator : {':', '!'}) {
    const std::string seen = qm::SeenName(name, separator);
    const qm::MaildirName after = qm::SplitMaildirName(seen);
    Require(qm::IsSeenName(seen), "the marked name is seen");
    Require(after.unique == parts.unique, "marking keeps the unique part");
    Require(after.separator == (parts.separator != 0 ? parts.separator : separator),
            "marking keeps the separator");
    Require(IsSortedUnique(after.flags), "flags sorted, each once");
    for (const char flag : parts.flags) {
      Require(after.flags.find(flag) != std::string_view::npos, "marking keeps every flag");
    }
    Require(qm::SeenName(seen, separator) == seen, "marking twice changes nothing more");
  }
}

// A name the file system can hold, made of a line of the input.
std::string FileNameOf(std::string_view line) {
  std::string name;
  for (const char c : line.substr(0, 200)) {
    if (c != '/' && c != '\0') name += c;
  }
  if (name.empty() || name[0] == '.') name.insert(0, "m");
  return name;
}

std::multiset<std::string> AllFiles(const fs::path& maildir) {
  std::multiset<std::string> files;
  for (const char* sub : {"cur", "new"}) {
    for (const auto& entry : fs::directory_iterator(maildir / sub)) {
      files.insert(entry.path().filename().string());
    }
  }
  return files;
}

void CheckStore(std::string_view data) {
  char pattern[] = "/dev/shm/qm-maildir-fuzz-XXXXXX";
  if (::mkdtemp(pattern) == nullptr) return;
  const fs::path maildir = pattern;
  for (const char* sub : {"cur", "new", "tmp"}) fs::create_directory(maildir / sub);
  int files = 0;
  for (std::size_t at = 0; at < data.size() && files < 8; ++files) {
    const std::size_t end = std::min(data.find('\n', at), data.size());
    const std::string_view line = data.substr(at, end - at);
    at = end + 1;
    const bool in_new = !line.empty() && line[0] == 'n';
    std::ofstream(maildir / (in_new ? "new" : "cur") / FileNameOf(line)) << "Subject: x\n\n";
  }
  const std::size_t before = AllFiles(maildir).size();
  {
    qm::MaildirStore store(maildir);
    const std::size_t count = store.List();
    for (std::size_t i = 0; i < count; ++i) store.QueueReadMark(i);
    store.CommitReadMarks();
    const std::multiset<std::string> after = AllFiles(maildir);
    Require(after.size() == before, "marking read keeps every file");
    std::set<std::string> seen_uniques;
    for (const auto& entry : fs::directory_iterator(maildir / "cur")) {
      const std::string name = entry.path().filename().string();
      if (qm::IsSeenName(name)) seen_uniques.insert(std::string(qm::SplitMaildirName(name).unique));
    }
    std::set<std::string> listed_uniques;
    store.List();
    for (const auto& entry : fs::directory_iterator(maildir / "cur")) {
      listed_uniques.insert(
          std::string(qm::SplitMaildirName(entry.path().filename().string()).unique));
    }
    for (const std::string& unique : listed_uniques) {
      Require(seen_uniques.count(unique) == 1, "every message in cur/ is marked seen");
    }
  }
  std::error_code ignored;
  fs::remove_all(maildir, ignored);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  CheckName(input.substr(0, 4096));
  for (std::size_t at = 0; at <= input.size() && at < 4096;) {
    const std::size_t end = std::min(input.find('\n', at), input.size());
    CheckName(input.substr(at, end - at));
    at = end + 1;
  }
  CheckStore(input.substr(0, 4096));
  return 0;
}
