// The run log on a real file system: its lines and their stamps, rotation at
// the bound with no line lost, a link in the log's place left alone, and a
// place that cannot be written costing nothing but the line.

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>
#include <vector>

#include "base/RandomBytes.h"
#include "base/RunLog.h"

namespace qm {
namespace {

namespace fs = std::filesystem;

// A folder of the test's own under the system's temporary folder.
class LogFolder {
 public:
  LogFolder() : path_(fs::temp_directory_path() / ("run_log_test_" + UniqueSuffix())) {
    fs::create_directories(path_);
  }
  ~LogFolder() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
  }
  const fs::path& path() const { return path_; }

 private:
  static std::string UniqueSuffix() {
    std::string hex;
    for (const char byte : RandomBytes(8)) hex += "0123456789abcdef"[byte & 0xf];
    return hex;
  }
  fs::path path_;
};

std::string Contents(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// The text of each line, its stamp ("2026-12-08T19:02:14Z ") checked and cut.
std::vector<std::string> Texts(const fs::path& file) {
  std::vector<std::string> texts;
  const std::string contents = Contents(file);
  for (std::size_t start = 0; start < contents.size();) {
    const std::size_t end = contents.find('\n', start);
    EXPECT_NE(end, std::string::npos) << "a line without its end in " << file;
    if (end == std::string::npos) break;
    const std::string line = contents.substr(start, end - start);
    EXPECT_TRUE(line.size() > 21 && line[10] == 'T' && line[19] == 'Z' && line[20] == ' ') << line;
    texts.push_back(line.substr(21));
    start = end + 1;
  }
  return texts;
}

TEST(RunLogLine, StampsInUtcOnOneLine) {
  using namespace std::chrono;
  const struct {
    system_clock::time_point when;
    const char* text;
    const char* line;
  } cases[] = {
      {system_clock::time_point{}, "start", "1970-01-01T00:00:00Z start\n"},
      {sys_days{2024y / February / 29} + 23h + 59min + 59s + 999ms, "leap day",
       "2024-02-29T23:59:59Z leap day\n"},
      {sys_days{2026y / December / 8} + 9h + 5min + 7s, "a\nb\r\nc",
       "2026-12-08T09:05:07Z a b  c\n"},
  };
  for (const auto& c : cases) EXPECT_EQ(RunLogLine(c.when, c.text), c.line);
}

// Lines of 29 bytes against a bound of 100: three fit in a file, the fourth
// moves them to the older file. At every step the two files together hold
// the latest lines in order, none missing, none twice, and no file passes
// the bound. The first line makes the log's folder.
TEST(RunLog, RotatesAtTheBoundKeepingOneOlderFileAndEveryRecentLine) {
  const LogFolder folder;
  const fs::path file = folder.path() / "state" / "quillmar.log";
  const RunLog log(file, 100);
  std::vector<std::string> written;
  for (int i = 0; i < 10; ++i) {
    const std::string text = "event " + std::to_string(i);  // stamp 21 + 7 + line end 1
    ASSERT_TRUE(log.Append(text));
    written.push_back(text);
    std::vector<std::string> kept = Texts(log.OlderFile());
    const std::vector<std::string> current = Texts(file);
    kept.insert(kept.end(), current.begin(), current.end());
    ASSERT_LE(kept.size(), written.size());
    EXPECT_EQ(kept, std::vector<std::string>(written.end() - kept.size(), written.end()))
        << "after " << text;
    EXPECT_EQ(current.size(), static_cast<std::size_t>(i % 3 + 1)) << "after " << text;
    if (i >= 3) {
      EXPECT_EQ(Texts(log.OlderFile()).size(), 3u) << "after " << text;
    }
    EXPECT_LE(fs::file_size(file), 100u);
  }
  std::vector<fs::path> files;
  for (const auto& entry : fs::directory_iterator(file.parent_path()))
    files.push_back(entry.path());
  EXPECT_EQ(files.size(), 2u) << "one older file only";
}

// A link where the log should be: nothing is written through it, the link
// and what it names stay as they were, also a link to nothing.
TEST(RunLog, ALinkInThePlaceOfTheLogIsNotFollowed) {
  const LogFolder folder;
  const fs::path file = folder.path() / "quillmar.log";
  const fs::path target = folder.path() / "elsewhere.txt";
  std::ofstream(target, std::ios::binary) << "kept\n";
  for (const fs::path& named : {target, folder.path() / "missing.txt"}) {
    std::error_code error;
    fs::create_symlink(named, file, error);
    if (error) GTEST_SKIP() << "links cannot be made here: " << error.message();
    EXPECT_FALSE(RunLog(file).Append("through the link")) << named;
    EXPECT_TRUE(fs::is_symlink(fs::symlink_status(file))) << named;
    EXPECT_EQ(Contents(target), "kept\n");
    EXPECT_FALSE(fs::exists(folder.path() / "missing.txt"));
    fs::remove(file);
  }
}

// Places no line can go: Append says so and throws nothing.
TEST(RunLog, APlaceThatCannotBeWrittenCostsOnlyTheLine) {
  const LogFolder folder;
  std::ofstream(folder.path() / "a file", std::ios::binary) << "not a folder";
  fs::create_directories(folder.path() / "a folder" / "quillmar.log");
  const struct {
    const char* name;
    fs::path file;
  } cases[] = {
      {"no place found", fs::path()},
      {"folder is a file", folder.path() / "a file" / "quillmar.log"},
      {"log is a folder", folder.path() / "a folder" / "quillmar.log"},
  };
  for (const auto& c : cases) EXPECT_FALSE(RunLog(c.file).Append("lost")) << c.name;
  EXPECT_EQ(Contents(folder.path() / "a file"), "not a folder");
}

}  // namespace
}  // namespace qm
