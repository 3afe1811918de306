// The real binary, headless, when things go wrong in the middle of a scan:
// killed at random moments, a destination disk that fills up, the server
// connection cut while bodies are being fetched, the destination folder
// removed, and two unattended runs started at once. After each, no file
// under its final name is partial or wrong, no message is marked read
// whose files are not all on disk, and the next run completes the job:
// every attachment of the unread messages in the folder exactly once, the
// marks exactly on those messages, nothing left behind.
//
// The generated mailboxes and the kill points come from a seed printed at
// the start of each test; QM_FAULT_SEED=<seed> runs the same ones again.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <iostream>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <signal.h>

#include "base/ReadRegularFile.h"
#include "tests/e2e/AttachmentCorpus.h"
#include "tests/e2e/EndToEnd.h"
#include "tests/support/CiSkip.h"
#include "tests/support/DovecotServer.h"
#include "tests/support/TcpRelay.h"
#include "tests/support/TempDir.h"
#include "tests/support/TmpfsMount.h"
#include "tests/support/WaitForChange.h"

namespace qm {
namespace {

namespace fs = std::filesystem;
using namespace qm::testing;
using ::testing::IsEmpty;
using Clock = std::chrono::steady_clock;

std::uint64_t TestSeed() {
  if (const char* fixed = std::getenv("QM_FAULT_SEED")) return std::stoull(fixed);
  std::random_device device;
  return (std::uint64_t{device()} << 32) | device();
}

std::string WithSeenFlag(std::string flags) {
  flags += 'S';
  std::sort(flags.begin(), flags.end());
  flags.erase(std::unique(flags.begin(), flags.end()), flags.end());
  return flags;
}

// Where each message sits in a Maildir: unique part -> "new" or "cur:FLAGS".
using MaildirState = std::map<std::string, std::string>;

MaildirState ReadMaildir(const fs::path& maildir) {
  MaildirState state;
  for (const auto& e : fs::directory_iterator(maildir / "new")) {
    state[e.path().filename().string()] = "new";
  }
  for (const auto& e : fs::directory_iterator(maildir / "cur")) {
    const std::string name = e.path().filename().string();
    const auto info = name.find(":2,");
    state[name.substr(0, info)] = "cur:" + (info == std::string::npos ? "" : name.substr(info + 3));
  }
  return state;
}

// Every path below `folder` (folders end in '/'), leaving out the subtrees
// named in `skipped` (relative to `folder`).
std::set<std::string> TreeListing(const fs::path& folder, const std::set<std::string>& skipped) {
  std::set<std::string> paths;
  for (auto it = fs::recursive_directory_iterator(folder); it != fs::recursive_directory_iterator();
       ++it) {
    const std::string relative = fs::relative(it->path(), folder).string();
    if (skipped.count(relative) != 0) {
      it.disable_recursion_pending();
      continue;
    }
    paths.insert(relative + (it->is_directory() ? "/" : ""));
  }
  return paths;
}

bool IsOneErrorLine(const std::string& err) {
  return err.rfind("quillmar: error ", 0) == 0 && std::count(err.begin(), err.end(), '\n') == 1 &&
         err.back() == '\n';
}

// The folders of one headless run below `root`, with the Maildir it scans.
// The destination and the temporary folder may be put elsewhere (onto a
// file system of their own).
class RunFolders {
 public:
  explicit RunFolders(fs::path root)
      : root_(std::move(root)), out_(root_ / "out"), tmp_(root_ / "tmp") {
    MakeRunFolders(root_);
    for (const char* sub : {"Maildir/cur", "Maildir/new", "Maildir/tmp"}) {
      fs::create_directories(root_ / sub);
    }
  }

  const fs::path& root() const { return root_; }
  const fs::path& out() const { return out_; }
  const fs::path& tmp() const { return tmp_; }
  fs::path maildir() const { return root_ / "Maildir"; }

  void MoveDestination(fs::path out) { out_ = std::move(out); }
  void MoveTemp(fs::path tmp) { tmp_ = std::move(tmp); }

  // Unread only, every message (empty keyword), end after the scan.
  void WriteSettings(std::vector<std::string> profile = {}) const {
    if (profile.empty()) profile = {"\"Store\"=" + RegText("maildir:" + maildir().string())};
    WriteSettingsFile(root_ / "config/Vantrel/Quillmar.reg", {out_.string(), "", 0, {0, 1, 1}},
                      profile);
  }

