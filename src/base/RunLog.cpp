#include "base/RunLog.h"

#include <cstdio>
#include <exception>
#include <optional>
#include <utility>

#include "base/AppendOnlyFile.h"

namespace qm {
namespace {

std::string UtcStamp(std::chrono::system_clock::time_point when) {
  using namespace std::chrono;
  const auto seconds = floor<std::chrono::seconds>(when);
  const auto day = floor<days>(seconds);
  const year_month_day date(day);
  const hh_mm_ss time(seconds - day);
  char stamp[32];
  std::snprintf(stamp, sizeof stamp, "%04d-%02u-%02uT%02d:%02d:%02dZ",
                static_cast<int>(date.year()), static_cast<unsigned>(date.month()),
                static_cast<unsigned>(date.day()), static_cast<int>(time.hours().count()),
                static_cast<int>(time.minutes().count()), static_cast<int>(time.seconds().count()));
  return stamp;
}

}  // namespace

std::string RunLogLine(std::chrono::system_clock::time_point when, std::string_view text) {
  std::string line = UtcStamp(when) + ' ' + std::string(text);
  for (char& c : line) {
    if (c == '\n' || c == '\r') c = ' ';
  }
  return line + '\n';
}

RunLog::RunLog(std::filesystem::path file, std::uintmax_t bound)
    : file_(std::move(file)), bound_(bound) {}

std::filesystem::path RunLog::OlderFile() const {
  std::filesystem::path older = file_;
  older += ".1";
  return older;
}

bool RunLog::Append(std::string_view text) const noexcept {
  if (file_.empty()) return false;
  try {
    Write(RunLogLine(std::chrono::system_clock::now(), text));
    return true;
  } catch (const std::exception&) {
    return false;  // the log is a help, never a reason to fail the run
  }
}

// A file that already holds lines and has no room for this one is renamed
// to OlderFile() (a rename replaces the older file in one step), and the
// line starts a new file. A line longer than the bound gets a file of its
// own.
void RunLog::Write(const std::string& line) const {
  std::filesystem::create_directories(file_.parent_path());
  std::optional<AppendOnlyFile> log;
  log.emplace(file_);
  const std::uintmax_t size = log->Size();
  if (size > 0 && size + line.size() > bound_) {
    log.reset();
    std::filesystem::rename(file_, OlderFile());
    log.emplace(file_);
  }
  log->Append(line);
}

}  // namespace qm
