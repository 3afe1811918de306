// The "mapi:" store value, and Outlook's inbox asked for where there is none.

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "base/Failure.h"
#include "mapi/MapiStoreValue.h"
#include "mapi/OpenMapiStore.h"

namespace qm {
namespace {

TEST(MapiStoreValue, NamesTheDefaultProfileOrOneAndRefusesWhatNoMailProgramTakes) {
  struct Case {
    std::string store;
    bool is_mapi;
    std::optional<std::string> profile;
    bool refused;
  };
  const Case cases[] = {
      {"mapi:", true, std::nullopt, false},
      {"MAPI:", true, std::nullopt, false},
      {"mapi:仕事用 Outlook", true, "仕事用 Outlook", false},
      {"Mapi:x", true, "x", false},
      {"mapi", false, std::nullopt, false},
      {"maildir:/srv/mail", false, std::nullopt, false},
      {"imaps://u@h/INBOX", false, std::nullopt, false},
      {"mapi:a\nb", true, std::nullopt, true},
      {"mapi:" + std::string(257, 'p'), true, std::nullopt, true},
      {"mapi:" + std::string(256, 'p'), true, std::string(256, 'p'), false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.store);
    EXPECT_EQ(IsMapiStoreValue(c.store), c.is_mapi);
    if (!c.is_mapi) continue;
    try {
      EXPECT_EQ(MapiProfileOf(c.store), c.profile);
      EXPECT_FALSE(c.refused);
      EXPECT_EQ(MapiStoreValue(c.profile.value_or("")).substr(5), c.profile.value_or(""));
    } catch (const Failure& failure) {
      EXPECT_TRUE(c.refused) << failure.what();
      EXPECT_EQ(failure.kind(), FailureKind::SignOn);
    }
  }
}

TEST(MapiStoreValue, OutlookIsOfferedOnWindowsOnly) {
#ifdef _WIN32
  EXPECT_TRUE(MapiStoreOffered());
#else
  EXPECT_FALSE(MapiStoreOffered());
  try {
    OpenMapiStore({std::nullopt, {}}, {});
    ADD_FAILURE() << "opened";
  } catch (const Failure& failure) {
    EXPECT_EQ(failure.cause(), Cause::kNoMailProgram);
    EXPECT_NE(std::string(failure.what()).find("Windows only"), std::string::npos);
  }
#endif
}

}  // namespace
}  // namespace qm
