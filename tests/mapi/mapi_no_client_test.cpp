// A PC whose default mail program lets no other program read its mail:
// here Wine's own, which signs on but lists nothing (MAPI_E_NOT_SUPPORTED),
// as a mail program without Simple MAPI reading does. The stand-in is
// unregistered first; the tests that need it register it again.

#include <windows.h>

#include <gtest/gtest.h>

#include "base/Failure.h"
#include "mapi/OpenMapiStore.h"

namespace qm {
namespace {

TEST(MapiWithoutMailProgram, TheUserIsToldToSetUpClassicOutlookOrChooseImap) {
  HKEY mail = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Clients\\Mail", 0, KEY_ALL_ACCESS, &mail),
            ERROR_SUCCESS);
  RegDeleteValueW(mail, nullptr);
  RegDeleteTreeW(mail, L"QuillmarFakeMail");
  RegCloseKey(mail);
  try {
    OpenMapiStore({std::nullopt, {}}, {})->List();
    ADD_FAILURE() << "the inbox was listed";
  } catch (const Failure& failure) {
    EXPECT_EQ(failure.kind(), FailureKind::SignOn) << failure.what();
    EXPECT_EQ(failure.cause(), Cause::kNoMailProgram) << failure.what();
  }
}

}  // namespace
}  // namespace qm
