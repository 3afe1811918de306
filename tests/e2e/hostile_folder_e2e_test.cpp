// The real binary, headless, saving into a destination folder that others
// have prepared or share: a folder full of files of one name, a reservation
// journal planted by another user, and what other hosts' runs left there.
// The tests of a shared folder run as two users (root makes them with
// setpriv): an attacker who may write into the folder, and the victim whose
// "quillmar -a" saves into it. A group-shared folder without sticky bit lets
// each rename and remove the other's entries.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "save/DestinationFile.h"
#include "save/EndedRun.h"
#include "tests/e2e/EndToEnd.h"
#include "tests/support/CiSkip.h"
#include "tests/support/EndedProcess.h"
#include "tests/support/TempDir.h"

namespace qm {
namespace {

namespace fs = std::filesystem;
using namespace qm::testing;

class HostileFolder : public ::testing::Test {
 protected:
  void SetUp() override {
    MakeRunFolders(root_);
    for (const char* sub : {"Maildir/cur", "Maildir/new", "Maildir/tmp"}) {
      fs::create_directories(root_ / sub);
    }
  }

  void WriteSettings(const fs::path& destination) {
    WriteSettingsFile(root_ / "config/Vantrel/Quillmar.reg",
                      {destination.string(), "", 0, {0, 0, 1}},
                      {"\"Store\"=" + RegText("maildir:" + (root_ / "Maildir").string())});
  }

  std::string Deliver(const std::string& bytes) {
    const std::string base =
        std::to_string(1700000000 + serial_) + ".M" + std::to_string(serial_) + "P1.test";
    ++serial_;
    std::ofstream(root_ / "Maildir/new" / base, std::ios::binary) << bytes;
    return base;
  }

  // The unique parts of the messages now marked seen.
  std::set<std::string> Seen() const { return SeenIn(root_ / "Maildir"); }

  TempDir temp_;
  fs::path root_ = temp_.path();
  int serial_ = 0;
};

// One name sent for years (a scanner's "scan.pdf") filled every number up
// to the last one tried; from then on every run failed, and nothing after
// that message was ever collected.
TEST_F(HostileFolder, TenThousandFilesOfOneNameDoNotStopCollection) {
  constexpr int kTaken = 10000;
  const fs::path out = root_ / "out";
  for (int n = 1; n <= kTaken; ++n) {
    std::ofstream(out / CandidateName("scan.pdf", n)) << "scanned " << n;
  }
  const std::string scan = Deliver(Message("scan", "scanner@example.com", "scan.pdf"));
  const std::string other = Deliver(Message("other", "a@example.com", "other.pdf"));
  WriteSettings(out);

  const ProgramResult r = RunHeadless(root_);
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(ReadFile(out / CandidateName("scan.pdf", kTaken + 1)), "content of scan.pdf");
  EXPECT_EQ(ReadFile(out / "other.pdf"), "content of other.pdf");
  EXPECT_EQ(Seen(), (std::set<std::string>{scan, other}));
  std::size_t files = 0;
  for ([[maybe_unused]] const auto& entry : fs::directory_iterator(out)) ++files;
  EXPECT_EQ(files, static_cast<std::size_t>(kTaken + 2)) << "something hidden left behind";
}

// ---- two users on a group-shared folder ----------------------------------------------

constexpr uid_t kVictim = 61001;
constexpr uid_t kAttacker = 61002;
constexpr gid_t kSharedGroup = 61000;

class SharedFolder : public HostileFolder {
 protected:
  void SetUp() override {
    if (::geteuid() != 0) QM_SKIP_OUTSIDE_CI("two users are made with setpriv, which needs root");
    HostileFolder::SetUp();
    fs::permissions(root_, fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec);
    fs::create_directory(Shared());
    fs::create_directory(VictimFiles());
    std::ofstream(VictimFiles() / ".hushlogin");
    std::ofstream(VictimFiles() / "empty-but-mine");
    for (const char* sub : {"home", "config", "tmp", "runtime", "Maildir", "victim"}) {
      OwnTree(root_ / sub, kVictim, kSharedGroup);
    }
    OwnTree(Shared(), kAttacker, kSharedGroup);
    fs::permissions(Shared(), fs::perms::owner_all | fs::perms::group_all);  // no sticky bit
  }

  static void OwnTree(const fs::path& top, uid_t user, gid_t group) {
    ASSERT_EQ(::lchown(top.c_str(), user, group), 0) << top;
    for (const auto& entry : fs::recursive_directory_iterator(top)) {
      ASSERT_EQ(::lchown(entry.path().c_str(), user, group), 0) << entry.path();
    }
  }

  fs::path Shared() const { return root_ / "shared"; }
  fs::path VictimFiles() const { return root_ / "victim"; }

  // `command` run as `user` of the shared group, and of no other group.
  static ProgramResult RunAs(uid_t user, const std::vector<std::string>& command,
                             const std::map<std::string, std::string>& env) {
    std::vector<std::string> args = {"--reuid=" + std::to_string(user),
                                     "--regid=" + std::to_string(kSharedGroup), "--clear-groups"};
    args.insert(args.end(), command.begin(), command.end());
    return RunProgram("/usr/bin/setpriv", args, env);
  }

  static void Shell(uid_t user, const std::string& script) {
    const ProgramResult r = RunAs(user, {"/bin/sh", "-c", script}, {{"PATH", "/usr/bin:/bin"}});
    ASSERT_EQ(r.exit_code, 0) << script << ": " << r.err;
  }

