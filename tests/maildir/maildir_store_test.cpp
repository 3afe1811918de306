#include "maildir/MaildirStore.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "base/Failure.h"
#include "profile/MailProfile.h"
#include "settings/RegFileRegistry.h"
#include "store/UnreadableMessage.h"
#include "tests/mail/MaildirFixture.h"
#include "tests/support/CiSkip.h"
#include "tests/support/EnvOverride.h"
#include "tests/support/FileBytes.h"
#include "tests/support/FileModesApply.h"

namespace qm {
namespace {

namespace fs = std::filesystem;
using testing::EnvOverride;
using testing::MaildirFixture;
using testing::ReadFd;

std::vector<std::string> ListedSubjects(MaildirStore& store) {
  std::vector<std::string> subjects;
  const std::size_t count = store.List();
  for (std::size_t i = 0; i < count; ++i) subjects.push_back(store.Headers(i).subject);
  return subjects;
}

TEST(MaildirStore, FolderWithoutCurAndNewIsNoMailbox) {
  testing::TempDir temp;
  fs::create_directory(temp / "cur");  // new/ is missing
  for (const fs::path& folder : {temp.path(), temp.path() / "missing"}) {
    try {
      MaildirStore store(folder);
      FAIL() << "opened " << folder;
    } catch (const Failure& failure) {
      EXPECT_EQ(failure.kind(), FailureKind::SignOn);
      EXPECT_EQ(failure.cause(), Cause::kNoMailbox);
      EXPECT_NE(std::string(failure.what()).find(folder.string()), std::string::npos);
    }
  }
}

TEST(MaildirStore, ListsInDeliveryOrderAcrossCurAndNew) {
  MaildirFixture box;
  const long t = MaildirFixture::kFirstTime;
  // Added out of order on purpose; the subject names the expected position.
  box.Add(MaildirFixture::Message("4", "a@x"), "S", false, t + 30);
  box.Add(MaildirFixture::Message("1", "a@x"), "", true, t + 10);
  box.Add(MaildirFixture::Message("6", "a@x"), "", true, t + 900);
  box.Add(MaildirFixture::Message("2", "a@x"), "F", false, t + 20);
  box.AddNamed("nonumber.host:2,", MaildirFixture::Message("5", "a@x"), false, t + 40);
  box.AddNamed(std::to_string(t + 20) + ".Z.host", MaildirFixture::Message("3", "a@x"), true, t);
  box.AddNamed(".hidden", MaildirFixture::Message("dot file", "a@x"), false, t);
  box.AddNamed(std::to_string(t) + ".hidden:2,", MaildirFixture::Message("0", "a@x"), false, t);
  std::ofstream(box.tmp_dir() / (std::to_string(t) + ".tmp.host")) << "Subject: in tmp\n\n";

  MaildirStore store(box.maildir());
  EXPECT_EQ(ListedSubjects(store), (std::vector<std::string>{"0", "1", "2", "3", "4", "5", "6"}));
}

TEST(MaildirStore, ReadFlagComesFromSeenFlagInCur) {
  struct Case {
    const char* flags;
    bool in_new;
    bool read;
  };
  const Case cases[] = {
      {"FS", false, true}, {"F", false, false},   {"S", false, true},  {"", false, false},
      {"", true, false},   {"PRST", false, true}, {"T", false, false},
  };
  MaildirFixture box;
  for (const Case& c : cases) box.Add(MaildirFixture::Message(c.flags, "a@x"), c.flags, c.in_new);
  MaildirStore store(box.maildir());
  ASSERT_EQ(store.List(), std::size(cases));
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    EXPECT_EQ(store.IsRead(i), cases[i].read)
        << "flags " << cases[i].flags << " new " << cases[i].in_new;
  }
}

TEST(MaildirStore, HeadersGiveFirstRawSubjectAndFrom) {
  const std::string pad(5000, 'p');
  std::string folded;
  while (folded.size() <= kMaxHeaderFieldBytes) folded += "\n " + std::string(70, 'f');
  std::string unfolded = folded;
  std::erase(unfolded, '\n');
  struct Case {
    const char* what;
    std::string bytes;
    std::string subject;
    std::string from;
  };
  const Case cases[] = {
      {"plain", "From: A <a@x>\nSubject: Hello\n\nbody\n", "Hello", "A <a@x>"},
      {"crlf", "Subject: Hello\r\nFrom: a@x\r\n\r\nSubject: body\r\n", "Hello", "a@x"},
      {"folded", "Subject: one\n two\n\tthree\nFrom: \"N\"\n <a@x>\n\n", "one two\tthree",
       "\"N\" <a@x>"},
      {"folded crlf", "Subject: =?UTF-8?B?5pel?=\r\n =?UTF-8?B?5pys?=\r\n\r\n",
       "=?UTF-8?B?5pel?= =?UTF-8?B?5pys?=", ""},
      {"none", "To: b@x\nDate: today\n\nSubject: in body\nFrom: body@x\n", "", ""},
      {"names ignore case", "SUBJECT: Up\nfrom: low@x\n\n", "Up", "low@x"},
      {"first wins", "Subject: first\nSubject: second\nFrom: 1@x\nFrom: 2@x\n\n", "first", "1@x"},
      {"not a prefix", "Subjects: no\nFrom-Me: no\nX-From: no\n\n", "", ""},
      {"no body", "Subject: end\nFrom: e@x", "end", "e@x"},
      {"empty value", "Subject:\nFrom:   \n\n", "", ""},
      {"block past 4 KiB", "X-Pad: " + pad + "\nSubject: late\nFrom: l@x\n\nbody\n", "late", "l@x"},
      {"crlf split at 4 KiB", "X-Pad: " + pad.substr(0, 4096 - 8 - 1) + "\r\n\r\nSubject: body\n",
       "", ""},
      {"empty first line", "\nSubject: body\n", "", ""},
      // What is kept of a field is bounded, however long its line or its folding.
      {"a subject line beyond the cap",
       "Subject: " + std::string(kMaxHeaderFieldBytes + 9, 's') + "\nFrom: f@x\n\n",
       std::string(kMaxHeaderFieldBytes - 1, 's'), "f@x"},  // the cut counts the space before it
      {"a from folded beyond the cap", "From: a@x" + folded + "\nSubject: s\n\n", "s",
       ("a@x" + unfolded).substr(0, kMaxHeaderFieldBytes)},
  };
  MaildirFixture box;
  for (const Case& c : cases) box.Add(c.bytes);
  MaildirStore store(box.maildir());
  ASSERT_EQ(store.List(), std::size(cases));
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    const RawHeaders headers = store.Headers(i);
    EXPECT_EQ(headers.subject, cases[i].subject) << cases[i].what;
    EXPECT_EQ(headers.from, cases[i].from) << cases[i].what;
  }
}