  std::unique_ptr<RunningProgram> Start() const {
    return StartHeadless(root_, {{"TMPDIR", tmp_.string()}});
  }
  ProgramResult Run() const { return Start()->Finish(); }

  // The Maildir as `source` holds it, its files linked, not copied: the
  // program renames messages but never writes into them.
  void LinkMaildirFrom(const fs::path& source) const {
    fs::remove_all(maildir());
    fs::copy(source, maildir(), fs::copy_options::recursive | fs::copy_options::create_hard_links);
  }

  std::vector<std::string> WorkFilesLeft() const {
    std::vector<std::string> left;
    for (const auto& e : fs::directory_iterator(out_)) {
      if (IsHiddenWorkFile(e.path().filename().string())) left.push_back(e.path().string());
    }
    return left;
  }

 private:
  fs::path root_;
  fs::path out_;
  fs::path tmp_;
};

// Puts a message into a mailbox, unread into new/ when `flags` is empty;
// returns the unique part of its file name.
using Deliver = std::function<std::string(const std::string& bytes, const std::string& flags)>;

Deliver IntoMaildir(fs::path maildir) {
  return [maildir = std::move(maildir), serial = 0](const std::string& bytes,
                                                    const std::string& flags) mutable {
    const std::string unique =
        std::to_string(1700000000 + serial) + ".M" + std::to_string(serial) + "P1.faulttest";
    ++serial;
    WriteFile(flags.empty() ? maildir / "new" / unique : maildir / "cur" / (unique + ":2," + flags),
              bytes);
    return unique;
  };
}

// The flags alone: a server may move unread messages from new/ to cur/.
MaildirState FlagsOnly(MaildirState state) {
  for (auto& [unique, place] : state) place = place == "new" ? "" : place.substr(4);
  return state;
}

// A corpus delivered into a mailbox, and where its messages must end up.
class DeliveredCorpus {
 public:
  DeliveredCorpus(const std::vector<CorpusMessage>& messages, const Deliver& deliver)
      : messages_(messages) {
    for (const CorpusMessage& m : messages) {
      const std::string flags = m.read ? WithSeenFlag(m.flags) : m.flags;
      const std::string unique = deliver(m.bytes, flags);
      delivered_[unique] = flags.empty() ? "new" : "cur:" + flags;
      uniques_.push_back(unique);
    }
  }

  const MaildirState& delivered() const { return delivered_; }

  // After a complete scan: the unread messages with files marked read, the
  // others as delivered.
  MaildirState Collected() const {
    MaildirState state = delivered_;
    for (std::size_t i = 0; i < uniques_.size(); ++i) {
      const CorpusMessage& m = messages_[i];
      if (!m.read && !m.attachments.empty()) state[uniques_[i]] = "cur:" + WithSeenFlag(m.flags);
    }
    return state;
  }

  // Unread messages now marked read although not all their files are in
  // the folder under final names: the marks must come after the files.
  std::vector<std::string> MarkedTooEarly(const MaildirState& now, const SavedFiles& saved) const {
    std::vector<std::string> early;
    for (std::size_t i = 0; i < uniques_.size(); ++i) {
      const CorpusMessage& m = messages_[i];
      const auto at = now.find(uniques_[i]);
      if (m.read || at == now.end() || at->second.find('S') == std::string::npos) continue;
      for (const CorpusAttachment& a : m.attachments) {
        if (!saved.Holds(a.content)) early.push_back(uniques_[i] + " without " + a.name);
      }
    }
    return early;
  }

 private:
  const std::vector<CorpusMessage>& messages_;
  std::vector<std::string> uniques_;
  MaildirState delivered_;
};

class FaultEndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    seed_ = TestSeed();
    std::cout << "[   SEED   ] " << seed_ << " (QM_FAULT_SEED=" << seed_ << " repeats it)\n";
    RecordProperty("seed", std::to_string(seed_));
  }

  // A scan that ended by itself must have done the whole job.
  static void ExpectFilesComplete(const ProgramResult& r, const RunFolders& run,
                                  const ExpectedFiles& expected) {
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_TRUE(IsSummaryOnly(r)) << r.out << r.err;
    EXPECT_THAT(FolderProblems(run.out(), expected), IsEmpty());
    EXPECT_TRUE(fs::is_empty(run.tmp())) << "temporary files left behind";
  }

