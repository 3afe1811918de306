// Hostile and damaged messages through the real binary, headless, each the
// only message of a Maildir: what is saved, whether the message is marked
// read, the exit code and the one line on stderr. Their memory and time are
// measured by bench/bombs-mail, not here.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>

#include "tests/e2e/EndToEnd.h"
#include "tests/support/TempDir.h"

namespace qm {
namespace {

namespace fs = std::filesystem;
using namespace qm::testing;

// The winmail.dat regression mails of the MIME tests.
std::string WinmailMail(const std::string& name) {
  const fs::path tests = fs::path(QM_TEST_DATA).parent_path().parent_path();
  return ReadFile(tests / "mime/data/winmail" / name);
}

std::string Repeated(std::size_t count, const std::string& text) {
  std::string all;
  for (std::size_t i = 0; i < count; ++i) all += text;
  return all;
}

std::string Nested(int depth) {
  std::string message = "Subject: deep\nMIME-Version: 1.0\n";
  for (int i = 0; i < depth; ++i) {
    message += "Content-Type: multipart/mixed; boundary=\"B" + std::to_string(i) + "\"\n\n--B" +
               std::to_string(i) + "\n";
  }
  return message + "Content-Type: application/pdf; name=\"deep.pdf\"\n\nD\n";
}

struct HostileCase {
  const char* name;
  std::string message;
  int exit_code;
  std::set<std::string> saved;
  std::string said;  // what stderr holds; "" for nothing at all
};

void PrintTo(const HostileCase& c, std::ostream* os) { *os << c.name; }

class HostileMail : public ::testing::TestWithParam<HostileCase> {
 protected:
  void SetUp() override {
    MakeRunFolders(root_);
    for (const char* sub : {"Maildir/cur", "Maildir/new", "Maildir/tmp"}) {
      fs::create_directories(root_ / sub);
    }
    WriteSettingsFile(root_ / "config/Vantrel/Quillmar.reg",
                      {(root_ / "out").string(), "", 0, {0, 1, 1}},
                      {"\"Store\"=" + RegText("maildir:" + (root_ / "Maildir").string())});
  }

  std::set<std::string> Entries(const fs::path& folder) const {
    std::set<std::string> names;
    for (const auto& e : fs::directory_iterator(folder)) names.insert(e.path().filename().string());
    return names;
  }

  TempDir temp_;
  fs::path root_ = temp_.path();
};

TEST_P(HostileMail, SavesWhatCanBeReadAndReportsWhatCannot) {
  const HostileCase& c = GetParam();
  std::ofstream(root_ / "Maildir/new/1700000000.M1P1.test", std::ios::binary) << c.message;
  const ProgramResult r = RunHeadless(root_);
  EXPECT_EQ(r.exit_code, c.exit_code) << r.err;
  EXPECT_EQ(Entries(root_ / "out"), c.saved);
  if (c.said.empty()) {
    EXPECT_EQ(r.err, "");
  } else {
    EXPECT_NE(r.err.find(c.said), std::string::npos) << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
  }
  // A message that could be read is marked read; one that could not is left
  // where it was, for the next run.
  const bool read = c.exit_code == 0;
  EXPECT_EQ(Entries(root_ / "Maildir/new").size(), read ? 0u : 1u);
  EXPECT_EQ(Entries(root_ / "Maildir/cur").size(), read ? 1u : 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Messages, HostileMail,
    ::testing::Values(
        // An empty file inside a winmail.dat was dropped, and the whole
        // winmail.dat saved beside the other files.
        HostileCase{"WinmailDatWithAnEmptyFile",
                    WinmailMail("winmail-with-empty-file.eml"),
                    0,
                    {"empty.txt", "r.pdf"},
                    ""},
        // A damaged winmail.dat gives the files before the damage and itself.
        HostileCase{"DamagedWinmailDat",
                    WinmailMail("winmail-damaged-after-first-file.eml"),
                    0,
                    {"r.pdf", "winmail.dat"},
                    ""},
        // Parts nested too deep were skipped without a word: exit 0, nothing
        // saved, the message left unread run after run.
        HostileCase{"PartsNestedTooDeep", Nested(65), 7, {}, "nested more than 64 levels"},
        HostileCase{"PartsNestedThousandsDeep", Nested(5000), 7, {}, "could not be read"},
        HostileCase{"TooManyParts",
                    "Subject: parts\nContent-Type: multipart/mixed; boundary=z\n\n" +
                        Repeated(5001, "--z\n\nx\n") + "--z--\n",
                    7,
                    {},
                    "lines that start a MIME part"},
        HostileCase{"PartHeaderBlockOfMegabytes",
                    "Subject: s\nContent-Type: multipart/mixed; boundary=\"zz\"\n\n--zz\n" +
                        Repeated(20000, "X-Filler: " + std::string(90, 'x') + "\n") +
                        "Content-Type: application/pdf; name=\"r.pdf\"\n\n%PDF-1.4\n--zz--\n",
                    7,
                    {},
                    "header block larger than"}),
    [](const auto& info) { return info.param.name; });

}  // namespace
}  // namespace qm
