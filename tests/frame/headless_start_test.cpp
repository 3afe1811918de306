// Starts the real program with no display at all, as cron or a systemd timer
// would, and checks how it ends: exit code and exactly one line on stderr.

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "settings/Settings.h"
#include "tests/support/EnvOverride.h"
#include "tests/support/Subprocess.h"
#include "tests/support/TempDir.h"

namespace qm {
namespace {

using testing::RunProgram;
using testing::TempDir;

// The environment of the test process without any display or settings
// location, pointed at a private home instead (the run log's place too).
std::map<std::string, std::string> HeadlessEnvironment(const TempDir& home) {
  std::map<std::string, std::string> env;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const std::string text = *entry;
    const auto equals = text.find('=');
    if (equals != std::string::npos) env[text.substr(0, equals)] = text.substr(equals + 1);
  }
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "XDG_RUNTIME_DIR"}) {
    env.erase(name);
  }
  env["HOME"] = home.path().string();
  env["XDG_CONFIG_HOME"] = (home / "config").string();
  env["XDG_STATE_HOME"] = (home / "state").string();
  return env;
}

// Writes the destination folder into the settings file of `home`.
void ConfigureDestination(const TempDir& home, const std::string& destination) {
  const testing::EnvOverride config_home("XDG_CONFIG_HOME", (home / "config").string());
  Settings = SettingsRecord{};
  Settings.Path = destination;
  SaveSettings();
}

// Every file under the settings folder with its content, but the empty lock
// file a scan holds while it runs.
std::map<std::string, std::string> ConfigSnapshot(const TempDir& home) {
  std::map<std::string, std::string> files;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(home / "config")) {
    if (!entry.is_regular_file() || entry.path().filename() == "Quillmar.lock") continue;
    std::ifstream in(entry.path(), std::ios::binary);
    files[entry.path().string()] = std::string(std::istreambuf_iterator<char>(in), {});
  }
  return files;
}

struct HeadlessCase {
  const char* name;
  std::vector<std::string> args;
  bool destination_configured;
  bool has_maildir;  // an empty ~/Maildir
  int exit_code;
  const char* message_start;  // nullptr: a quiet run, nothing on stderr
};

void PrintTo(const HeadlessCase& c, std::ostream* os) { *os << c.name; }

class HeadlessStart : public ::testing::TestWithParam<HeadlessCase> {};

TEST_P(HeadlessStart, EndsWithOneLineAndItsExitCode) {
  const HeadlessCase& c = GetParam();
  TempDir home;
  std::filesystem::create_directories(home / "config");
  std::filesystem::create_directories(home / "files");
  if (c.destination_configured) ConfigureDestination(home, (home / "files").string());
  if (c.has_maildir) {
    for (const char* sub : {"cur", "new", "tmp"})
      std::filesystem::create_directories(home / "Maildir" / sub);
  }

  const std::map<std::string, std::string> before = ConfigSnapshot(home);

  const auto result =
      RunProgram(QM_BINARY, c.args, HeadlessEnvironment(home), std::chrono::seconds(60));

  ASSERT_FALSE(result.timed_out);
  EXPECT_EQ(result.exit_code, c.exit_code) << result.err;
  if (c.message_start == nullptr) {
    EXPECT_EQ(result.err, "");
  } else {
    EXPECT_EQ(result.err.rfind(c.message_start, 0), 0u) << result.err;
    ASSERT_FALSE(result.err.empty());
    EXPECT_EQ(result.err.find('\n'), result.err.size() - 1) << "more than one line:\n"
                                                            << result.err;
  }
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(ConfigSnapshot(home), before) << "settings written";
}

INSTANTIATE_TEST_SUITE_P(
    Cases, HeadlessStart,
    ::testing::Values(
        HeadlessCase{"NoSwitch", {}, false, false, 2, "quillmar: error 429: "},
        HeadlessCase{"OtherSwitch", {"-b", "/A"}, true, true, 2, "quillmar: error 429: "},
        HeadlessCase{"ScanWithoutDestination", {"-a"}, false, true, 3, "quillmar: error "},
        HeadlessCase{"ScanWithoutMailbox", {"-a"}, true, false, 4, "quillmar: error 32023: "},
        HeadlessCase{"SwitchInsideWord", {"x-ay"}, true, false, 4, "quillmar: error 32023: "},
        // Nothing to show: the run ends after the scan although "自動終了" is clear.
        HeadlessCase{"QuietScan", {"-A"}, true, true, 0, nullptr}),
    [](const ::testing::TestParamInfo<HeadlessCase>& info) {
      return std::string(info.param.name);
    });

