// The real binary, headless, on what its own machine and a mail server give
// it: a settings file or a CA file that is no regular file or too large to
// be one, a settings file that keeps a password where other users can read
// it, and a server that claims more messages than it has or sends subjects
// longer than any mail has.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "tests/e2e/EndToEnd.h"
#include "tests/support/FileBytes.h"
#include "tests/support/ScriptedImapServer.h"
#include "tests/support/TempDir.h"

namespace qm {
namespace {

namespace fs = std::filesystem;
using namespace qm::testing;

constexpr auto kPromptly = std::chrono::seconds(20);

class InputEndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    MakeRunFolders(root_);
    for (const char* sub : {"Maildir/cur", "Maildir/new", "Maildir/tmp"}) {
      fs::create_directories(root_ / sub);
    }
  }

  void WriteSettings(std::vector<std::string> profile_lines = {}) {
    profile_lines.insert(profile_lines.begin(),
                         "\"Store\"=" + RegText("maildir:" + (root_ / "Maildir").string()));
    WriteSettingsFile(SettingsFile(), {(root_ / "out").string(), "", 0, {0, 0, 1}}, profile_lines);
  }

  ProgramResult Run() {
    return RunProgram(QM_BINARY, {"-a"}, HeadlessEnvironment(root_), kPromptly);
  }

  unsigned SettingsMode() const {
    struct stat info {};
    return ::lstat(SettingsFile().c_str(), &info) == 0 ? info.st_mode & 07777 : 0;
  }

  fs::path SettingsFile() const { return root_ / "config/Vantrel/Quillmar.reg"; }

  // The mailbox is `server`'s; the keyword is matched on the subject.
  void WriteImapSettings(const ScriptedImapServer& server, const std::string& keyword) {
    WriteSettingsFile(SettingsFile(), {(root_ / "out").string(), keyword, 0, {0, 0, 1}},
                      {"\"Store\"=" + RegText(server.StoreValue()), "\"Password\"=\"secret\"",
                       "\"CAFile\"=" + RegText(server.certificate().string())});
  }

  std::set<std::string> Saved() const {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(root_ / "out")) {
      names.insert(entry.path().filename().string());
    }
    return names;
  }

  TempDir dir_;
  fs::path root_ = dir_.path();
};

struct NotRegularCase {
  const char* name;
  std::function<void(const fs::path& settings)> make;
};

void PrintTo(const NotRegularCase& c, std::ostream* os) { *os << c.name; }

class NotRegularSettings : public InputEndToEnd,
                           public ::testing::WithParamInterface<NotRegularCase> {};

// Neither read nor replaced, and the start does not wait on it: the run
// goes on with the defaults (no destination folder, so it ends there).
TEST_P(NotRegularSettings, IsRefusedAtOnceWithAClearLine) {
  GetParam().make(SettingsFile());
  const fs::file_type type = fs::symlink_status(SettingsFile()).type();
  const ProgramResult r = Run();
  ASSERT_FALSE(r.timed_out) << "the start waited on the settings file";
  EXPECT_EQ(r.exit_code, 3) << r.err;
  EXPECT_NE(r.err.find("quillmar: The settings file " + SettingsFile().string() +
                       " is not a regular file, so it was neither read nor written."),
            std::string::npos)
      << r.err;
  EXPECT_EQ(fs::symlink_status(SettingsFile()).type(), type);
  std::set<std::string> beside;  // the scan's lock file may be there too
  for (const auto& entry : fs::directory_iterator(SettingsFile().parent_path())) {
    if (entry.path().filename() != "Quillmar.lock") beside.insert(entry.path().filename());
  }
  EXPECT_EQ(beside, std::set<std::string>{SettingsFile().filename()});
}

INSTANTIATE_TEST_SUITE_P(Input, NotRegularSettings,
                         ::testing::Values(NotRegularCase{"Fifo",
                                                          [](const fs::path& file) {
                                                            ASSERT_EQ(::mkfifo(file.c_str(), 0600),
                                                                      0);
                                                          }},
                                           NotRegularCase{"LinkToDevZero",
                                                          [](const fs::path& file) {
                                                            fs::create_symlink("/dev/zero", file);
                                                          }}),
                         [](const auto& info) { return std::string(info.param.name); });

// A settings file far larger than any the program writes is not read at
// all: the run has no destination folder. An unattended run writes nothing.
TEST_F(InputEndToEnd, OversizedSettingsFileIsNotRead) {
  WriteSettings();
  const std::string padding = "; " + std::string(1022, 'x') + "\n";
  {
    std::ofstream settings(SettingsFile(), std::ios::binary | std::ios::app);
    for (int line = 0; line < 2048; ++line) settings << padding;
  }
  const std::string before = ReadFile(SettingsFile());
  const ProgramResult r = Run();
  EXPECT_EQ(r.exit_code, 3) << r.err;
  EXPECT_EQ(ReadFile(SettingsFile()), before);
}