  // The same for a scan of the run's own Maildir, and the marks there.
  static void ExpectComplete(const ProgramResult& r, const RunFolders& run,
                             const ExpectedFiles& expected, const DeliveredCorpus& delivered) {
    ExpectFilesComplete(r, run, expected);
    EXPECT_EQ(ReadMaildir(run.maildir()), delivered.Collected());
  }

  std::uint64_t seed_ = 0;
  TempDir temp_;
};

// --- Killed at random moments ---------------------------------------------

// About a second of scanning here, with a few hundred files to place.
constexpr CorpusShape kKilledShape = {400, 200, 2 << 20};
constexpr int kKills = 24;

TEST_F(FaultEndToEnd, KilledAtRandomMomentsLeavesWholeFilesAndTheNextRunCompletes) {
  SCOPED_TRACE("seed " + std::to_string(seed_));
  const AttachmentCorpus corpus(seed_, kKilledShape);
  const fs::path pristine = temp_ / "pristine";
  for (const char* sub : {"cur", "new", "tmp"}) fs::create_directories(pristine / sub);
  const DeliveredCorpus delivered(corpus.messages(), IntoMaildir(pristine));
  ::sync();  // the scans' flushes should not pay for writing the corpus

  // One complete run on a copy of its own tells how long a scan takes.
  Clock::duration run_length;
  {
    const RunFolders measured(temp_ / "measured");
    measured.LinkMaildirFrom(pristine);
    measured.WriteSettings();
    const Clock::time_point start = Clock::now();
    const ProgramResult r = measured.Run();
    run_length = Clock::now() - start;
    ExpectComplete(r, measured, corpus.expected(), delivered);
    fs::remove_all(measured.root());
  }
  const auto run_us = std::chrono::duration_cast<std::chrono::microseconds>(run_length).count();
  std::cout << "[   INFO   ] a full scan of " << corpus.messages().size() << " messages ("
            << corpus.attachment_bytes() / 1000000 << " MB of files) took " << run_us / 1000
            << " ms\n";

  // Kill points spread over the whole run and a little past it (later runs
  // take longer: they compare what is there already): one in each of
  // kKills slices, in shuffled order.
  std::mt19937_64 timing(seed_);
  std::vector<std::int64_t> points;
  for (int i = 0; i < kKills; ++i) {
    const double slice = std::uniform_real_distribution<double>(i, i + 1)(timing) / kKills;
    points.push_back(static_cast<std::int64_t>(slice * 1.2 * static_cast<double>(run_us)));
  }
  std::shuffle(points.begin(), points.end(), timing);

  const RunFolders run(temp_ / "run");
  run.LinkMaildirFrom(pristine);
  run.WriteSettings();
  SavedFiles saved(run.out(), corpus.expected());
  int kills = 0;
  int completed = 0;
  for (std::size_t i = 0; i < points.size() && i < 3 * kKills; ++i) {
    const ProgramResult r = run.Start()->KillAfter(std::chrono::microseconds(points[i]));
    SCOPED_TRACE("run " + std::to_string(i) + ", kill at " + std::to_string(points[i] / 1000) +
                 " ms");
    if (r.killed) {
      ++kills;
      ASSERT_THAT(saved.Look(), IsEmpty());
      ASSERT_THAT(delivered.MarkedTooEarly(ReadMaildir(run.maildir()), saved), IsEmpty());
      continue;
    }
    // Done before the kill: the job must be complete. The mailbox is made
    // unread again so that the next kills interrupt a scan with work to do;
    // the files stay, and the next runs must find them there already.
    ++completed;
    ExpectComplete(r, run, corpus.expected(), delivered);
    if (HasFailure()) return;
    run.LinkMaildirFrom(pristine);
    if (kills + static_cast<int>(points.size() - i - 1) < kKills) {
      points.push_back(std::uniform_int_distribution<std::int64_t>(0, run_us)(timing));
    }
  }
  std::cout << "[   INFO   ] " << kills << " runs killed, " << completed
            << " ended before their kill\n";
  EXPECT_GE(kills, kKills) << "too few runs were killed: the scans ended before the kill points";

  ExpectComplete(run.Run(), run, corpus.expected(), delivered);
  int numbered = 0;
  for (const auto& e : fs::directory_iterator(run.out())) {
    const std::string name = e.path().filename().string();
    numbered += AskedName(name) != name;
  }
  std::cout << "[   INFO   ] " << corpus.expected().size() << " files saved, " << numbered
            << " of them under numbered names\n";
}

