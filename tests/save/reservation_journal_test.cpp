#include "save/ReservationJournal.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <string>

#include "tests/support/EndedProcess.h"
#include "tests/support/FileBytes.h"
#include "tests/support/TempDir.h"

namespace qm {
namespace {

namespace fs = std::filesystem;
using testing::TempDir;

constexpr char kPrefix[] = ".quillmar-";
const RunNames kRuns = RunNames::OfThisRun(kPrefix);

// Folder entries: name -> content, or "<folder>".
using Listing = std::map<std::string, std::string>;

Listing ListFolder(const fs::path& folder) {
  Listing files;
  for (const auto& entry : fs::directory_iterator(folder)) {
    files[entry.path().filename().string()] =
        entry.is_directory() ? "<folder>" : testing::ReadFile(entry.path());
  }
  return files;
}

void Put(const fs::path& path, const std::string& content) {
  if (content == "<folder>") {
    fs::create_directory(path);
  } else {
    std::ofstream(path, std::ios::binary) << content;
  }
}

TEST(ReservationJournal, ReservesANameOnlyWhenFreeAndWritesItDownFirst) {
  TempDir folder;
  const UniqueFd dir(::open(folder.path().c_str(), O_RDONLY | O_DIRECTORY));
  const std::string name = ReservationJournal::NameFor(kRuns);
  {
    ReservationJournal journal(dir.get(), name);
    EXPECT_FALSE(fs::exists(folder / name)) << "made before it was needed";
    EXPECT_EQ(journal.Reserve("a b.pdf"), 0);
    EXPECT_EQ(journal.Reserve("a b.pdf"), EEXIST);
    EXPECT_EQ(journal.Reserve("missing/x"), ENOENT);
    EXPECT_EQ(
        ListFolder(folder.path()),
        (Listing{{"a b.pdf", ""},
                 {name, "+7 a b.pdf\n+7 a b.pdf\n-7 a b.pdf\n+9 missing/x\n-9 missing/x\n"}}));
    journal.Clear();
    EXPECT_EQ(testing::ReadFile(folder / name), "");
  }
  EXPECT_EQ(ListFolder(folder.path()), (Listing{{"a b.pdf", ""}}));
}

TEST(ReservationJournal, RemovesOnlyReservationsThatEndedRunsLeftEmpty) {
  struct Case {
    const char* name;
    std::string journal;
    Listing before;
    Listing after;  // besides the journal, which goes
  };
  const Case cases[] = {
      {"left empty", "+5 a.pdf\n", {{"a.pdf", ""}}, {}},
      {"placed", "+5 a.pdf\n", {{"a.pdf", "bytes"}}, {{"a.pdf", "bytes"}}},
      {"never created", "+5 a.pdf\n", {}, {}},
      {"taken by someone else",
       "+5 a.pdf\n-5 a.pdf\n+9 a (2).pdf\n",
       {{"a.pdf", ""}, {"a (2).pdf", ""}},
       {{"a.pdf", ""}}},
      {"a folder of that name", "+5 a.pdf\n", {{"a.pdf", "<folder>"}}, {{"a.pdf", "<folder>"}}},
      // A folder's reservation (an unpacked archive's folder): removed only
      // while empty, and only a folder.
      {"folder left empty", "/3 見\n", {{"見", "<folder>"}}, {}},
      {"folder placed", "/3 見\n", {{"見", "<folder>"}, {"見/a.txt", "x"}}, {{"見", "<folder>"}}},
      {"folder taken by someone else",
       "/3 見\n-3 見\n",
       {{"見", "<folder>"}},
       {{"見", "<folder>"}}},
      {"a file where the folder was", "/5 a.pdf\n", {{"a.pdf", ""}}, {{"a.pdf", ""}}},
      {"name with a line break", "+3 a\nb\n", {{"a\nb", ""}, {"a", ""}}, {{"a", ""}}},
      {"damaged tail", "+5 a.pdf\n+5 b.p", {{"a.pdf", ""}, {"b.pdf", ""}}, {{"b.pdf", ""}}},
      {"length beyond the end", "+99 a.pdf\n", {{"a.pdf", ""}}, {{"a.pdf", ""}}},
      {"not a number", "+x a.pdf\n", {{"a.pdf", ""}}, {{"a.pdf", ""}}},
      {"empty", "", {{"a.pdf", ""}}, {{"a.pdf", ""}}},
      // Read in pieces: entries, and an entry and the one giving it up, lie
      // across the pieces' ends.
      {"longer than a piece",
       [] {
         std::string text;
         for (int i = 0; i < 4000; ++i) text += "+9 other.pdf\n-9 other.pdf\n";
         return text + "+5 a.pdf\n";
       }(),
       {{"a.pdf", ""}, {"other.pdf", ""}},
       {{"other.pdf", ""}}},
  };
  const std::string dead = std::to_string(testing::PidOfEndedProcess());
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir folder;
    for (const auto& [name, content] : c.before) Put(folder / name, content);
    Put(folder / (kPrefix + dead + "-journal"), c.journal);
    const UniqueFd dir(::open(folder.path().c_str(), O_RDONLY | O_DIRECTORY));
    ReservationJournal::RemoveAbandoned(dir.get(), kRuns, ::geteuid());
    EXPECT_EQ(ListFolder(folder.path()), c.after);
  }
}

// Whoever can put a file into the folder can plant a journal: names in it
// that lead out of the folder are never followed, whatever they say.
TEST(ReservationJournal, NamesLeadingOutOfItsFolderAreNeverFollowed) {
  TempDir root;
  const fs::path folder = root / "dest";
  fs::create_directories(folder / "sub");
  Put(root / "outside", "");
  const std::string dead = std::to_string(testing::PidOfEndedProcess());
  for (const std::string& name :
       {std::string("../outside"), (root / "outside").string(), std::string("sub/../../outside"),
        std::string("sub/../../dest/../outside"), std::string("..")}) {
    SCOPED_TRACE(name);
    Put(folder / (kPrefix + dead + "-journal"),
        "+" + std::to_string(name.size()) + " " + name + "\n");
    const UniqueFd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY));
    ReservationJournal::RemoveAbandoned(dir.get(), kRuns, ::geteuid());
    EXPECT_TRUE(fs::exists(root / "outside"));
    EXPECT_EQ(ListFolder(folder), (Listing{{"sub", "<folder>"}}));
  }
}

TEST(ReservationJournal, LeavesTheJournalsOfRunningRunsAlone) {
  TempDir folder;
  // Of a run of this host and boot whose process still runs: the parent's.
  std::string journal = ReservationJournal::NameFor(kRuns);
  const std::string own_pid = "-" + std::to_string(::getpid()) + "-";
  journal.replace(journal.find(own_pid), own_pid.size(), "-" + std::to_string(::getppid()) + "-");
  const Listing files = {{journal, "+5 a.pdf\n"}, {"a.pdf", ""}};
  for (const auto& [name, content] : files) Put(folder / name, content);
  const UniqueFd dir(::open(folder.path().c_str(), O_RDONLY | O_DIRECTORY));
  ReservationJournal::RemoveAbandoned(dir.get(), kRuns, ::geteuid());
  EXPECT_EQ(ListFolder(folder.path()), files);
}

}  // namespace
}  // namespace qm