// Bytes this process has read through read(2) so far, or nothing when the
// kernel does not count them.
std::optional<long long> BytesReadSoFar() {
  std::ifstream io("/proc/self/io");
  std::string key;
  long long value = 0;
  while (io >> key >> value) {
    if (key == "rchar:") return value;
  }
  return std::nullopt;
}

TEST(MaildirStore, HeadersStopAtTheEndOfTheHeaderBlock) {
  MaildirFixture box;
  box.Add("Subject: big\nFrom: b@x\n\n" + std::string(5 << 20, 'b'));
  box.Add("Subject: x\nX-Long: " + std::string(3 << 20, 'h') + "\nFrom: beyond@x\n\n");
  MaildirStore store(box.maildir());
  ASSERT_EQ(store.List(), 2u);

  const std::optional<long long> before = BytesReadSoFar();
  if (!before) QM_SKIP_OUTSIDE_CI("no /proc/self/io");
  EXPECT_EQ(store.Headers(0).from, "b@x");
  EXPECT_LT(*BytesReadSoFar() - *before, 64 * 1024);

  // A header block without end is read up to its bound only.
  const long long start = *BytesReadSoFar();
  const RawHeaders unbounded = store.Headers(1);
  EXPECT_EQ(unbounded.subject, "x");
  EXPECT_EQ(unbounded.from, "");
  EXPECT_LT(*BytesReadSoFar() - start, 2 << 20);
}

TEST(MaildirStore, OpenMessageFollowsRenamesAndSkipsDeletedMessages) {
  enum class Then { Nothing, RenamedToCur, FlagChanged, Deleted };
  struct Case {
    Then then;
    bool in_new;
    bool found;
  };
  const Case cases[] = {{Then::Nothing, false, true},
                        {Then::RenamedToCur, true, true},
                        {Then::FlagChanged, false, true},
                        {Then::Deleted, false, false},
                        {Then::Deleted, true, false}};
  for (const Case& c : cases) {
    MaildirFixture box;
    const std::string bytes = MaildirFixture::Message("s", "f@x", "the whole body\n");
    const std::string key = box.Add(bytes, "F", c.in_new);
    MaildirStore store(box.maildir());
    ASSERT_EQ(store.List(), 1u);
    if (c.then == Then::RenamedToCur || c.then == Then::FlagChanged) box.RenameTo(key, "FT");
    if (c.then == Then::Deleted) fs::remove(box.Find(key));

    const UniqueFd fd = store.OpenMessage(0, -1);
    ASSERT_EQ(fd.valid(), c.found) << static_cast<int>(c.then);
    if (c.found) {
      EXPECT_EQ(ReadFd(fd.get()), bytes);
    }
    EXPECT_EQ(store.Headers(0).subject, c.found ? "s" : "");
  }
}

