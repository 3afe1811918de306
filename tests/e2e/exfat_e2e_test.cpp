// The destination on exFAT, as on USB sticks, SD cards and disks formatted on
// Windows or a Mac: no hard links and no rename that refuses to replace.
// Every scan there failed with "Operation not permitted" and saved nothing.
// The real binary runs headless against a Maildir, with the folder on an
// exFAT file system mounted through exfat-fuse on a loop device.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "save/DestinationFile.h"
#include "save/NoReplacePlacement.h"
#include "tests/e2e/EndToEnd.h"
#include "tests/support/CiSkip.h"
#include "tests/support/ExfatMount.h"
#include "tests/support/TempDir.h"
#include "tests/support/WaitForChange.h"
#include "text/SafeName.h"

namespace qm {
namespace {

namespace fs = std::filesystem;
using namespace qm::testing;

// A message with one attachment `name` (plain UTF-8) holding `content`.
std::string MessageWith(const std::string& subject, const std::string& name,
                        const std::string& content) {
  return "From: a@example.com\nSubject: " + subject +
         "\nMIME-Version: 1.0\nContent-Type: multipart/mixed; boundary=\"zz\"\n\n"
         "--zz\nContent-Type: text/plain\n\nHello.\n"
         "--zz\nContent-Type: application/octet-stream\nContent-Disposition: attachment;"
         " filename=\"" +
         name + "\"\nContent-Transfer-Encoding: 8bit\n\n" + content + "\n--zz--\n";
}

class ExfatEndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string missing = ExfatMount::Missing();
    if (!missing.empty()) QM_SKIP_OUTSIDE_CI("exFAT tests cannot run: " + missing);
    exfat_ = std::make_unique<ExfatMount>();
    MakeRunFolders(root_);
    fs::create_directory(Out());
    UseMaildir(root_ / "Maildir");
  }

  // The Maildir the runs scan, created when missing.
  void UseMaildir(const fs::path& maildir) {
    maildir_ = maildir;
    for (const char* sub : {"cur", "new", "tmp"}) fs::create_directories(maildir_ / sub);
  }

  void WriteSettings(const StoredSettings& s) {
    WriteSettingsFile(root_ / "config/Vantrel/Quillmar.reg", s,
                      {"\"Store\"=" + RegText("maildir:" + maildir_.string())});
  }

  // Delivers into new/; returns the file's name.
  std::string Deliver(const std::string& bytes) {
    const std::string name =
        std::to_string(1700000000 + serial_) + ".M" + std::to_string(serial_) + "P1.test";
    ++serial_;
    std::ofstream(maildir_ / "new" / name, std::ios::binary) << bytes;
    return name;
  }

  ProgramResult Run() { return RunHeadless(root_); }

  fs::path Out() const { return exfat_->mount_point() / "out"; }

  std::map<std::string, std::string> Saved() const {
    std::map<std::string, std::string> files;
    for (const auto& e : fs::directory_iterator(Out())) {
      files[e.path().filename().string()] = ReadFile(e.path());
    }
    return files;
  }

  std::set<std::string> SavedNames() const {
    std::set<std::string> names;
    for (const auto& [name, content] : Saved()) names.insert(name);
    return names;
  }

  std::unique_ptr<ExfatMount> exfat_;
  TempDir temp_;
  fs::path root_ = temp_.path();
  fs::path maildir_;
  int serial_ = 0;
};

class ExfatSelection : public ExfatEndToEnd, public ::testing::WithParamInterface<SelectionCase> {};

TEST_P(ExfatSelection, SavesTheFilesOfTheSelectedMessages) {
  for (const Delivery& d : SelectionInbox()) {
    const std::string name = Deliver(d.bytes);
    if (d.seen) fs::rename(maildir_ / "new" / name, maildir_ / "cur" / (name + ":2,S"));
  }
  const SelectionCase& c = GetParam();
  WriteSettings({Out().string(), c.keyword, c.item, c.opt});
  const ProgramResult r = Run();
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(SavedNames(), c.saved);
}

INSTANTIATE_TEST_SUITE_P(Exfat, ExfatSelection, ::testing::ValuesIn(SelectionCases()),
                         [](const auto& info) { return info.param.name; });

