#include "save/DestinationFolder.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "base/Failure.h"
#include "base/FileSystem.h"
#include "save/DestinationFile.h"
#include "save/EndedRun.h"
#include "tests/save/WorkFolderFiles.h"
#include "tests/support/FailureKindOf.h"
#include "tests/support/FileBytes.h"
#include "tests/support/TempDir.h"

namespace qm {
namespace {

namespace fs = std::filesystem;
using testing::AddAll;
using testing::Files;
using testing::InWorkFolder;
using testing::KindOf;
using testing::ListFolder;
using testing::Listing;
using testing::OwnWorkFolder;
using testing::ReadFile;
using testing::Saved;
using testing::TempDir;
using testing::WriteFile;
using testing::WrittenInWorkFolder;

// ---- names: never replacing, no duplicates -------------------------------------

struct SaveCase {
  const char* label;
  Listing before;  // files in the folder beforehand
  Files adds;
  Listing after;
};

void PrintTo(const SaveCase& c, std::ostream* out) { *out << c.label; }

class SavedNames : public ::testing::TestWithParam<SaveCase> {};

TEST_P(SavedNames, NeverReplaceAFileNorDuplicateOne) {
  const SaveCase& c = GetParam();
  TempDir root;
  const fs::path folder = root / "dest";
  fs::create_directory(folder);
  for (const auto& [name, content] : c.before) {
    if (content == "<folder>") {
      fs::create_directory(folder / name);
    } else {
      WriteFile(folder / name, content);
    }
  }

  DestinationFolder destination(folder.string());
  AddAll(destination, c.adds);
  destination.Commit();
  EXPECT_EQ(Saved(folder), c.after);
}

INSTANTIATE_TEST_SUITE_P(
    Collisions, SavedNames,
    ::testing::Values(
        SaveCase{"FreshName", {}, {{"a.pdf", "A"}}, {{"a.pdf", "A"}}},
        SaveCase{
            "SameContentGivesNoDuplicate", {{"a.pdf", "A"}}, {{"a.pdf", "A"}}, {{"a.pdf", "A"}}},
        SaveCase{"DifferentContentIsNumbered",
                 {{"a.pdf", "old"}},
                 {{"a.pdf", "new"}},
                 {{"a.pdf", "old"}, {"a (2).pdf", "new"}}},
        SaveCase{"NextFreeNumber",
                 {{"a.pdf", "1"}, {"a (2).pdf", "2"}},
                 {{"a.pdf", "3"}},
                 {{"a.pdf", "1"}, {"a (2).pdf", "2"}, {"a (3).pdf", "3"}}},
        SaveCase{"SameContentUnderANumberedName",
                 {{"a.pdf", "1"}, {"a (2).pdf", "2"}},
                 {{"a.pdf", "2"}},
                 {{"a.pdf", "1"}, {"a (2).pdf", "2"}}},
        SaveCase{"EmptyFile", {}, {{"empty", ""}}, {{"empty", ""}}},
        SaveCase{"ShorterContentIsDifferent",
                 {{"x", "abc"}},
                 {{"x", "ab"}},
                 {{"x", "abc"}, {"x (2)", "ab"}}},
        SaveCase{"SameSizeDifferentBytes",
                 {{"x", "abc"}},
                 {{"x", "abd"}},
                 {{"x", "abc"}, {"x (2)", "abd"}}},
        SaveCase{"FolderOfTheSameNameIsKept",
                 {{"a.pdf", "<folder>"}},
                 {{"a.pdf", "A"}},
                 {{"a.pdf", "<folder>"}, {"a (2).pdf", "A"}}},
        // Within one batch the files are placed in the order they were added,
        // and a name seen once is not probed from the start again.
        SaveCase{"ManyOfOneName",
                 {{"a (2).pdf", "user's"}},
                 {{"a.pdf", "1"},
                  {"a.pdf", "2"},
                  {"a.pdf", "1"},
                  {"a.pdf", "user's"},
                  {"a.pdf", "3"},
                  {"a.pdf", "2"}},
                 {{"a.pdf", "1"}, {"a (2).pdf", "user's"}, {"a (3).pdf", "2"}, {"a (4).pdf", "3"}}},
        SaveCase{"NamesDoNotMix",
                 {},
                 {{"a.pdf", "1"}, {"b.pdf", "1"}, {"a.pdf", "2"}, {"b.pdf", "2"}},
                 {{"a.pdf", "1"}, {"a (2).pdf", "2"}, {"b.pdf", "1"}, {"b (2).pdf", "2"}}}),
    [](const auto& info) { return std::string(info.param.label); });

TEST(DestinationFolder, FolderOfTheSameNameIsNotReplaced) {
  TempDir root;
  fs::create_directories(root / "dest" / "a.pdf");
  DestinationFolder destination((root / "dest").string());
  AddAll(destination, {{"a.pdf", "A"}});
  destination.Commit();
  EXPECT_TRUE(fs::is_directory(root / "dest" / "a.pdf"));
  EXPECT_EQ(ReadFile(root / "dest" / "a (2).pdf"), "A");
}

// A file the user puts under a free name while the batch waits is not replaced.
TEST(DestinationFolder, NameTakenWhileWaitingIsNotReplaced) {
  TempDir root;
  const fs::path folder = root / "dest";
  fs::create_directory(folder);
  DestinationFolder destination(folder.string());
  AddAll(destination, {{"a.pdf", "first"}});  // one file: it waits
  WriteFile(folder / "a.pdf", "user's");
  destination.Commit();
  EXPECT_EQ(Saved(folder), (Listing{{"a.pdf", "user's"}, {"a (2).pdf", "first"}}));
}

// ---- refusals --------------------------------------------------------------------

// What is in the work folder under the name of the file written there.
enum class Source { kGone, kFile, kFolder };

struct RefusedCase {
  const char* label;
  std::string name;
  Source source;
  std::string folder;  // relative to the test's root; empty: not set
  FailureKind kind;
};

void PrintTo(const RefusedCase& c, std::ostream* out) { *out << c.label; }

class Refusals : public ::testing::TestWithParam<RefusedCase> {};

TEST_P(Refusals, FailAndLeaveEverythingAsItWas) {
  const RefusedCase& c = GetParam();
  TempDir root;
  fs::create_directory(root / "dest");
  WriteFile(root / "plain", "I am a file");
  const Listing before = Saved(root.path());

  const std::string folder = c.folder.empty() ? std::string() : (root / c.folder).string();
  EXPECT_EQ(KindOf([&] {
              DestinationFolder destination(folder);
              const WrittenFile file = WrittenInWorkFolder(destination, "a.pdf", "content");
              const fs::path written = destination.work_folder_path() / file.name;
              if (c.source != Source::kFile) fs::remove(written);
              if (c.source == Source::kFolder) fs::create_directories(written / "inside");
              destination.Add(file, c.name);
              destination.Commit();
            }),
            c.kind);
  EXPECT_EQ(Saved(root.path()), before);
  EXPECT_TRUE(fs::is_empty(root / "dest"));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Refusals,
    ::testing::Values(
        RefusedCase{"WrittenFileGone", "a.pdf", Source::kGone, "dest", FailureKind::FileWrite},
        RefusedCase{"WrittenFileNowAFolder", "a.pdf", Source::kFolder, "dest",
                    FailureKind::FileWrite},
        RefusedCase{"FolderMissing", "a.pdf", Source::kFile, "nowhere", FailureKind::Destination},
        RefusedCase{"FolderIsAFile", "a.pdf", Source::kFile, "plain", FailureKind::Destination},
        RefusedCase{"FolderUnderAFile", "a.pdf", Source::kFile, "plain/sub",
                    FailureKind::Destination},
        RefusedCase{"FolderNotSet", "a.pdf", Source::kFile, "", FailureKind::Destination},
        RefusedCase{"EmptyName", "", Source::kFile, "dest", FailureKind::FileWrite},
        RefusedCase{"Dot", ".", Source::kFile, "dest", FailureKind::FileWrite},
        RefusedCase{"DotDot", "..", Source::kFile, "dest", FailureKind::FileWrite},
        RefusedCase{"Separator", "sub/a.pdf", Source::kFile, "dest", FailureKind::FileWrite},
        RefusedCase{"Absolute", "/tmp/a.pdf", Source::kFile, "dest", FailureKind::FileWrite},
        RefusedCase{"Climbing", "../plain", Source::kFile, "dest", FailureKind::FileWrite}),
    [](const auto& info) { return std::string(info.param.label); });

// Past the last number one file is given up, not the scan: it is listed with
// its message and removed; the files after it are placed, and a copy of a
// file already there is still dropped as a copy.
TEST(DestinationFolder, FileWithNoFreeNameIsListedAndTheRestArePlaced) {
  constexpr int kLastNumber = 20;
  TempDir root;
  const fs::path folder = root / "dest";
  fs::create_directory(folder);
  Listing before;
  for (int n = 1; n <= kLastNumber; ++n) before[CandidateName("a", n)] = "taken";
  for (const auto& [name, content] : before) WriteFile(folder / name, content);
  std::vector<UnplacedFile> unplaced;
  {
    DestinationFolder destination(folder.string(), nullptr, kLastNumber);
    const Files adds = {{"a", "new"}, {"b", "B"}, {"a", "taken"}};
    for (std::size_t i = 0; i < adds.size(); ++i) {
      const auto& [name, content] = adds[i];
      destination.Add(WrittenInWorkFolder(destination, name, content), name,
                      static_cast<std::int64_t>(7 + i));
    }
    destination.Commit();
    unplaced = destination.unplaced();
  }
  ASSERT_EQ(unplaced.size(), 1u);
  EXPECT_EQ(unplaced[0].message, 7);
  EXPECT_EQ(unplaced[0].name, "a");
  Listing after = before;
  after["b"] = "B";
  EXPECT_EQ(ListFolder(folder), after);
}

// A file of the work folder is taken over only while it is still the one
// that was written: one put under its name since is refused.
TEST(DestinationFolder, WrittenFileReplacedBeforeItIsAddedIsRefused) {
  TempDir root;
  const fs::path folder = root / "dest";
  fs::create_directory(folder);
  {
    DestinationFolder destination(folder.string());
    const int work = destination.work_folder().fd();
    const NewFile file = CreateFreshFile(work, "a.pdf");
    // Moved aside, not removed: a file system may give a new file the number
    // of one just removed.
    ASSERT_EQ(qm::fs::RenameNoReplace(work, "a.pdf", work, "aside.pdf"), 0);
    const UniqueFd other(qm::fs::CreateExclusive(work, "a.pdf", 0644));
    ASSERT_TRUE(other.valid());
    EXPECT_EQ(KindOf([&] {
                destination.Add(WrittenFile{file.name, file.identity}, "a.pdf");
              }),
              FailureKind::FileWrite);
    destination.Commit();
  }
  EXPECT_EQ(ListFolder(folder), Listing{});
}

// ---- waiting files and what runs leave behind ---------------------------------------

// A scan that fails before its commit still leaves the files it took over
// under their names, and nothing hidden.
TEST(DestinationFolder, FilesWaitingWhenTheScanEndsEarlyArePlaced) {
  TempDir root;
  const fs::path folder = root / "dest";
  fs::create_directory(folder);
  {
    DestinationFolder destination(folder.string());
    AddAll(destination, {{"a.pdf", "1"}, {"b.pdf", "2"}, {"a.pdf", "3"}});
  }
  EXPECT_EQ(Saved(folder), (Listing{{"a.pdf", "1"}, {"a (2).pdf", "3"}, {"b.pdf", "2"}}));
}

// Enough files for several batches: some are placed while others still come
// in, and the order in which they came decides the numbers.
TEST(DestinationFolder, ManyFilesKeepTheirOrderAcrossBatches) {
  TempDir root;
  const fs::path folder = root / "dest";
  fs::create_directory(folder);
  Files adds;
  for (int i = 0; i < 1200; ++i)
    adds.push_back({i % 2 == 0 ? "even.txt" : "odd.txt", std::to_string(i)});
  {
    DestinationFolder destination(folder.string());
    AddAll(destination, adds);
  }  // not committed: what was handed over is still placed
  const Listing files = Saved(folder);
  ASSERT_EQ(files.size(), adds.size());
  EXPECT_EQ(files.at("even.txt"), "0");
  EXPECT_EQ(files.at("odd (2).txt"), "3");
  EXPECT_EQ(files.at("even (600).txt"), "1198");
}

// A process of this pid before this one (pids come round again) may have
// been killed while saving here: what it left is cleaned up, and its names
// do not stop this run from making its own.
TEST(DestinationFolder, LeftoversOfAnEarlierProcessOfThisPidAreCleanedUp) {
  TempDir root;
  const fs::path folder = root / "dest";
  fs::create_directory(folder);
  const std::string own = RunNames::OfThisRun(".quillmar-").Prefix();
  fs::create_directories(folder / (own + "work") / "1");
  WriteFile(folder / (own + "work") / "1" / "a.pdf", "half written");
  WriteFile(folder / (own + "abcdefgh"), "waiting for its name");
  WriteFile(folder / (own + "journal"), "");
  WriteFile(folder / "report.pdf", "the user's");
  {
    DestinationFolder destination(folder.string());
    EXPECT_EQ(ListFolder(folder),
              (Listing{{"report.pdf", "the user's"}, {OwnWorkFolder(), "<folder>"}}));
  }
  EXPECT_EQ(ListFolder(folder), (Listing{{"report.pdf", "the user's"}}));
}

// A file whose writer has written "ab" so far and writes "cdef" when the
// folder waits for it, as the background writer would finish it.
class FileBeingWritten {
 public:
  explicit FileBeingWritten(const fs::path& path)
      : fd_(qm::fs::CreateExclusive(qm::fs::kNoFolder, qm::fs::NameOf(path), 0644)) {
    EXPECT_TRUE(fd_.valid()) << path;
    EXPECT_EQ(::write(fd_.get(), "ab", 2), 2);
  }
  // The folder's wait: finishes the file on the first call.
  void Finish() {
    ++waits_;
    if (!fd_.valid()) return;
    EXPECT_EQ(::write(fd_.get(), "cdef", 4), 4);
    fd_.Reset();
  }
  int waits() const { return waits_; }