TEST(MaildirStore, CommitRenamesQueuedMessagesWithSeenFlagAdded) {
  enum class Meanwhile { Nothing, FlagChanged, Deleted };
  struct Case {
    const char* flags;
    bool in_new;
    Meanwhile meanwhile;
    const char* expected_flags;  // nullptr: the message is gone
  };
  const Case cases[] = {
      {"", false, Meanwhile::Nothing, "S"},       {"F", false, Meanwhile::Nothing, "FS"},
      {"T", false, Meanwhile::Nothing, "ST"},     {"FRT", false, Meanwhile::Nothing, "FRST"},
      {"S", false, Meanwhile::Nothing, "S"},      {"", true, Meanwhile::Nothing, "S"},
      {"", false, Meanwhile::FlagChanged, "PRS"}, {"", true, Meanwhile::FlagChanged, "PRS"},
      {"F", false, Meanwhile::Deleted, nullptr},
  };
  MaildirFixture box;
  std::vector<std::string> keys;
  for (const Case& c : cases)
    keys.push_back(box.Add(MaildirFixture::Message("m", "a@x"), c.flags, c.in_new));
  const std::string untouched = box.Add(MaildirFixture::Message("other", "a@x"), "F", true);
  MaildirStore store(box.maildir());
  ASSERT_EQ(store.List(), std::size(cases) + 1);
  for (std::size_t i = 0; i < std::size(cases); ++i) store.QueueReadMark(i);
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    if (cases[i].meanwhile == Meanwhile::FlagChanged) box.RenameTo(keys[i], "PR");
    if (cases[i].meanwhile == Meanwhile::Deleted) fs::remove(box.Find(keys[i]));
  }
  // Queuing alone changes nothing on disk.
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    if (cases[i].meanwhile == Meanwhile::Nothing) {
      EXPECT_EQ(box.Flags(keys[i]), cases[i].flags) << i;
      EXPECT_EQ(box.InCur(keys[i]), !cases[i].in_new) << i;
    }
  }

  store.CommitReadMarks();
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    if (cases[i].expected_flags == nullptr) {
      EXPECT_TRUE(box.Find(keys[i]).empty()) << i;
      continue;
    }
    EXPECT_TRUE(box.InCur(keys[i])) << i;
    EXPECT_EQ(box.Flags(keys[i]), cases[i].expected_flags) << i;
  }
  EXPECT_FALSE(box.InCur(untouched));
  EXPECT_EQ(store.List(), std::size(cases));  // the deleted one is gone, nothing was duplicated
}

// A stray folder, a pipe or a dangling link in cur/ or new/ stopped every scan
// that read headers ("Is a directory"), run after run.
TEST(MaildirStore, EntriesThatAreNotFilesAreNoMessages) {
  MaildirFixture box;
  const long t = MaildirFixture::kFirstTime;
  box.Add(MaildirFixture::Message("first", "a@x"), "", true, t);
  fs::create_directory(box.cur_dir() / (std::to_string(t + 1) + ".folder.host:2,"));
  fs::create_directory(box.new_dir() / (std::to_string(t + 2) + ".folder.host"));
  ASSERT_EQ(::mkfifo((box.new_dir() / (std::to_string(t + 3) + ".fifo.host")).c_str(), 0600), 0);
  fs::create_symlink("/nonexistent", box.new_dir() / (std::to_string(t + 4) + ".dangling.host"));
  const std::string linked = box.Add(MaildirFixture::Message("elsewhere", "a@x"), "", true, t + 9);
  fs::rename(box.Find(linked), box.root() / "linked-message");
  fs::create_symlink(box.root() / "linked-message",
                     box.new_dir() / (std::to_string(t + 5) + ".link"));
  box.Add(MaildirFixture::Message("last", "a@x"), "S", false, t + 6);

  MaildirStore store(box.maildir());
  EXPECT_EQ(ListedSubjects(store), (std::vector<std::string>{"first", "elsewhere", "last"}));
}