// Before the scan, a probe file tells whether the destination can be
// written; it is created and removed again at once. A run killed between the
// two left it behind for ever, as its name carried no process id; now the
// next scan removes it like any hidden file of an ended run. strace kills
// the run at the probe's removal, the program's first unlink(at) call.
TEST_F(FaultEndToEnd, KilledBeforeItsWriteProbeIsRemovedLeavesNoHiddenFile) {
  constexpr char kStrace[] = "/usr/bin/strace";
  if (!fs::exists(kStrace)) QM_SKIP_OUTSIDE_CI(std::string(kStrace) + " is not installed");
  const RunFolders run(temp_ / "run");
  CorpusMessage message;
  message.attachments = {{"one.bin", "the bytes of one.bin"}};
  message.bytes = MessageWith(0, message.attachments);
  const std::vector<CorpusMessage> messages = {message};
  const DeliveredCorpus delivered(messages, IntoMaildir(run.maildir()));
  run.WriteSettings();

  const fs::path log = temp_ / "strace.log";
  RunProgram(kStrace,
             {"-f", "-o", log.string(), "-e", "trace=unlink,unlinkat", "-e",
              "inject=unlink,unlinkat:error=EINTR:signal=KILL:when=1", QM_BINARY, "-a"},
             HeadlessEnvironment(run.root()));
  ASSERT_NE(ReadFile(log).find("-probe-"), std::string::npos)
      << "the run was not killed at the probe's removal:\n"
      << ReadFile(log);

  ExpectComplete(run.Run(), run, FilesOfUnread(messages), delivered);
}

// --- The destination disk fills up ------------------------------------------

struct DiskFullCase {
  const char* name;
  std::vector<std::size_t> sizes;  // one message with one attachment each, in delivery order
  std::uint64_t disk_bytes;
  bool temp_on_that_disk;  // the program's temporary folder shares the small disk
};

void PrintTo(const DiskFullCase& c, std::ostream* os) { *os << c.name; }

class DiskFull : public FaultEndToEnd, public ::testing::WithParamInterface<DiskFullCase> {
 protected:
  std::vector<CorpusMessage> Messages() const {
    std::mt19937_64 random(seed_);
    std::vector<CorpusMessage> messages;
    for (std::size_t i = 0; i < GetParam().sizes.size(); ++i) {
      CorpusMessage m;
      const std::string tag = "#" + std::to_string(i) + "\n";
      m.attachments = {
          {"part-" + std::to_string(i) + ".bin", RandomContent(random, GetParam().sizes[i], tag)}};
      m.bytes = MessageWith(static_cast<int>(i), m.attachments);
      messages.push_back(std::move(m));
    }
    return messages;
  }
};

constexpr std::uint64_t kMiB = 1 << 20;

TEST_P(DiskFull, FailsAsDiskFullTouchesNoMessageAndTheNextRunCompletesWithRoom) {
  SCOPED_TRACE("seed " + std::to_string(seed_));
  const DiskFullCase& c = GetParam();
  RunFolders run(temp_ / "run");
  const fs::path disk = temp_ / "disk";
  fs::create_directories(disk);
  TmpfsMount mount(disk, c.disk_bytes);
  if (!mount.mounted()) {
    QM_SKIP_OUTSIDE_CI("cannot mount a tmpfs on " + disk.string() + " (" + mount.error() +
                       "): the disk-full test needs root");
  }
  run.MoveDestination(disk / "out");
  if (c.temp_on_that_disk) run.MoveTemp(disk / "tmp");
  fs::create_directories(run.out());
  fs::create_directories(run.tmp());
  const std::vector<CorpusMessage> messages = Messages();
  const ExpectedFiles expected = FilesOfUnread(messages);
  const DeliveredCorpus delivered(messages, IntoMaildir(run.maildir()));
  run.WriteSettings();

  const ProgramResult full = run.Run();
  EXPECT_EQ(full.exit_code, 6) << full.err;
  EXPECT_TRUE(IsOneErrorLine(full.err)) << full.err;
  EXPECT_NE(full.err.find("error 61:"), std::string::npos) << full.err;
  EXPECT_EQ(ReadMaildir(run.maildir()), delivered.delivered()) << "a message was touched";
  EXPECT_THAT(WrongFiles(run.out(), expected), IsEmpty());
  EXPECT_THAT(run.WorkFilesLeft(), IsEmpty());
  EXPECT_TRUE(fs::is_empty(run.tmp())) << "temporary files left behind";

  mount.Resize(64 * kMiB);
  ExpectComplete(run.Run(), run, expected, delivered);
}