// The CA file is read before any connection, and only a regular file of a
// bounded size: a device fails the sign-on at once.
TEST_F(InputEndToEnd, CaFileThatIsADeviceFailsTheSignOnAtOnce) {
  WriteSettingsFile(SettingsFile(), {(root_ / "out").string(), "", 0, {0, 0, 1}},
                    {"\"Store\"=\"imaps://tester@127.0.0.1:1/INBOX\"", "\"Password\"=\"secret\"",
                     "\"CAFile\"=\"/dev/zero\""});
  const ProgramResult r = Run();
  ASSERT_FALSE(r.timed_out);
  EXPECT_EQ(r.exit_code, 4) << r.err;
  EXPECT_NE(r.err.find("\"CAFile\" (\"/dev/zero\") is not a regular file"), std::string::npos)
      << r.err;
}

// A listed message: its subject, and one attachment `file`.
ScriptedMessage Listed(const std::string& subject, const std::string& file) {
  return {"Subject: " + subject + "\r\nFrom: a@example.jp\r\n\r\n",
          Message(subject, "a@example.jp", file)};
}

// A server may claim any number of messages: what it lists is scanned, and
// nothing is set aside for the rest.
TEST_F(InputEndToEnd, ClaimedMessageCountIsNotTakenAtItsWord) {
  for (const std::uint64_t claimed : {std::uint64_t{1000000}, std::uint64_t{4294967295}}) {
    SCOPED_TRACE(claimed);
    fs::remove_all(root_ / "out");
    fs::create_directory(root_ / "out");
    ScriptedImapServer server(
        claimed, {Listed("Invoice for May", "invoice.pdf"), Listed("Minutes", "minutes.txt")});
    WriteImapSettings(server, "invoice");
    const ProgramResult r = Run();
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(Saved(), std::set<std::string>{"invoice.pdf"});
  }
}

// Of a subject longer than any mail has, the start is kept and matched:
// a keyword there selects the message, one far beyond it does not.
TEST_F(InputEndToEnd, KeywordIsMatchedOnTheStartOfALongSubject) {
  const std::string filler(200000, 'x');
  ScriptedImapServer server(
      2, {Listed("invoice " + filler, "early.pdf"), Listed(filler + " invoice", "late.pdf")});
  WriteImapSettings(server, "invoice");
  const ProgramResult r = Run();
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(Saved(), std::set<std::string>{"early.pdf"});
}

struct SharedCase {
  const char* name;
  std::string secret_line;  // empty: none
  unsigned mode;
  bool told;  // and made 0600
};

void PrintTo(const SharedCase& c, std::ostream* os) { *os << c.name; }

class SharedSettings : public InputEndToEnd, public ::testing::WithParamInterface<SharedCase> {};

// A settings file that keeps a secret where others can read it is made
// private, and the user told once; any other is left as it is, silently.
TEST_P(SharedSettings, KeepingASecretIsMadePrivateAndToldOnce) {
  const SharedCase& c = GetParam();
  WriteSettings(c.secret_line.empty() ? std::vector<std::string>{}
                                      : std::vector<std::string>{c.secret_line});
  fs::permissions(SettingsFile(), fs::perms(c.mode));
  const std::string line = "quillmar: The settings file " + SettingsFile().string() +
                           " holds a password and could be read by other users. It is now "
                           "readable by you only.\n";
  const ProgramResult first = Run();
  EXPECT_EQ(first.exit_code, 0) << first.err;
  EXPECT_EQ(first.err, c.told ? line : "");
  EXPECT_EQ(SettingsMode(), c.told ? 0600u : c.mode);
  const ProgramResult second = Run();
  EXPECT_EQ(second.exit_code, 0) << second.err;
  EXPECT_EQ(second.err, "");
}

INSTANTIATE_TEST_SUITE_P(
    Input, SharedSettings,
    ::testing::Values(SharedCase{"PasswordReadableByAll", "\"Password\"=\"hunter2\"", 0644, true},
                      SharedCase{"TokenReadableByGroup", "\"RefreshToken\"=\"r-1\"", 0640, true},
                      SharedCase{"PasswordPrivate", "\"Password\"=\"hunter2\"", 0600, false},
                      SharedCase{"EmptyPassword", "\"Password\"=\"\"", 0644, false},
                      SharedCase{"NoSecret", "", 0644, false}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace qm
