#include "mail/WaitingArchives.h"

#include <algorithm>
#include <cerrno>
#include <fstream>
#include <nlohmann/json.hpp>
#include <system_error>
#include <utility>

#include "base/Failure.h"
#include "base/FileSystem.h"
#include "base/HexText.h"
#include "base/ReadRegularFile.h"
#include "settings/RunLogLocation.h"

namespace qm {
namespace {

using Json = nlohmann::json;

// A record longer than this was not written by the program: it is dropped.
constexpr std::size_t kMaxRecordBytes = 1024 * 1024;

std::int64_t SecondsOf(MailTime time) {
  return std::chrono::duration_cast<std::chrono::seconds>(time.time_since_epoch()).count();
}

MailTime TimeOf(std::int64_t seconds) { return MailTime(std::chrono::seconds(seconds)); }

Json ToJson(const WaitingArchive& waiting) {
  Json entry = {
      {"destination", waiting.destination},     {"name", waiting.name},
      {"sha256", HexOf(waiting.digest)},  // the record is text
      {"file_name", waiting.archive.file_name}, {"sender", waiting.archive.sender_address},
      {"saved", SecondsOf(waiting.saved)}};
  if (waiting.archive.sent) entry["sent"] = SecondsOf(*waiting.archive.sent);
  return entry;
}

WaitingArchive FromJson(const Json& entry) {
  WaitingArchive waiting;
  waiting.destination = entry.at("destination").get<std::string>();
  waiting.name = entry.at("name").get<std::string>();
  waiting.digest = BytesOfHex(entry.at("sha256").get<std::string>()).value_or("");
  waiting.archive.file_name = entry.at("file_name").get<std::string>();
  waiting.archive.sender_address = entry.at("sender").get<std::string>();
  waiting.saved = TimeOf(entry.at("saved").get<std::int64_t>());
  if (entry.contains("sent")) waiting.archive.sent = TimeOf(entry.at("sent").get<std::int64_t>());
  if (waiting.digest.size() != 32 || waiting.name.empty()) throw std::invalid_argument("entry");
  return waiting;
}

}  // namespace

bool HasExpired(const WaitingArchive& waiting, MailTime now) {
  const MailTime from = waiting.archive.sent.value_or(waiting.saved);
  return now > std::max(from, waiting.saved) + kNoticeAfter;
}

WaitingArchivesRecord::WaitingArchivesRecord(std::filesystem::path file) : file_(std::move(file)) {}

std::vector<WaitingArchive> WaitingArchivesRecord::Read() const {
  std::vector<WaitingArchive> archives;
  if (file_.empty()) return archives;
  const RegularFileContent content = ReadRegularFile(file_, kMaxRecordBytes, FinalLink::kRefuse);
  if (content.state != RegularFileState::kRead) return archives;
  try {
    const Json record = Json::parse(content.bytes);
    for (const Json& entry : record.at("archives")) {
      if (archives.size() == kMaxWaitingArchives) break;
      archives.push_back(FromJson(entry));
    }
  } catch (const std::exception&) {
    archives.clear();  // a damaged record is no record
  }
  return archives;
}

void WaitingArchivesRecord::Write(const std::vector<WaitingArchive>& archives) const {
  if (file_.empty()) return;
  std::error_code error;
  if (archives.empty()) {
    std::filesystem::remove(file_, error);
    return;
  }
  Json list = Json::array();
  const std::size_t first =
      archives.size() > kMaxWaitingArchives ? archives.size() - kMaxWaitingArchives : 0;
  for (std::size_t i = first; i < archives.size(); ++i) list.push_back(ToJson(archives[i]));
  const std::string text = Json{{"archives", list}}.dump(1);

  std::filesystem::create_directories(file_.parent_path(), error);
  std::filesystem::path temporary = file_;
  temporary += ".new";
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    out << text;
    out.close();
    if (!out) throw FileFailure(FailureKind::FileWrite, EIO, "writing " + fs::NameOf(temporary));
  }
  std::filesystem::rename(temporary, file_, error);
  if (error) {
    std::filesystem::remove(temporary, error);
    throw FileFailure(FailureKind::FileWrite, EIO, "writing " + fs::NameOf(file_));
  }
}

std::filesystem::path WaitingArchivesPath() {
  const std::filesystem::path log = RunLogPath();
  if (log.empty()) return {};
  return log.parent_path() / "archives-waiting.json";
}

}  // namespace qm