// The line's words follow the locale variables, LC_ALL first, then
// LC_MESSAGES, then LANG, whether or not the locale is installed; the
// prefix never changes. Failures before and after the application starts.
TEST(HeadlessStart, TheLineFollowsTheLocale) {
  const struct {
    const char* name;
    std::map<std::string, std::string> locale;
    std::vector<std::string> args;
    const char* line_start;
  } cases[] = {
      {"ja, no window",
       {{"LC_ALL", "ja_JP.UTF-8"}},
       {},
       "quillmar: error 429: ウィンドウを表示する画面がありません。"},
      {"C, no window", {{"LC_ALL", "C.UTF-8"}}, {}, "quillmar: error 429: no display"},
      {"LC_ALL over LANG",
       {{"LC_ALL", "C.UTF-8"}, {"LANG", "ja_JP.UTF-8"}},
       {},
       "quillmar: error 429: no display"},
      {"LC_MESSAGES over LANG",
       {{"LC_MESSAGES", "ja_JP.eucJP"}, {"LANG", "en_US.UTF-8"}},
       {},
       "quillmar: error 429: ウィンドウを"},
      {"LANG alone", {{"LANG", "ja_JP.UTF-8"}}, {}, "quillmar: error 429: ウィンドウを"},
      {"ja, no destination",
       {{"LC_ALL", "ja_JP.UTF-8"}},
       {"-a"},
       "quillmar: error 76: 保存先のフォルダーが指定されていないか、見つかりません。"},
      {"C, no destination",
       {{"LC_ALL", "C.UTF-8"}},
       {"-a"},
       "quillmar: error 76: no destination folder is set"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir home;
    std::filesystem::create_directories(home / "config");
    std::map<std::string, std::string> env = HeadlessEnvironment(home);
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG", "LANGUAGE"}) env.erase(name);
    env.insert(c.locale.begin(), c.locale.end());
    const auto result = RunProgram(QM_BINARY, c.args, env, std::chrono::seconds(60));
    ASSERT_FALSE(result.timed_out);
    EXPECT_EQ(result.err.rfind(c.line_start, 0), 0u) << result.err;
    EXPECT_EQ(result.err.find('\n'), result.err.size() - 1) << result.err;
  }
}

// One unread message with one attachment, as a mail client delivers it.
void DeliverMessageWithAttachment(const TempDir& home) {
  std::ofstream(home / "Maildir/new/1700000000.1.test", std::ios::binary)
      << "From: a@example.com\r\nSubject: invoice\r\nMIME-Version: 1.0\r\n"
         "Content-Type: multipart/mixed; boundary=\"b\"\r\n\r\n"
         "--b\r\nContent-Type: text/plain\r\n\r\nhi\r\n"
         "--b\r\nContent-Type: application/octet-stream\r\n"
         "Content-Disposition: attachment; filename=\"a.bin\"\r\n"
         "Content-Transfer-Encoding: base64\r\n\r\naGVsbG8=\r\n--b--\r\n";
}

// The same, in English: the words the run log tests expect.
std::map<std::string, std::string> EnglishHeadlessEnvironment(const TempDir& home) {
  std::map<std::string, std::string> env = HeadlessEnvironment(home);
  env["LC_ALL"] = "C.UTF-8";
  return env;
}

// The texts of the run log's lines, each without its time stamp.
std::vector<std::string> RunLogTexts(const TempDir& home) {
  std::ifstream in(home / "state/quillmar/quillmar.log", std::ios::binary);
  std::vector<std::string> texts;
  for (std::string line; std::getline(in, line);) texts.push_back(line.substr(line.find(' ') + 1));
  return texts;
}

// A run with "-a" leaves its start, the line of its failure as stderr showed
// it, and its end with the exit code and the scan's counts; a run without it
// logs nothing. A log that cannot be written (a file in the place of its
// folder) changes nothing else: the same exit code and line on stderr.
TEST(HeadlessStart, TheRunLogTellsHowAnUnattendedRunWent) {
  const std::string ended = "unattended run ended with exit code ";
  const struct {
    const char* name;
    std::vector<std::string> args;
    bool has_maildir;
    bool log_blocked;
    int exit_code;
    std::string end;  // "": no log at all
  } cases[] = {
      {"saved a file",
       {"-a"},
       true,
       false,
       0,
       ended + "0: 1 of 1 messages examined, 1 files saved"},
      {"no mailbox", {"-a"}, false, false, 4, ended + "4: 0 of 0 messages examined, 0 files saved"},
      {"not unattended", {}, true, false, 2, ""},
      {"saved a file, log blocked", {"-a"}, true, true, 0, ""},
      {"no mailbox, log blocked", {"-a"}, false, true, 4, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir home;
    std::filesystem::create_directories(home / "files");
    ConfigureDestination(home, (home / "files").string());
    if (c.has_maildir) {
      for (const char* sub : {"cur", "new", "tmp"})
        std::filesystem::create_directories(home / "Maildir" / sub);
      DeliverMessageWithAttachment(home);
    }
    if (c.log_blocked) std::ofstream(home / "state", std::ios::binary) << "in the way";
    const auto result =
        RunProgram(QM_BINARY, c.args, EnglishHeadlessEnvironment(home), std::chrono::seconds(60));
    ASSERT_FALSE(result.timed_out);
    EXPECT_EQ(result.exit_code, c.exit_code) << result.err;
    EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), c.exit_code == 0 ? 0 : 1)
        << result.err;
    std::vector<std::string> expected;
    if (!c.end.empty()) {
      expected.push_back("unattended run started (-a)");
      if (!result.err.empty()) expected.push_back(result.err.substr(0, result.err.size() - 1));
      expected.push_back(c.end);
    }
    EXPECT_EQ(RunLogTexts(home), expected) << result.err;
  }
}

}  // namespace
}  // namespace qm
