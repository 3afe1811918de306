// The destination folder where Windows differs: names it refuses, names
// outside the ANSI code page, the no-replace rename it offers natively, a
// folder nobody moves while it is held, and how a run tells that another has
// ended.
#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "save/DestinationFolder.h"
#include "save/EndedRun.h"
#include "save/NoReplacePlacement.h"
#include "save/ThisRun.h"
#include "tests/save/WorkFolderFiles.h"
#include "tests/support/TempDir.h"

namespace qm {
namespace {

namespace fs = std::filesystem;
using testing::OwnWorkFolder;
using testing::TempDir;
using testing::WrittenInWorkFolder;

std::string Utf8(const fs::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

fs::path PathOf(const std::string& utf8) { return std::u8string(utf8.begin(), utf8.end()); }

// The folder's files by UTF-8 name (never through the ANSI code page), but
// this run's work folder.
std::map<std::string, std::string> SavedFiles(const fs::path& folder) {
  std::map<std::string, std::string> files;
  for (const auto& entry : fs::directory_iterator(folder)) {
    const std::string name = Utf8(entry.path().filename());
    if (name == OwnWorkFolder()) continue;
    std::ifstream in(entry.path(), std::ios::binary);
    files[name] = std::string(std::istreambuf_iterator<char>(in), {});
  }
  return files;
}

// A name Windows refuses gives that file up, listed with its message; the
// scan goes on and the next file is placed.
TEST(DestinationFolderOnWindows, RefusedNamesEndUnplacedNotAsAFailure) {
  const std::string long_name(300, 'x');
  for (const std::string& refused :
       {std::string("CON"), std::string("aux.txt"), std::string("com1.pdf"), std::string("dot."),
        std::string("space "), std::string("a:b.pdf"), std::string("a?b.pdf"),
        std::string("a<b>.pdf"), std::string("a|b.pdf"), std::string("a\\b.pdf"),
        std::string("a*.pdf"), std::string("q\"uote.pdf"), long_name}) {
    TempDir root;
    const fs::path folder = root / "dest";
    fs::create_directory(folder);
    std::vector<UnplacedFile> unplaced;
    {
      DestinationFolder destination(Utf8(folder));
      destination.Add(WrittenInWorkFolder(destination, "refused.bin", "R"), refused, 7);
      destination.Add(WrittenInWorkFolder(destination, "ok.pdf", "O"), "ok.pdf", 8);
      destination.Commit();
      unplaced = destination.unplaced();
    }
    ASSERT_EQ(unplaced.size(), 1u) << refused;
    EXPECT_EQ(unplaced[0].message, 7);
    EXPECT_EQ(unplaced[0].name, refused);
    EXPECT_EQ(SavedFiles(folder), (std::map<std::string, std::string>{{"ok.pdf", "O"}})) << refused;
  }
}

// Names with characters code page 932 cannot write keep them, also when
// numbered.
TEST(DestinationFolderOnWindows, NamesOutsideTheAnsiCodePageArePlacedRight) {
  const std::vector<std::string> names = {"𠮷野家の請求書.pdf", "①②③.txt", "😀 写真.png", "ｶﾀｶﾅ.doc",
                                          "Ꮎ.bin"};
  TempDir root;
  const fs::path folder = root / "dest";
  fs::create_directory(folder);
  std::ofstream(folder / PathOf("𠮷野家の請求書.pdf"), std::ios::binary) << "the user's";
  {
    DestinationFolder destination(Utf8(folder));
    for (const std::string& name : names) {
      destination.Add(WrittenInWorkFolder(destination, name, "new " + name), name);
    }
    destination.Commit();
    EXPECT_TRUE(destination.unplaced().empty());
  }
  const std::map<std::string, std::string> expected = {
      {"𠮷野家の請求書.pdf", "the user's"}, {"𠮷野家の請求書 (2).pdf", "new 𠮷野家の請求書.pdf"},
      {"①②③.txt", "new ①②③.txt"},           {"😀 写真.png", "new 😀 写真.png"},
      {"ｶﾀｶﾅ.doc", "new ｶﾀｶﾅ.doc"},         {"Ꮎ.bin", "new Ꮎ.bin"}};
  EXPECT_EQ(SavedFiles(folder), expected);
}

// Windows' own rename that refuses to replace is what the probe picks: no
// links, no reservations.
TEST(DestinationFolderOnWindows, PlacementIsTheNativeNoReplaceRename) {
  TempDir root;
  const UniqueFd folder(qm::fs::OpenFolder(qm::fs::kNoFolder, Utf8(root.path())));
  ASSERT_TRUE(folder.valid());
  int probes = 0;
  const NoReplacePlacement placement(
      folder.get(), Utf8(root.path()), [&] { return ".probe-" + std::to_string(++probes); },
      ".journal");
  EXPECT_EQ(placement.method(), NoReplacePlacement::Method::kRenameNoReplace);
  EXPECT_TRUE(fs::is_empty(root.path())) << "probe files left behind";
}

// The folder is held without sharing its removal: while the scan runs nobody
// moves it away, and the scan saves where the user looks.
TEST(DestinationFolderOnWindows, HeldFolderCannotBeMovedDuringTheScan) {
  TempDir root;
  const fs::path folder = root / "dest";
  fs::create_directory(folder);
  {
    DestinationFolder destination(Utf8(folder));
    destination.Add(WrittenInWorkFolder(destination, "a.pdf", "A"), "a.pdf");
    std::error_code error;
    fs::rename(folder, root / "moved", error);
    EXPECT_TRUE(error) << "moved while held";
    destination.Commit();
  }
  EXPECT_EQ(SavedFiles(folder), (std::map<std::string, std::string>{{"a.pdf", "A"}}));
}

// A process started suspended from `command`; ended (and waited for) first
// when `ended`.
PROCESS_INFORMATION StartProcess(bool ended) {
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  std::wstring command = L"cmd.exe /c exit 0";
  EXPECT_TRUE(::CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE,
                               CREATE_NO_WINDOW | (ended ? 0 : CREATE_SUSPENDED), nullptr, nullptr,
                               &startup, &process));
  if (ended) {
    EXPECT_EQ(::WaitForSingleObject(process.hProcess, 30000), WAIT_OBJECT_0);
  }
  return process;
}

// Whether a run has ended is asked of its process: one that has exited is
// gone (its handle, still open here, keeps its id from being reused), one
// that has not is not, and this process's own id in a name was left by an
// earlier process of that id.
TEST(DestinationFolderOnWindows, RunsEndWithTheirProcess) {
  const std::int64_t own = ::GetCurrentProcessId();
  EXPECT_EQ(ThisProcessId(), own);
  EXPECT_EQ(ThisMachine(), ThisMachine());
  EXPECT_EQ(ThisBoot(), ThisBoot());
  const RunNames runs = RunNames::OfThisRun(".q-");
  const std::string prefix = runs.Prefix();
  EXPECT_TRUE(prefix.ends_with("-" + std::to_string(own) + "-")) << prefix;
  const std::string this_boot = prefix.substr(0, prefix.find('-', 3) + 1);  // ".q-host.boot-"

  for (const bool ended : {true, false}) {
    const PROCESS_INFORMATION process = StartProcess(ended);
    const std::int64_t pid = process.dwProcessId;
    EXPECT_EQ(ProcessIsGone(pid), ended) << pid;
    EXPECT_EQ(runs.MadeByEndedRun(this_boot + std::to_string(pid) + "-work"), ended) << pid;
    if (!ended) ::TerminateProcess(process.hProcess, 0);
    ::CloseHandle(process.hThread);
    ::CloseHandle(process.hProcess);
  }
  EXPECT_FALSE(ProcessIsGone(own));
  EXPECT_TRUE(runs.MadeByEndedRun(this_boot + std::to_string(own) + "-work"));
}

}  // namespace
}  // namespace qm
