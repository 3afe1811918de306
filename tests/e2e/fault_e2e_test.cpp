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
#include <iostream>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "tests/e2e/AttachmentCorpus.h"
#include "tests/e2e/EndToEnd.h"
#include "tests/support/CiSkip.h"
#include "tests/support/DovecotServer.h"
#include "tests/support/TcpRelay.h"
#include "tests/support/TempDir.h"
#include "tests/support/TmpfsMount.h"

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

// Unread only, every message (empty keyword), end after the scan.
StoredSettings UnreadOnlySettings(const fs::path& out) { return {out.string(), "", 0, {0, 1, 1}}; }

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

// The folders of one headless run below `root`, with the Maildir it scans.
class RunFolders {
 public:
  explicit RunFolders(fs::path root) : root_(std::move(root)) {
    MakeRunFolders(root_);
    for (const char* sub : {"Maildir/cur", "Maildir/new", "Maildir/tmp"}) {
      fs::create_directories(root_ / sub);
    }
  }

  const fs::path& root() const { return root_; }
  fs::path out() const { return root_ / "out"; }
  fs::path tmp() const { return root_ / "tmp"; }
  fs::path maildir() const { return root_ / "Maildir"; }

  void WriteSettings(const StoredSettings& settings, std::vector<std::string> profile = {}) const {
    if (profile.empty()) profile = {"\"Store\"=" + RegText("maildir:" + maildir().string())};
    WriteSettingsFile(root_ / "config/Vantrel/Quillmar.reg", settings, profile);
  }

  // The Maildir as `source` holds it, its files linked, not copied: the
  // program renames messages but never writes into them.
  void LinkMaildirFrom(const fs::path& source) const {
    fs::remove_all(maildir());
    fs::copy(source, maildir(), fs::copy_options::recursive | fs::copy_options::create_hard_links);
  }

  std::vector<std::string> WorkFilesLeft() const {
    std::vector<std::string> left;
    for (const auto& e : fs::directory_iterator(out())) {
      if (IsHiddenWorkFile(e.path().filename().string())) left.push_back(e.path().string());
    }
    return left;
  }

 private:
  fs::path root_;
};

// A corpus delivered into a Maildir, and where its messages must end up.
class DeliveredCorpus {
 public:
  DeliveredCorpus(const AttachmentCorpus& corpus, const fs::path& maildir) : corpus_(corpus) {
    for (const CorpusMessage& m : corpus.messages()) {
      const std::string unique = std::to_string(1700000000 + uniques_.size()) + ".M" +
                                 std::to_string(uniques_.size()) + "P1.faulttest";
      const std::string flags = m.read ? WithSeenFlag(m.flags) : m.flags;
      const fs::path file =
          flags.empty() ? maildir / "new" / unique : maildir / "cur" / (unique + ":2," + flags);
      WriteFile(file, m.bytes);
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
      const CorpusMessage& m = corpus_.messages()[i];
      if (!m.read && !m.attachments.empty()) state[uniques_[i]] = "cur:" + WithSeenFlag(m.flags);
    }
    return state;
  }

  // Unread messages now marked read although not all their files are in
  // the folder under final names: the marks must come after the files.
  std::vector<std::string> MarkedTooEarly(const MaildirState& now, const SavedFiles& saved) const {
    std::vector<std::string> early;
    for (std::size_t i = 0; i < uniques_.size(); ++i) {
      const CorpusMessage& m = corpus_.messages()[i];
      const auto at = now.find(uniques_[i]);
      if (m.read || at == now.end() || at->second.find('S') == std::string::npos) continue;
      for (const CorpusAttachment& a : m.attachments) {
        if (!saved.Holds(a.content)) early.push_back(uniques_[i] + " without " + a.name);
      }
    }
    return early;
  }

 private:
  const AttachmentCorpus& corpus_;
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
  static void ExpectComplete(const ProgramResult& r, const RunFolders& run,
                             const AttachmentCorpus& corpus, const DeliveredCorpus& delivered) {
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(r.out + r.err, "");
    EXPECT_THAT(FolderProblems(run.out(), corpus.expected()), IsEmpty());
    EXPECT_EQ(ReadMaildir(run.maildir()), delivered.Collected());
    EXPECT_TRUE(fs::is_empty(run.tmp())) << "temporary files left behind";
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
  const DeliveredCorpus delivered(corpus, pristine);
  ::sync();  // the scans' flushes should not pay for writing the corpus

  // One complete run on a copy of its own tells how long a scan takes.
  Clock::duration run_length;
  {
    const RunFolders measured(temp_ / "measured");
    measured.LinkMaildirFrom(pristine);
    measured.WriteSettings(UnreadOnlySettings(measured.out()));
    const Clock::time_point start = Clock::now();
    const ProgramResult r = StartHeadless(measured.root())->Finish();
    run_length = Clock::now() - start;
    ExpectComplete(r, measured, corpus, delivered);
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
  run.WriteSettings(UnreadOnlySettings(run.out()));
  SavedFiles saved(run.out(), corpus.expected());
  int kills = 0;
  int completed = 0;
  for (std::size_t i = 0; i < points.size() && i < 3 * kKills; ++i) {
    const ProgramResult r =
        StartHeadless(run.root())->KillAfter(std::chrono::microseconds(points[i]));
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
    ExpectComplete(r, run, corpus, delivered);
    if (HasFailure()) return;
    run.LinkMaildirFrom(pristine);
    if (kills + static_cast<int>(points.size() - i - 1) < kKills) {
      points.push_back(std::uniform_int_distribution<std::int64_t>(0, run_us)(timing));
    }
  }
  std::cout << "[   INFO   ] " << kills << " runs killed, " << completed
            << " ended before their kill\n";
  EXPECT_GE(kills, kKills) << "too few runs were killed: the scans ended before the kill points";

  ExpectComplete(RunHeadless(run.root()), run, corpus, delivered);
  int numbered = 0;
  for (const auto& e : fs::directory_iterator(run.out())) {
    const std::string name = e.path().filename().string();
    numbered += AskedName(name) != name;
  }
  std::cout << "[   INFO   ] " << corpus.expected().size() << " files saved, " << numbered
            << " of them under numbered names\n";
}

}  // namespace
}  // namespace qm