INSTANTIATE_TEST_SUITE_P(
    Fault, DiskFull,
    ::testing::Values(
        DiskFullCase{"OneFileLargerThanTheDisk", {30000, 60000, 3 * kMiB, 20000}, kMiB, false},
        DiskFullCase{"FilesTogetherLargerThanTheDisk", std::vector<std::size_t>(16, 100000), kMiB,
                     false},
        DiskFullCase{"TempFolderOnTheFullDisk", {30000, 5 * kMiB, 20000}, 2 * kMiB, true}),
    [](const auto& info) { return info.param.name; });

// --- The server connection cut mid-scan -------------------------------------

struct CutCase {
  const char* name;
  bool reset;  // RST, else a plain close
};

void PrintTo(const CutCase& c, std::ostream* os) { *os << c.name; }

// Messages of a few hundred kilobytes: the bodies are most of the traffic.
constexpr CorpusShape kImapShape = {40, 2000, 400000};

// One Dovecot for the suite; every test starts from an empty mailbox.
class ConnectionCut : public FaultEndToEnd, public ::testing::WithParamInterface<CutCase> {
 protected:
  static void SetUpTestSuite() {
    if (DovecotServer::Installed()) server_ = new DovecotServer();
  }
  static void TearDownTestSuite() {
    delete server_;
    server_ = nullptr;
  }

  void SetUp() override {
    FaultEndToEnd::SetUp();
    if (server_ == nullptr) {
      QM_SKIP_OUTSIDE_CI(DovecotServer::NotInstalled());
    }
    for (const char* sub : {"cur", "new"}) {
      for (const auto& e : fs::directory_iterator(server_->maildir() / sub)) fs::remove(e.path());
    }
  }

  // The mail profile for the server behind `port` (TLS from the first byte).
  static std::vector<std::string> Profile(int port) {
    const std::string store = "imaps://" + std::string(DovecotServer::kUser) +
                              "@localhost:" + std::to_string(port) + "/INBOX";
    return {"\"Store\"=" + RegText(store), "\"Password\"=" + RegText(DovecotServer::kPassword),
            "\"CAFile\"=" + RegText(server_->certificate().string())};
  }

  static Deliver ToServer() {
    return [](const std::string& bytes, const std::string& flags) {
      return server_->Deliver(bytes, flags);
    };
  }

  static DovecotServer* server_;
};

DovecotServer* ConnectionCut::server_ = nullptr;

TEST_P(ConnectionCut, WhileBodiesAreFetchedFailsMarksNothingAndTheNextRunCompletes) {
  SCOPED_TRACE("seed " + std::to_string(seed_));
  const AttachmentCorpus corpus(seed_, kImapShape);
  const DeliveredCorpus delivered(corpus.messages(), ToServer());
  // The scan fetches the body of every unread message.
  std::uint64_t unread_bytes = 0;
  for (const CorpusMessage& m : corpus.messages()) unread_bytes += m.read ? 0 : m.bytes.size();
  const RunFolders run(temp_ / "run");
  {
    // Half of those bytes: far past the listing of a few bytes per message,
    // and far from the last body.
    TcpRelay relay(server_->tls_port(), {unread_bytes / 2, GetParam().reset});
    run.WriteSettings(Profile(relay.port()));
    const ProgramResult cut = run.Run();
    ASSERT_TRUE(relay.cut()) << "the scan ended before the relay cut its connection: " << cut.err;
    EXPECT_EQ(cut.exit_code, 5) << cut.err;
    EXPECT_TRUE(IsOneErrorLine(cut.err)) << cut.err;
  }
  EXPECT_EQ(FlagsOnly(ReadMaildir(server_->maildir())), FlagsOnly(delivered.delivered()))
      << "a message was marked on the server";
  EXPECT_THAT(WrongFiles(run.out(), corpus.expected()), IsEmpty());
  EXPECT_THAT(run.WorkFilesLeft(), IsEmpty());
  EXPECT_TRUE(fs::is_empty(run.tmp())) << "temporary files left behind";

  // The next run, through a relay that passes everything.
  TcpRelay relay(server_->tls_port());
  run.WriteSettings(Profile(relay.port()));
  ExpectFilesComplete(run.Run(), run, corpus.expected());
  EXPECT_EQ(FlagsOnly(ReadMaildir(server_->maildir())), FlagsOnly(delivered.Collected()));
  EXPECT_EQ(relay.connections(), 1) << "the run did not go through the relay";
}