TEST(MaildirStore, AMessageThatCannotBeReadIsUnreadableAndTheOthersStayReadable) {
  enum class Damage { NoPermission, ReplacedByAFolder };
  for (const Damage damage : {Damage::NoPermission, Damage::ReplacedByAFolder}) {
    MaildirFixture box;
    box.Add(MaildirFixture::Message("before", "a@x"));
    const std::string bad = box.Add(MaildirFixture::Message("bad", "a@x"));
    box.Add(MaildirFixture::Message("after", "a@x"));
    MaildirStore store(box.maildir());
    ASSERT_EQ(store.List(), 3u);
    const fs::path path = box.Find(bad);
    std::string reason = "Permission denied";
    if (damage == Damage::NoPermission) {
      fs::permissions(path, fs::perms::none);
    } else {
      fs::remove(path);
      fs::create_directory(path);
      reason = "not a regular file";
    }
    const testing::FileModesApply modes_apply;
    for (const bool whole : {false, true}) {
      try {
        if (whole) {
          store.OpenMessage(1, -1);
        } else {
          store.Headers(1);
        }
        ADD_FAILURE() << "read " << path;
      } catch (const UnreadableMessage& unreadable) {
        EXPECT_EQ(unreadable.where(), path.string());
        EXPECT_EQ(unreadable.reason(), reason);
        EXPECT_EQ(store.Describe(1), path.string());
      }
    }
    EXPECT_EQ(store.Headers(0).subject, "before");
    EXPECT_EQ(store.Headers(2).subject, "after");
  }
}

// Names with "!2," come from file systems that refuse ':'. Their seen flag
// was not read, and marking read appended a second info ("x!2,PS:2,S").
TEST(MaildirStore, NamesWithBangAreReadAndMarkedInTheirOwnForm) {
  struct Case {
    std::vector<std::string> names;  // in cur/ unless they carry no info
    std::vector<bool> read;
    std::vector<std::string> marked;
  };
  const long t = MaildirFixture::kFirstTime;
  const auto name = [t](int i, const std::string& info) {
    return std::to_string(t + i) + ".M" + std::to_string(i) + "P1.host" + info;
  };
  const Case cases[] = {
      {{name(0, "!2,S"), name(1, "!2,P"), name(2, "!2,"), name(3, "")},
       {true, false, false, false},
       {name(0, "!2,S"), name(1, "!2,PS"), name(2, "!2,S"), name(3, "!2,S")}},
      // A folder with both forms gets the usual one for a name without info.
      {{name(0, ":2,F"), name(1, "!2,F"), name(2, "")},
       {false, false, false},
       {name(0, ":2,FS"), name(1, "!2,FS"), name(2, ":2,S")}},
  };
  for (const Case& c : cases) {
    MaildirFixture box;
    for (std::size_t i = 0; i < c.names.size(); ++i) {
      const bool in_new = c.names[i].find(",") == std::string::npos;
      box.AddNamed(c.names[i], MaildirFixture::Message("m", "a@x"), in_new,
                   t + static_cast<long>(i));
    }
    MaildirStore store(box.maildir());
    ASSERT_EQ(store.List(), c.names.size());
    std::vector<std::string> marked;
    for (std::size_t i = 0; i < c.names.size(); ++i) {
      EXPECT_EQ(store.IsRead(i), c.read[i]) << c.names[i];
      store.QueueReadMark(i);
    }
    store.CommitReadMarks();
    for (const auto& entry : fs::directory_iterator(box.cur_dir())) {
      marked.push_back(entry.path().filename().string());
    }
    std::sort(marked.begin(), marked.end());
    EXPECT_EQ(marked, c.marked);
    EXPECT_TRUE(fs::is_empty(box.new_dir()));
  }
}

TEST(MaildirStore, ADroppedMarkIsNotApplied) {
  MaildirFixture box;
  const std::string kept = box.Add(MaildirFixture::Message("kept", "a@x"), "", true);
  const std::string dropped = box.Add(MaildirFixture::Message("dropped", "a@x"), "F");
  MaildirStore store(box.maildir());
  ASSERT_EQ(store.List(), 2u);
  store.QueueReadMark(0);
  store.QueueReadMark(1);
  store.DropReadMark(1);
  store.CommitReadMarks();
  EXPECT_EQ(box.Flags(kept), "S");
  EXPECT_EQ(box.Flags(dropped), "F");
}

