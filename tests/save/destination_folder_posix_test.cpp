// The destination folder's cases that need what POSIX alone offers: other
// processes (fork), links an attacker puts in place, permission bits, and a
// held folder that can be moved or removed under the scan (Windows lets no
// one move or remove it while held).
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "base/Failure.h"
#include "save/DestinationFile.h"
#include "save/DestinationFolder.h"
#include "save/EndedRun.h"
#include "tests/save/WorkFolderFiles.h"
#include "tests/support/EndedProcess.h"
#include "tests/support/FileBytes.h"
#include "tests/support/TempDir.h"

namespace qm {
namespace {

namespace fs = std::filesystem;
using testing::AddAll;
using testing::Files;
using testing::InWorkFolder;
using testing::ListFolder;
using testing::Listing;
using testing::OwnWorkFolder;
using testing::PidOfEndedProcess;
using testing::ReadFile;
using testing::Saved;
using testing::TempDir;
using testing::WriteFile;

// Another user who may write into the destination renames the work folder
// and puts a link to a folder of theirs in its place. Files are still
// written into, and placed from, the folder the scan made: nothing goes to
// their folder, nothing of theirs is placed, and their link stays as it is.
TEST(DestinationFolder, WorkFolderSwappedForALinkIsNeitherWrittenNorReadThrough) {
  TempDir root;
  const fs::path folder = root / "dest";
  const fs::path theirs = root / "theirs";
  fs::create_directory(folder);
  fs::create_directory(theirs);
  WriteFile(theirs / "a.pdf", "their bytes");
  fs::path work;
  {
    DestinationFolder destination(folder.string());
    work = destination.work_folder_path();
    fs::rename(work, root / "moved");
    fs::create_directory_symlink(theirs, work);
    for (const auto& [name, content] : Files{{"a.pdf", "ours"}, {"b.pdf", "ours too"}}) {
      NewFile file = CreateFreshFile(destination.work_folder().fd(), name);
      ASSERT_EQ(::write(file.fd.get(), content.data(), content.size()),
                static_cast<ssize_t>(content.size()));
      destination.Add(WrittenFile{file.name, file.identity}, name);
    }
    destination.Commit();
  }
  EXPECT_EQ(ListFolder(theirs), (Listing{{"a.pdf", "their bytes"}}));
  EXPECT_EQ(Saved(folder), (Listing{{"a.pdf", "ours"}, {"b.pdf", "ours too"}}));
  EXPECT_TRUE(fs::is_symlink(work)) << "their link was removed or replaced";
  EXPECT_TRUE(fs::is_empty(root / "moved"));
}

TEST(DestinationFolder, RemovesOnlyHiddenFilesAndWorkFoldersOfEndedRuns) {
  TempDir root;
  const fs::path folder = root / "dest";
  fs::create_directory(folder);
  const std::string dead = std::to_string(PidOfEndedProcess());
  const std::string alive = std::to_string(::getppid());  // another run, still going
  const Listing kept = {{".quillmar-" + alive + "-running", "in use"},
                        {".quillmar-probe-abc", "not ours to judge"},
                        {".quillmar-" + dead, "no dash after the pid"},
                        {"quillmar-" + dead + "-visible", "not hidden"},
                        {"report.pdf", "the user's"}};
  for (const auto& [name, content] : kept) WriteFile(folder / name, content);
  WriteFile(folder / (".quillmar-" + dead + "-abcdefgh"), "left by a killed run");
  fs::create_directories(folder / (".quillmar-" + dead + "-work") / "3");
  WriteFile(folder / (".quillmar-" + dead + "-work") / "3" / "a.pdf", "half written");
  fs::create_directory(folder / (".quillmar-" + dead + "-folder"));
  fs::create_directory(folder / (".quillmar-" + alive + "-work"));
  // Names that carry a host: another host's are never its to judge; this
  // host's of an earlier boot are ended whatever their pid.
  const std::string own = RunNames::OfThisRun(".quillmar-").Prefix();
  const std::string host = own.substr(10, 8);
  const std::string other_host = host == "00000000" ? "11111111" : "00000000";
  const std::string boot = own.substr(19, 8);
  const std::string other_boot = boot == "00000000" ? "11111111" : "00000000";
  const std::string elsewhere = ".quillmar-" + other_host + "." + boot + "-" + dead;
  WriteFile(folder / (elsewhere + "-abcdefgh"), "another host's, in use");
  fs::create_directories(folder / (elsewhere + "-work") / "1");
  WriteFile(folder / (elsewhere + "-work") / "1" / "a.pdf", "another host's, in use");
  const std::string earlier = ".quillmar-" + host + "." + other_boot + "-" + alive;
  WriteFile(folder / (earlier + "-abcdefgh"), "left before the last boot");
  fs::create_directories(folder / (earlier + "-work") / "2");
  WriteFile(folder / (earlier + "-work") / "2" / "a.pdf", "left before the last boot");
  TempDir outside;
  WriteFile(outside / "keep", "x");
  fs::create_directory_symlink(outside.path(), folder / (".quillmar-" + dead + "-work2"));

  DestinationFolder destination(folder.string());
  Listing expected = kept;
  expected[".quillmar-" + dead + "-folder"] = "<folder>";
  expected[".quillmar-" + alive + "-work"] = "<folder>";
  expected[".quillmar-" + dead + "-work2"] = "<folder>";  // a link: never followed
  expected[elsewhere + "-abcdefgh"] = "another host's, in use";
  expected[elsewhere + "-work"] = "<folder>";
  expected[OwnWorkFolder()] = "<folder>";  // this run's own
  EXPECT_EQ(ListFolder(folder), expected);
  EXPECT_EQ(ReadFile(outside / "keep"), "x");
  EXPECT_EQ(ReadFile(folder / (elsewhere + "-work") / "1" / "a.pdf"), "another host's, in use");
}

// Attachment files are written into a private folder inside the
// destination and renamed from there: no copy, nothing on another file
// system. What was not handed over goes with the object.
TEST(DestinationFolder, WorkFolderIsPrivateRenamedFromAndRemovedWithTheFolder) {
  TempDir root;
  const fs::path folder = root / "dest";
  fs::create_directory(folder);
  TempDir outside;
  WriteFile(outside / "keep", "x");
  fs::path work;
  {
    DestinationFolder destination(folder.string());
    work = destination.work_folder_path();
    EXPECT_EQ(work.parent_path(), folder);
    EXPECT_EQ(work.filename().string(), OwnWorkFolder());
    struct stat info {};
    ASSERT_EQ(::lstat(work.c_str(), &info), 0);
    EXPECT_TRUE(S_ISDIR(info.st_mode));
    EXPECT_EQ(info.st_mode & 07777, 0700u);

    fs::create_directories(work / "1");
    WriteFile(work / "1" / "a.pdf", "A");
    ASSERT_EQ(::stat((work / "1" / "a.pdf").c_str(), &info), 0);
    const ino_t written = info.st_ino;
    destination.Add(InWorkFolder(destination, "1/a.pdf"), "a.pdf");
    destination.Commit();
    ASSERT_EQ(::stat((folder / "a.pdf").c_str(), &info), 0);
    EXPECT_EQ(info.st_ino, written) << "copied instead of renamed";

    fs::create_directories(work / "2" / "deep");
    WriteFile(work / "2" / "deep" / "never added", "x");
    fs::create_directory_symlink(outside.path(), work / "link");
  }
  EXPECT_FALSE(fs::exists(work));
  EXPECT_EQ(ListFolder(folder), (Listing{{"a.pdf", "A"}}));
  EXPECT_EQ(ReadFile(outside / "keep"), "x");
}

// The folder is held open: removed or moved elsewhere during a scan, it
// would go on filling where nobody looks. No file of it gets a name.
TEST(DestinationFolder, FolderMovedOrRemovedDuringTheScanFails) {
  for (const bool removed : {false, true}) {
    TempDir root;
    const fs::path folder = root / "dest";
    fs::create_directory(folder);
    DestinationFolder destination(folder.string());
    AddAll(destination, {{"a.pdf", "A"}, {"b.pdf", "B"}});
    if (removed) {
      fs::remove_all(folder);
    } else {
      fs::rename(folder, root / "moved");
    }
    try {
      destination.Commit();
      ADD_FAILURE() << "committed into a folder that is gone from its place";
    } catch (const Failure& failure) {
      EXPECT_EQ(failure.kind(), FailureKind::FileWrite);
      EXPECT_EQ(failure.error(), ENOENT);
    }
    EXPECT_FALSE(fs::exists(folder));
    if (!removed) {
      EXPECT_EQ(Saved(root / "moved"), Listing{});
    }
  }
}

// The user may name the destination by a link to a folder: it is followed,
// and the files land in the folder it leads to. Links inside the destination
// are never followed (see above).
TEST(DestinationFolder, DestinationNamedByALinkIsFollowed) {
  TempDir root;
  fs::create_directory(root / "dest");
  fs::create_directory_symlink(root / "dest", root / "link");
  {
    DestinationFolder destination((root / "link").string());
    AddAll(destination, {{"a.pdf", "A"}});
    destination.Commit();
  }
  EXPECT_EQ(ListFolder(root / "dest"), (Listing{{"a.pdf", "A"}}));
}

}  // namespace
}  // namespace qm