// Names differing only in case are one name there: a different file under
// another case is numbered, never replaced; the same bytes are not saved
// twice. A second run over the same mail adds nothing, and the user's own
// file keeps its name and bytes.
TEST_F(ExfatEndToEnd, NothingIsReplacedNothingDuplicatedAcrossRuns) {
  std::ofstream(Out() / "scan.pdf") << "the user's own file";
  Deliver(MessageWith("1", "Report.pdf", "first report"));
  Deliver(MessageWith("2", "report.pdf", "second report"));
  Deliver(MessageWith("3", "REPORT.PDF", "first report"));
  Deliver(MessageWith("4", "scan.pdf", "a scan"));
  Deliver(MessageWith("5", "scan.pdf", "a scan"));
  WriteSettings({Out().string(), "", 0, {0, 0, 1}});
  const std::map<std::string, std::string> expected = {{"Report.pdf", "first report"},
                                                       {"report (2).pdf", "second report"},
                                                       {"scan.pdf", "the user's own file"},
                                                       {"scan (2).pdf", "a scan"}};
  for (int run = 0; run < 2; ++run) {
    const ProgramResult r = Run();
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(Saved(), expected) << "run " << run;
  }
}

// The way of placing files is found by trying, per folder.
TEST_F(ExfatEndToEnd, PlacementIsChosenByTryingTheFolder) {
  using Method = NoReplacePlacement::Method;
  const struct {
    fs::path folder;
    Method method;
  } cases[] = {{Out(), Method::kReservation}, {root_ / "out", Method::kRenameNoReplace}};
  for (const auto& c : cases) {
    const UniqueFd dir(::open(c.folder.c_str(), O_RDONLY | O_DIRECTORY));
    int probes = 0;
    {
      const NoReplacePlacement placement(
          dir.get(), c.folder.string(),
          [&] { return ".quillmar-probe" + std::to_string(++probes); }, ".quillmar-journal-test");
      EXPECT_EQ(placement.method(), c.method) << c.folder;
    }
    EXPECT_TRUE(fs::is_empty(c.folder)) << "the probe left something behind";
  }
}

// Every name the program can make of a stranger's attachment name, and its
// numbered forms, can be created there.
TEST_F(ExfatEndToEnd, EverySafeNameCanBeCreated) {
  const std::string long_name = std::string(100, 'a') + std::string(100, '\xe3') + ".pdf";
  std::string long_japanese;
  while (long_japanese.size() < 300) long_japanese += "請求書";
  const std::vector<std::string> names = {"../../x",
                                          "/etc/x",
                                          "C:\\x\\y.txt",
                                          "\\\\host\\share\\x",
                                          "a/b",
                                          "a\\b",
                                          ".",
                                          "..",
                                          "",
                                          std::string("a\0b", 3),
                                          "a\x1b"
                                          "b",
                                          "a\ab",
                                          "a\tb",
                                          "a\rb",
                                          "a\nb",
                                          long_name,
                                          long_japanese + ".pdf",
                                          "CON",
                                          "NUL.txt",
                                          "aux.pdf",
                                          "trailing.",
                                          "trailing ",
                                          "-leading",
                                          ".bashrc",
                                          "a:b",
                                          "a\"b",
                                          "a*b",
                                          "a?b",
                                          "a<b>c",
                                          "a|b",
                                          "a／b",
                                          "evil\u202Efdp.exe",
                                          "%2e%2e%2f",
                                          "見積書 (最終).xlsx",
                                          "ﾊﾝｶｸ.txt",
                                          "😀.png",
                                          "名前\u3000全角空白.doc"};
  std::set<std::string> created;
  for (const std::string& raw : names) {
    const std::string safe = MakeSafeFileName(raw, "attachment.bin");
    for (const std::string& name : {safe, CandidateName(safe, 2), CandidateName(safe, 10000)}) {
      std::ofstream file(Out() / name, std::ios::binary);
      file << "x";
      file.close();
      EXPECT_TRUE(file.good()) << "cannot create \"" << name << "\" from \"" << raw << "\"";
      created.insert(name);
    }
  }
  // Each is there under exactly the name asked for (the file system folds
  // case, so compare ignoring nothing but what it would fold: nothing here).
  for (const std::string& name : created) {
    EXPECT_TRUE(fs::exists(Out() / name)) << name;
  }
}

