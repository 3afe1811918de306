#include "maildir/MaildirName.h"

#include <gtest/gtest.h>

#include <string>

namespace qm {
namespace {

TEST(MaildirName, SplitsTheUniquePartFromTheInfoWithEitherSeparator) {
  struct Case {
    const char* name;
    const char* unique;
    const char* flags;
    char separator;
  };
  const Case cases[] = {
      {"1220863042.12663_1.host:2,FS", "1220863042.12663_1.host", "FS", ':'},
      {"1220863042.12663_1.host!2,S", "1220863042.12663_1.host", "S", '!'},
      {"1220863042.12663_1.host", "1220863042.12663_1.host", "", 0},
      {"abc:2,", "abc", "", ':'},
      {"abc!2,", "abc", "", '!'},
      {"abc:2,Sab", "abc", "Sab", ':'},  // keywords some servers keep as lower-case letters
      // A name broken by appending a second info: the last one counts.
      {"x!2,PS:2,S", "x!2,PS", "S", ':'},
      // "2," inside the unique part is no info.
      {"1700000000.M2,host", "1700000000.M2,host", "", 0},
      {"abc:2,S.bak", "abc:2,S.bak", "", 0},
      {"abc:1,xyz", "abc:1,xyz", "", 0},
      {"abc;2,S", "abc;2,S", "", 0},
      {"2,S", "2,S", "", 0},
      {"", "", "", 0},
  };
  for (const Case& c : cases) {
    const MaildirName parts = SplitMaildirName(c.name);
    EXPECT_EQ(parts.unique, c.unique) << c.name;
    EXPECT_EQ(parts.flags, c.flags) << c.name;
    EXPECT_EQ(parts.separator, c.separator) << c.name;
  }
}

TEST(MaildirName, MarkingSeenKeepsTheSeparatorAndTheOtherFlags) {
  struct Case {
    const char* name;
    char new_separator;
    bool seen;
    const char* marked;
  };
  const Case cases[] = {
      {"m:2,", ':', false, "m:2,S"},       {"m:2,F", ':', false, "m:2,FS"},
      {"m:2,FRT", ':', false, "m:2,FRST"}, {"m:2,S", ':', true, "m:2,S"},
      {"m:2,TF", ':', false, "m:2,FST"},  // sorted, as the convention asks
      {"m!2,P", ':', false, "m!2,PS"},    // never a second info
      {"m!2,PS", ':', true, "m!2,PS"},     {"m", ':', false, "m:2,S"},
      {"m", '!', false, "m!2,S"},          {"x!2,PS:2,S", ':', true, "x!2,PS:2,S"},
      {"m:2,SS", ':', true, "m:2,S"},      {"m:2,a", ':', false, "m:2,Sa"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(IsSeenName(c.name), c.seen) << c.name;
    EXPECT_EQ(SeenName(c.name, c.new_separator), c.marked) << c.name;
  }
}

}  // namespace
}  // namespace qm
