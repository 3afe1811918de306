// A folder of files placed whole in the destination (an unpacked archive):
// on each kind of file system the placement may meet, it gets its name or
// the first free "name (n)", never replacing a file or a folder there.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <set>
#include <string>

#include "base/FileSystem.h"
#include "base/UniqueFd.h"
#include "save/DestinationFolder.h"
#include "save/HeldFolder.h"
#include "tests/support/CiSkip.h"
#include "tests/support/ExfatMount.h"
#include "tests/support/FileBytes.h"
#include "tests/support/TempDir.h"

namespace qm {
namespace {

namespace fs = std::filesystem;
namespace qfs = qm::fs;

std::set<std::string> Visible(const fs::path& folder) {
  std::set<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) {
    const std::string name = entry.path().filename().string();
    if (name.rfind(".quillmar-", 0) != 0) names.insert(name);
  }
  return names;
}

// A folder of the work folder holding "inner/file.txt" with `text`.
std::string FilledSubfolder(DestinationFolder& destination, const std::string& text) {
  const std::string name = destination.MakeWorkSubfolder();
  const HeldFolder folder = HeldFolder::Open(destination.work_folder().fd(), name);
  EXPECT_EQ(qfs::MakeFolder(folder.fd(), "inner"), 0);
  const HeldFolder inner = HeldFolder::Open(folder.fd(), "inner");
  const UniqueFd file(qfs::CreateExclusive(inner.fd(), "file.txt", 0644));
  EXPECT_EQ(qfs::WriteAt(file.get(), text.data(), text.size(), 0),
            static_cast<std::int64_t>(text.size()));
  return name;
}

// Three folders asked for as "見積書" where a folder and then a file already
// hold the first names.
void PlacesWithoutReplacing(const fs::path& root) {
  fs::create_directories(root / "見積書");
  std::ofstream(root / "見積書" / "mine.txt") << "mine";
  std::ofstream(root / "見積書 (2)") << "a file";
  DestinationFolder destination(root.string());
  destination.Commit();
  EXPECT_EQ(destination.PlaceFolder(FilledSubfolder(destination, "one"), "見積書"), "見積書 (3)");
  EXPECT_EQ(destination.PlaceFolder(FilledSubfolder(destination, "two"), "見積書"), "見積書 (4)");
  EXPECT_EQ(Visible(root),
            (std::set<std::string>{"見積書", "見積書 (2)", "見積書 (3)", "見積書 (4)"}));
  EXPECT_EQ(Visible(root / "見積書"), std::set<std::string>{"mine.txt"});
  EXPECT_EQ(testing::ReadFile(root / "見積書 (2)"), "a file");
  EXPECT_EQ(testing::ReadFile(root / "見積書 (3)" / "inner" / "file.txt"), "one");
  EXPECT_EQ(testing::ReadFile(root / "見積書 (4)" / "inner" / "file.txt"), "two");
}

TEST(PlaceFolder, OnAFolderThatRefusesToReplaceByRename) {
  testing::TempDir dir;
  PlacesWithoutReplacing(dir.path());
}

// exFAT through FUSE offers neither a rename that refuses to replace nor
// hard links: the name is reserved as an empty folder first.
TEST(PlaceFolder, OnExfatThroughReservations) {
  if (const std::string missing = testing::ExfatMount::Missing(); !missing.empty()) {
    QM_SKIP_OUTSIDE_CI(missing);
  }
  testing::ExfatMount mount;
  PlacesWithoutReplacing(mount.mount_point());
}

// A folder left in the work folder (a scan that ended before placing it)
// goes with the work folder: nothing of it shows in the destination.
TEST(PlaceFolder, UnplacedFolderGoesWithTheWorkFolder) {
  testing::TempDir dir;
  {
    DestinationFolder destination(dir.path().string());
    FilledSubfolder(destination, "never placed");
    destination.Commit();
  }
  EXPECT_TRUE(fs::is_empty(dir.path()));
}

}  // namespace
}  // namespace qm