// The Maildir itself on exFAT: messages in new/ carry no info yet, and the
// file system refuses ':' in the name they get when marked read.
TEST_F(ExfatEndToEnd, MaildirOnExfatIsMarkedWithBang) {
  UseMaildir(exfat_->mount_point() / "Maildir");
  const std::string a = Deliver(MessageWith("1", "one.txt", "one"));
  const std::string b = Deliver(MessageWith("2", "two.txt", "two"));
  WriteSettings({Out().string(), "", 0, {0, 1, 1}});
  const ProgramResult r = Run();
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(SavedNames(), (std::set<std::string>{"one.txt", "two.txt"}));
  std::set<std::string> marked;
  for (const auto& e : fs::directory_iterator(maildir_ / "cur")) {
    marked.insert(e.path().filename().string());
  }
  EXPECT_EQ(marked, (std::set<std::string>{a + "!2,S", b + "!2,S"}));
  EXPECT_TRUE(fs::is_empty(maildir_ / "new"));
  // A second unread-only run sees them as read.
  fs::remove(Out() / "one.txt");
  ASSERT_EQ(Run().exit_code, 0);
  EXPECT_EQ(SavedNames(), (std::set<std::string>{"two.txt"}));
}

// The program started in the background, killed with SIGKILL on request.
class Started {
 public:
  Started(const std::string& program, const std::vector<std::string>& args,
          const std::map<std::string, std::string>& env) {
    std::vector<std::string> argv_text = {program};
    argv_text.insert(argv_text.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : argv_text) argv.push_back(a.data());
    argv.push_back(nullptr);
    std::vector<std::string> env_text;
    for (const auto& [name, value] : env) env_text.push_back(name + "=" + value);
    std::vector<char*> envp;
    for (std::string& e : env_text) envp.push_back(e.data());
    envp.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    if (posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), envp.data()) != 0) {
      pid_ = 0;
    }
    posix_spawn_file_actions_destroy(&actions);
  }
  ~Started() { Kill(); }
  Started(const Started&) = delete;
  Started& operator=(const Started&) = delete;

  bool started() const { return pid_ > 0; }

  // Exit status once the process ended, or nothing while it runs.
  std::optional<int> Ended() {
    if (ended_) return status_;
    int status = 0;
    if (::waitpid(pid_, &status, WNOHANG) != pid_) return std::nullopt;
    ended_ = true;
    status_ = status;
    return status_;
  }

  void Kill() {
    if (pid_ <= 0 || Ended()) return;
    ::kill(pid_, SIGKILL);
    int status = 0;
    ::waitpid(pid_, &status, 0);
    ended_ = true;
  }

 private:
  pid_t pid_ = 0;
  bool ended_ = false;
  int status_ = 0;
};

// Killed while files are being placed: no final name holds part of a file
// or an empty reservation once the next run is done, and nothing hidden is
// left; every attachment is there exactly once.
TEST_F(ExfatEndToEnd, KilledInTheMiddleLeavesNoPartialFileOrReservation) {
  std::map<std::string, std::string> expected;
  for (int i = 0; i < 300; ++i) {
    const std::string name = "file" + std::to_string(i % 150) + ".bin";
    const std::string content =
        std::string(20000 + i * 37, static_cast<char>('a' + i % 26)) + std::to_string(i);
    Deliver(MessageWith(std::to_string(i), name, content));
    expected[i < 150 ? name : "file" + std::to_string(i % 150) + " (2).bin"] = content;
  }
  WriteSettings({Out().string(), "", 0, {0, 1, 1}});
  {
    Started run(QM_BINARY, {"-a"}, HeadlessEnvironment(root_));
    ASSERT_TRUE(run.started());
    // Wait until some files have their final names, then kill it.
    const auto some_placed = [&] {
      for (const auto& e : fs::directory_iterator(Out())) {
        if (e.path().filename().string()[0] != '.') return true;
      }
      return run.Ended().has_value();
    };
    WaitForChange(Out(), some_placed, std::chrono::seconds(60));
    ASSERT_FALSE(run.Ended()) << "the scan ended before it could be killed";
    run.Kill();
  }
  for (const auto& [name, content] : Saved()) {
    if (name[0] == '.') continue;
    const auto wanted = expected.find(name);
    ASSERT_NE(wanted, expected.end()) << name;
    // A reservation the kill left may be empty; anything else is whole.
    if (!content.empty()) {
      EXPECT_EQ(content, wanted->second) << name;
    }
  }

  const ProgramResult r = Run();
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(Saved(), expected);
}

}  // namespace
}  // namespace qm