  // The victim's "quillmar -a", on what was delivered and written so far.
  ProgramResult VictimScan() {
    for (const char* sub : {"config", "Maildir"}) OwnTree(root_ / sub, kVictim, kSharedGroup);
    return RunAs(kVictim, {QM_BINARY, "-a"}, HeadlessEnvironment(root_));
  }

  // A file of `content` at `path`, written by `user`.
  static void WriteAs(uid_t user, const fs::path& path, const std::string& content) {
    const fs::path staged = path.string() + ".staged-by-root";
    std::ofstream(staged, std::ios::binary) << content;
    ASSERT_EQ(::chown(staged.c_str(), user, kSharedGroup), 0);
    Shell(user, "cat '" + staged.string() + "' > '" + path.string() + "'");
    fs::remove(staged);
  }

  // This host's run prefix with another pid (".quillmar-HOST.BOOT-").
  static std::string ThisHostAndBoot() {
    const std::string own = RunNames::OfThisRun(".quillmar-").Prefix();
    return own.substr(0, own.rfind('-', own.size() - 2) + 1);
  }
};

std::string JournalEntry(const std::string& name) {
  return "+" + std::to_string(name.size()) + " " + name + "\n";
}

// Whoever can write into the folder plants a journal naming the victim's
// empty files outside it (and an empty file of their own inside it). The
// victim's next ordinary run removed all of them without a word.
TEST_F(SharedFolder, PlantedJournalRemovesNothing) {
  const std::string dead = std::to_string(PidOfEndedProcess());
  const std::string entries = JournalEntry("../victim/.hushlogin") +
                              JournalEntry((VictimFiles() / "empty-but-mine").string()) +
                              JournalEntry("theirs.pdf");
  const std::vector<std::string> journals = {".quillmar-" + dead + "-journal",
                                             ThisHostAndBoot() + dead + "-journal"};
  for (const std::string& journal : journals) WriteAs(kAttacker, Shared() / journal, entries);
  WriteAs(kAttacker, Shared() / "theirs.pdf", "");
  const std::string message = Deliver(Message("one", "a@example.com", "a.pdf"));
  WriteSettings(Shared());

  const ProgramResult r = VictimScan();
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_TRUE(fs::exists(VictimFiles() / ".hushlogin"));
  EXPECT_TRUE(fs::exists(VictimFiles() / "empty-but-mine"));
  EXPECT_TRUE(fs::exists(Shared() / "theirs.pdf"));
  for (const std::string& journal : journals) {
    EXPECT_EQ(ReadFile(Shared() / journal), entries) << "not the victim's to judge: " << journal;
  }
  EXPECT_EQ(ReadFile(Shared() / "a.pdf"), "content of a.pdf");
  EXPECT_EQ(Seen(), (std::set<std::string>{message}));
}

// What runs left in a folder that two hosts (or a container and its host)
// save into: another host's work folder is in use there, whatever our pid
// table says, and an entry of another user is never ours. This host's own
// ended runs, of this boot or an earlier one, are cleaned up.
TEST_F(SharedFolder, OnlyThisUsersEndedRunsOfThisHostAreCleanedUp) {
  const std::string dead = std::to_string(PidOfEndedProcess());
  const std::string here = ThisHostAndBoot();  // ".quillmar-HOST.BOOT-"
  const std::string host = here.substr(10, 8);
  const std::string boot = here.substr(19, 8);
  const std::string other_host = host == "00000000" ? "11111111" : "00000000";
  const std::string other_boot = boot == "00000000" ? "11111111" : "00000000";
  const std::string elsewhere = ".quillmar-" + other_host + "." + boot + "-" + dead + "-";
  const std::string before_boot = ".quillmar-" + host + "." + other_boot + "-1-";
  const std::string ended = here + dead + "-";
  const std::string older = ".quillmar-" + dead + "-";
  const std::map<std::string, uid_t> kept = {{elsewhere + "work", kVictim},
                                             {elsewhere + "abcdefgh", kVictim},
                                             {ended + "abcdefgh", kAttacker}};
  const std::map<std::string, uid_t> removed = {{before_boot + "work", kVictim},
                                                {before_boot + "abcdefgh", kVictim},
                                                {ended + "work", kVictim},
                                                {older + "work", kVictim},
                                                {older + "abcdefgh", kVictim}};
  for (const auto& group : {kept, removed}) {
    for (const auto& [name, user] : group) {
      const fs::path path = Shared() / name;
      if (name.ends_with("-work")) {
        Shell(user, "mkdir -m 700 '" + path.string() + "' '" + path.string() +
                        "/1' && echo in use > '" + path.string() + "/1/a.pdf'");
      } else {
        WriteAs(user, path, "left by a run");
      }
    }
  }
  Deliver(Message("one", "a@example.com", "a.pdf"));
  WriteSettings(Shared());

  const ProgramResult r = VictimScan();
  EXPECT_EQ(r.exit_code, 0) << r.err;
  std::set<std::string> names;
  for (const auto& entry : fs::directory_iterator(Shared())) {
    names.insert(entry.path().filename().string());
  }
  std::set<std::string> expected = {"a.pdf"};
  for (const auto& [name, user] : kept) expected.insert(name);
  EXPECT_EQ(names, expected);
  EXPECT_EQ(ReadFile(Shared() / (elsewhere + "work") / "1" / "a.pdf"), "in use\n");
}

}  // namespace
}  // namespace qm
