// Marking messages seen in a Maildir the test writes itself, on every
// platform: which separator the names get, and that a name another client
// took meanwhile is never replaced.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "maildir/MaildirStore.h"
#include "tests/support/FileBytes.h"
#include "tests/support/TempDir.h"

namespace qm {
namespace {

namespace fs = std::filesystem;
using testing::ReadFile;
using testing::TempDir;

// The separator a name without info gets when it is marked seen: Windows
// refuses ':' in file names.
#ifdef _WIN32
constexpr const char* kWrittenInfo = "!2,";
constexpr bool kColonNamesExist = false;
#else
constexpr const char* kWrittenInfo = ":2,";
constexpr bool kColonNamesExist = true;
#endif

fs::path PathOf(const std::string& utf8) {
  return fs::path(std::u8string(utf8.begin(), utf8.end()));
}

std::string Utf8Of(const fs::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

// A Maildir in a folder with a Japanese name: paths reach the store as
// UTF-16 on Windows and must come back as UTF-8.
class Maildir {
 public:
  Maildir() {
    for (const char* sub : {"cur", "new", "tmp"}) fs::create_directories(root() / sub);
  }
  fs::path root() const { return temp_.path() / u8"受信箱"; }

  void Write(bool in_new, const std::string& name, const std::string& bytes) const {
    std::ofstream out(root() / (in_new ? "new" : "cur") / PathOf(name), std::ios::binary);
    out << bytes;
    ASSERT_TRUE(out.good()) << name;
  }

  std::vector<std::string> Names(const char* sub) const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(root() / sub))
      names.push_back(Utf8Of(entry.path().filename()));
    std::sort(names.begin(), names.end());
    return names;
  }

  std::string Read(const char* sub, const std::string& name) const {
    return ReadFile(root() / sub / PathOf(name));
  }

 private:
  TempDir temp_;
};

TEST(MaildirMarking, NamesAreReadWithEitherSeparatorAndMarkedInCur) {
  struct Case {
    std::string name;
    bool in_new;
    bool read;
    std::string marked;  // its name in cur/ once marked seen
  };
  const std::string written = kWrittenInfo;
  std::vector<Case> cases = {
      {"1700000001.a.host", true, false, "1700000001.a.host" + written + "S"},
      {"1700000002.b.host", false, false, "1700000002.b.host" + written + "S"},
      {"1700000003.c.host!2,", false, false, "1700000003.c.host!2,S"},
      {"1700000004.d.host!2,TF", false, false, "1700000004.d.host!2,FST"},
      {"1700000005.e.host!2,S", false, true, "1700000005.e.host!2,S"},
      {"1700000006.f.host!2,S", true, false, "1700000006.f.host!2,S"},  // new/ is never read
  };
  if (kColonNamesExist) {
    cases.push_back({"1700000007.g.host:2,F", false, false, "1700000007.g.host:2,FS"});
    cases.push_back({"1700000008.h.host:2,RS", false, true, "1700000008.h.host:2,RS"});
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Maildir box;
    box.Write(c.in_new, c.name, "Subject: " + c.name + "\n\nbody\n");
    MaildirStore store(box.root());
    ASSERT_EQ(store.List(), 1u);
    EXPECT_EQ(store.IsRead(0), c.read);
    EXPECT_EQ(store.Describe(0), Utf8Of(box.root() / (c.in_new ? "new" : "cur") / PathOf(c.name)));
    store.QueueReadMark(0);
    store.CommitReadMarks();
    EXPECT_EQ(box.Names("cur"), std::vector<std::string>{c.marked});
    EXPECT_TRUE(box.Names("new").empty());
    EXPECT_EQ(box.Read("cur", c.marked), "Subject: " + c.name + "\n\nbody\n");
  }
}

// Two files of one message, as sync tools leave them: the one marked seen
// that another client put in cur/ meanwhile keeps its content, and the listed
// one stays where it was.
TEST(MaildirMarking, ANameTakenMeanwhileIsNotReplaced) {
  struct Case {
    std::string name;
    bool in_new;
    std::string taken;  // appears in cur/ between the listing and the commit
  };
  const std::string written = kWrittenInfo;
  const Case cases[] = {
      {"1700000001.a.host!2,F", false, "1700000001.a.host!2,FS"},
      {"1700000002.b.host", true, "1700000002.b.host" + written + "S"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Maildir box;
    box.Write(c.in_new, c.name, "listed");
    MaildirStore store(box.root());
    ASSERT_EQ(store.List(), 1u);
    store.QueueReadMark(0);
    box.Write(false, c.taken, "taken");
    store.CommitReadMarks();
    EXPECT_EQ(box.Read("cur", c.taken), "taken");
    EXPECT_EQ(box.Read(c.in_new ? "new" : "cur", c.name), "listed");
  }
}

}  // namespace
}  // namespace qm