INSTANTIATE_TEST_SUITE_P(Fault, ConnectionCut,
                         ::testing::Values(CutCase{"Reset", true}, CutCase{"Closed", false}),
                         [](const auto& info) { return info.param.name; });

// --- The destination folder removed mid-scan --------------------------------

// The state letter of each of a process's threads ("R", "S", "T", "Z"...);
// empty once the process is gone.
std::string ThreadStates(pid_t pid) {
  std::string states;
  std::error_code error;
  for (const auto& task : fs::directory_iterator("/proc/" + std::to_string(pid) + "/task", error)) {
    // One line of a few hundred bytes (the thread's name is at most 16).
    const std::string stat = ReadRegularFile(task.path() / "stat", 4096, FinalLink::kRefuse).bytes;
    const auto name_end = stat.rfind(')');
    if (name_end != std::string::npos && name_end + 2 < stat.size()) states += stat[name_end + 2];
  }
  return states;
}

// Stops a running program (SIGSTOP) until this goes out of scope, and waits
// until every one of its threads has stopped. ended_first(): it had exited
// (or was exiting) before the stop took hold.
class HeldStill {
 public:
  explicit HeldStill(pid_t pid) : pid_(pid) {
    ::kill(pid_, SIGSTOP);
    const auto deadline = Clock::now() + std::chrono::seconds(10);
    for (;;) {
      const std::string states = ThreadStates(pid_);
      if (states.empty() || states.find_first_of("ZX") != std::string::npos) {
        ended_first_ = true;
        return;
      }
      if (states.find_first_not_of("Tt") == std::string::npos) return;
      if (Clock::now() > deadline) throw std::runtime_error("the program did not stop: " + states);
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }
  ~HeldStill() { ::kill(pid_, SIGCONT); }
  HeldStill(const HeldStill&) = delete;
  HeldStill& operator=(const HeldStill&) = delete;

  bool ended_first() const { return ended_first_; }

 private:
  pid_t pid_;
  bool ended_first_ = false;
};

// Many small messages: the first batch of files gets its names early (at 256
// files or half a second), and the scan goes on for some three times as long
// after it (large messages would fill the first batch near the end instead).
constexpr CorpusShape kRemovedShape = {1000, 200, 128 << 10};

class DestinationRemovedFault : public FaultEndToEnd {
 protected:
  // A file under its final name: the scan is surely under way (the hidden
  // probes made before it are not).
  static bool HasSavedAFile(const fs::path& out) {
    for (const auto& e : fs::directory_iterator(out)) {
      if (e.path().filename().string()[0] != '.') return true;
    }
    return false;
  }