// A settings file holding the mail profile's values, as the program reads it.
class ProfileFile {
 public:
  void Set(const std::string& name, std::uint32_t type, const std::string& data) {
    RegistryKey key = 0;
    ASSERT_EQ(registry_.CreateKey(RegistryRoot::CurrentUser, kMailProfileKey, &key), kErrorSuccess);
    registry_.SetValue(key, name, type, Bytes(data.begin(), data.end()));
    ASSERT_EQ(registry_.CloseKey(key), kErrorSuccess);
  }
  Registry& registry() { return registry_; }

 private:
  testing::TempDir folder_;
  RegFileRegistry registry_{folder_ / "settings.reg"};
};

TEST(MailProfile, OpensTheConfiguredMailboxOrSaysHowToChooseOne) {
  enum class Home { WithMaildir, Empty };
  struct Case {
    const char* what;
    std::optional<std::string> store;  // nullopt: no "Store" value; "@" is the fixture's Maildir
    std::uint32_t type;
    Home home;
    const char* error;  // nullptr: opens the fixture's Maildir (one message)
  };
  const Case cases[] = {
      {"configured", "maildir:@", kRegSz, Home::Empty, nullptr},
      {"text ends at NUL", std::string("maildir:@\0junk", 14), kRegSz, Home::Empty, nullptr},
      {"scheme in capitals", "MAILDIR:@", kRegSz, Home::Empty, nullptr},
      {"home Maildir", std::nullopt, kRegSz, Home::WithMaildir, nullptr},
      {"nothing", std::nullopt, kRegSz, Home::Empty, "no mailbox configured"},
      {"imap without user", "imap://mail.example.org", kRegSz, Home::WithMaildir, "names no user"},
      {"imaps without password", "imaps://u@mail.example.org:993", kRegSz, Home::WithMaildir,
       "\"Password\" is missing"},
      {"relative", "maildir:Maildir", kRegSz, Home::WithMaildir, "not an absolute"},
      {"empty", "", kRegSz, Home::WithMaildir, "not an absolute"},
      {"other scheme", "mbox:/var/mail/me", kRegSz, Home::WithMaildir, "not an absolute"},
      {"not text", "maildir:@", kRegBinary, Home::WithMaildir, "not text"},
      {"missing folder", "maildir:/nonexistent/Maildir", kRegSz, Home::WithMaildir,
       "not a Maildir"},
  };
  for (const Case& c : cases) {
    MaildirFixture box;  // its root is the home folder, its Maildir the mailbox
    box.Add(MaildirFixture::Message("one", "a@x"));
    testing::TempDir empty_home;
    EnvOverride home("HOME", (c.home == Home::WithMaildir ? box.root() : empty_home.path()));
    ProfileFile profile;
    profile.Set("Other", kRegSz, "x");
    if (c.store) {
      std::string value = *c.store;
      if (const auto at = value.find('@');
          at != std::string::npos && value.find("://") == value.npos) {
        value.replace(at, 1, box.maildir().string());
      }
      profile.Set(kMailStoreValue, c.type, value);
    }
    try {
      const std::unique_ptr<MailStore> store = OpenProfileStore(profile.registry());
      EXPECT_EQ(c.error, nullptr) << c.what << ": opened";
      EXPECT_EQ(store->List(), 1u) << c.what;
    } catch (const Failure& failure) {
      ASSERT_NE(c.error, nullptr) << c.what << ": " << failure.what();
      EXPECT_EQ(failure.kind(), FailureKind::SignOn) << c.what;
      EXPECT_EQ(failure.cause(), Cause::kNoMailbox) << c.what;
      EXPECT_NE(std::string(failure.what()).find(c.error), std::string::npos)
          << c.what << ": " << failure.what();
    }
  }
}

TEST(MailProfile, NoMailboxMessageSaysWhereToConfigureIt) {
  testing::TempDir empty_home;
  EnvOverride home("HOME", empty_home.path());
  ProfileFile profile;  // no key at all
  try {
    OpenProfileStore(profile.registry());
    FAIL() << "opened a mailbox";
  } catch (const Failure& failure) {
    const std::string text = failure.what();
    for (const char* part : {"\"Store\"", "maildir:/path/to/Maildir",
                             "HKEY_CURRENT_USER\\SOFTWARE\\Vantrel\\Quillmar\\Mail", "~/Maildir"}) {
      EXPECT_NE(text.find(part), std::string::npos) << part << " in " << text;
    }
  }
}

}  // namespace
}  // namespace qm