 private:
  UniqueFd fd_;
  int waits_ = 0;
};

// ---- files still being written when they are added ----------------------------------

// The folder waits for the writer before it flushes, and judges a file by what
// it holds then: the finished file equals one already there, so it is dropped
// as a copy. By its size when it was added it would have looked different.
TEST(DestinationFolder, FileStillBeingWrittenIsJudgedWhenComplete) {
  TempDir root;
  const fs::path folder = root / "dest";
  fs::create_directory(folder);
  WriteFile(folder / "x.bin", "abcdef");
  std::optional<FileBeingWritten> writing;
  DestinationFolder destination(folder.string(), [&] { writing->Finish(); });
  writing.emplace(destination.work_folder_path() / "x.bin");
  destination.Add(InWorkFolder(destination, "x.bin"), "x.bin");
  destination.Commit();
  EXPECT_GE(writing->waits(), 1);
  EXPECT_EQ(Saved(folder), (Listing{{"x.bin", "abcdef"}}));
}

// A write that failed gives none of the waiting files a final name, leaves
// nothing hidden behind, and fails the commit.
TEST(DestinationFolder, FailedWriteGivesNoFinalName) {
  TempDir root;
  const fs::path folder = root / "dest";
  fs::create_directory(folder);
  {
    DestinationFolder destination(folder.string(), [] {
      throw FileFailure(FailureKind::FileWrite, ENOSPC, "writing a.pdf");
    });
    AddAll(destination, {{"a.pdf", "half"}, {"b.pdf", "whole"}});
    EXPECT_EQ(KindOf([&] { destination.Commit(); }), FailureKind::FileWrite);
  }
  EXPECT_EQ(Saved(folder), Listing{});
}

}  // namespace
}  // namespace qm