  // Starts a scan, `remove`s its destination folder as soon as the first
  // file shows there, and checks that the run fails clearly, marks nothing
  // and writes nowhere else below the run's root: not outside the removed
  // folder (`gone`, relative to the root, where it went), and nothing left
  // in the temporary folder.
  void ExpectClearFailure(const std::function<void(const fs::path&)>& remove,
                          const std::string& gone) {
    SCOPED_TRACE("seed " + std::to_string(seed_));
    const AttachmentCorpus corpus(seed_, kRemovedShape);
    const RunFolders run(temp_ / "run");
    const DeliveredCorpus delivered(corpus.messages(), IntoMaildir(run.maildir()));
    run.WriteSettings();
    // The marks are checked on their own; the scan's lock file and the run
    // log (under home/.local/state) stay.
    const std::set<std::string> skipped = {
        "out", "tmp", "Maildir", "config/Vantrel/Quillmar.lock", "home/.local", gone};
    const std::set<std::string> before = TreeListing(run.root(), skipped);

    const std::unique_ptr<RunningProgram> program = run.Start();
    WaitForChange(
        run.out(), [&] { return HasSavedAFile(run.out()); }, std::chrono::seconds(60));
    ASSERT_TRUE(HasSavedAFile(run.out())) << "no file was saved within a minute";
    {
      // Held still while the folder goes, so that it cannot finish its last
      // check in the middle of a removal that takes many steps.
      const HeldStill held(program->pid());
      ASSERT_FALSE(held.ended_first()) << "the scan ended before it could be held still";
      remove(run.out());
    }
    const ProgramResult r = program->Finish();

    EXPECT_NE(r.exit_code, 0) << "the scan ended well although its folder went away";
    EXPECT_TRUE(IsOneErrorLine(r.err)) << r.err;
    EXPECT_EQ(ReadMaildir(run.maildir()), delivered.delivered()) << "a message was marked read";
    EXPECT_TRUE(fs::is_empty(run.tmp())) << "temporary files left behind";
    EXPECT_EQ(TreeListing(run.root(), skipped), before) << "files were written elsewhere";
  }
};

TEST_F(DestinationRemovedFault, DeletedWhileTheScanRunsFailsClearlyAndMarksNothing) {
  ExpectClearFailure(
      [](const fs::path& out) {
        // The scan may put new files in while the folder is being deleted.
        std::error_code error;
        for (int attempt = 0; attempt < 1000 && fs::exists(out); ++attempt) {
          fs::remove_all(out, error);
        }
        ASSERT_FALSE(fs::exists(out)) << "cannot delete " << out << ": " << error.message();
      },
      "");
}

// A folder renamed during the scan kept receiving the files under its new
// name, and the run ended with exit 0 and marked every message read, as
// though the files were where the settings say.
TEST_F(DestinationRemovedFault, RenamedWhileTheScanRunsFailsClearlyAndMarksNothing) {
  ExpectClearFailure(
      [](const fs::path& out) { fs::rename(out, out.parent_path() / "renamed-away"); },
      "renamed-away");
}

// --- Two unattended runs at once ---------------------------------------------

// Names shared between messages, some with the same bytes: both runs try the
// same numbered names and find the same copies.
constexpr CorpusShape kOverlapShape = {120, 200, 256 << 10};
constexpr int kOverlapRounds = 5;

class OverlappingRunsFault : public FaultEndToEnd {};

TEST_F(OverlappingRunsFault, TwoRunsStartedAtOnceSaveEveryFileOnceAndMarkRight) {
  for (int round = 0; round < kOverlapRounds; ++round) {
    const std::uint64_t seed = seed_ + static_cast<std::uint64_t>(round);
    SCOPED_TRACE("round " + std::to_string(round) + ", corpus seed " + std::to_string(seed));
    const AttachmentCorpus corpus(seed, kOverlapShape);
    const RunFolders run(temp_ / ("round-" + std::to_string(round)));
    const DeliveredCorpus delivered(corpus.messages(), IntoMaildir(run.maildir()));
    run.WriteSettings();

    const std::unique_ptr<RunningProgram> first = run.Start();
    const std::unique_ptr<RunningProgram> second = run.Start();
    const ProgramResult results[] = {first->Finish(), second->Finish()};
    int failed = 0;
    for (const ProgramResult& r : results) {
      if (r.exit_code == 0) {
        EXPECT_TRUE(IsSummaryOnly(r)) << r.out << r.err;
        continue;
      }
      ++failed;
      std::cout << "[   INFO   ] round " << round << ": one run failed: " << r.err;
      EXPECT_TRUE(IsOneErrorLine(r.err)) << "exit code " << r.exit_code << ": " << r.err;
    }
    EXPECT_LE(failed, 1) << "both runs failed";
    EXPECT_THAT(FolderProblems(run.out(), corpus.expected()), IsEmpty());
    EXPECT_EQ(ReadMaildir(run.maildir()), delivered.Collected());
    EXPECT_TRUE(fs::is_empty(run.tmp())) << "temporary files left behind";
    if (HasFailure()) return;
    fs::remove_all(run.root());
  }
}

}  // namespace
}  // namespace qm
