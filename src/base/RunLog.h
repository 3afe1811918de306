#pragma once
// The run log: one line per event, each after its UTC time, for runs nobody
// watches (started by a scheduler, without a console). It is bounded: a line
// that would take the file past the bound first moves it to "<name>.1",
// replacing the older file there, and starts a new one. Lines are only ever
// added and files only renamed, so a crash never loses an older line.
// Writing it never fails the run: a log that cannot be written is skipped.

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

namespace qm {

class RunLog {
 public:
  static constexpr std::uintmax_t kDefaultBound = 1024 * 1024;

  // `file` "" is a log that is never written (no place for it was found).
  explicit RunLog(std::filesystem::path file, std::uintmax_t bound = kDefaultBound);

  // Adds `text` as one line stamped with the time now; creates the log's
  // folder when missing. True when the line was written; never throws.
  bool Append(std::string_view text) const noexcept;

  // Where the previous file goes when the bound is reached.
  std::filesystem::path OlderFile() const;

 private:
  void Write(const std::string& line) const;

  std::filesystem::path file_;
  std::uintmax_t bound_;
};

// "2026-12-08T19:02:14Z <text>\n": the stamp in UTC, `text` on one line
// (each line break becomes a space).
std::string RunLogLine(std::chrono::system_clock::time_point when, std::string_view text);

}  // namespace qm
