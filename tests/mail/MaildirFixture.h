#pragma once
// A Maildir (cur/ new/ tmp/) in a fresh temporary folder, for tests that need a
// real mailbox on disk. Messages are delivered with names of the usual form
// "<seconds>.<unique>.<host>" so that the delivery order is the order of Add
// calls unless a test gives its own time.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <string_view>

#include "tests/support/TempDir.h"

namespace qm::testing {

class MaildirFixture {
 public:
  static constexpr long kNextTime = -1;
  static constexpr long kFirstTime = 1700000000;

  MaildirFixture() : maildir_(temp_.path() / "Maildir") {
    for (const char* sub : {"cur", "new", "tmp"})
      std::filesystem::create_directories(maildir_ / sub);
  }

  // Delivers `bytes` as a message and returns the unique part of its name (the
  // key other clients keep when they rename it). In cur/ the name ends in
  // ":2,<flags>"; in new/ it has no flag suffix. `time` is the number of
  // seconds at the start of the name; by default one more than the last one.
  std::string Add(std::string_view bytes, std::string_view flags = "", bool in_new = false,
                  long time = kNextTime) {
    if (time == kNextTime) time = next_time_;
    if (time >= next_time_) next_time_ = time + 1;
    const std::string base = std::to_string(time) + ".Q" + std::to_string(++counter_) + "P" +
                             std::to_string(::getpid()) + ".testhost";
    const std::filesystem::path file =
        in_new ? new_dir() / base : cur_dir() / (base + ":2," + std::string(flags));
    WriteFile(file, bytes, time);
    return base;
  }

  // Writes a file with exactly this name into cur/ or new/ (names that do not
  // follow the convention); its modification time is `mtime` seconds.
  std::filesystem::path AddNamed(const std::string& name, std::string_view bytes, bool in_new,
                                 long mtime) {
    const std::filesystem::path file = (in_new ? new_dir() : cur_dir()) / name;
    WriteFile(file, bytes, mtime);
    return file;
  }

  // The current path of the message keyed `unique` in cur/ or new/; empty when
  // it is gone.
  std::filesystem::path Find(const std::string& unique) const {
    for (const auto& dir : {cur_dir(), new_dir()}) {
      for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        const std::string name = entry.path().filename().string();
        if (name == unique || name.rfind(unique + ":2,", 0) == 0) return entry.path();
      }
    }
    return {};
  }

  // The flags after ":2," of the message keyed `unique` ("" when it has none).
  std::string Flags(const std::string& unique) const {
    const std::string name = Find(unique).filename().string();
    const auto at = name.find(":2,");
    return at == std::string::npos ? std::string() : name.substr(at + 3);
  }

  bool InCur(const std::string& unique) const {
    const std::filesystem::path p = Find(unique);
    return !p.empty() && p.parent_path() == cur_dir();
  }

  // Renames the message as another client would (e.g. to "new" flags); returns the new path.
  std::filesystem::path RenameTo(const std::string& unique, std::string_view flags) {
    const std::filesystem::path to = cur_dir() / (unique + ":2," + std::string(flags));
    std::filesystem::rename(Find(unique), to);
    return to;
  }

  // A small well-formed message with the given raw header values.
  static std::string Message(std::string_view subject, std::string_view from,
                             std::string_view body = "body\n") {
    return "From: " + std::string(from) + "\nSubject: " + std::string(subject) +
           "\nMIME-Version: 1.0\nContent-Type: text/plain; charset=utf-8\n\n" + std::string(body);
  }

  const std::filesystem::path& root() const { return temp_.path(); }  // holds the Maildir
  const std::filesystem::path& maildir() const { return maildir_; }
  std::filesystem::path cur_dir() const { return maildir_ / "cur"; }
  std::filesystem::path new_dir() const { return maildir_ / "new"; }
  std::filesystem::path tmp_dir() const { return maildir_ / "tmp"; }

 private:
  static void WriteFile(const std::filesystem::path& file, std::string_view bytes, long mtime) {
    {
      std::ofstream out(file, std::ios::binary);
      out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
      if (!out) throw std::runtime_error("cannot write " + file.string());
    }
    const struct timespec times[2] = {{mtime, 0}, {mtime, 0}};
    ::utimensat(AT_FDCWD, file.c_str(), times, 0);
  }

  TempDir temp_;
  std::filesystem::path maildir_;
  long next_time_ = kFirstTime;
  int counter_ = 0;
};

}  // namespace qm::testing
