// The stand-in Simple MAPI provider, called the way Quillmar calls Simple
// MAPI: through MAPI32.DLL, which forwards to the registered default mail
// client. Under Wine with LC_ALL=ja_JP.UTF-8 (ANSI code page 932).

#include <windows.h>

#include <mapi.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <functional>
#include <iterator>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "tests/mapi/FakeMapiMailbox.h"

namespace qm::testing {
namespace {

// MAPI32.DLL's entry points. It reads the default mail client when it loads,
// so the provider is registered first.
struct Mapi {
  LPMAPILOGON Logon;
  LPMAPILOGOFF Logoff;
  LPMAPIFINDNEXT FindNext;
  LPMAPIREADMAIL ReadMail;
  LPMAPIFREEBUFFER FreeBuffer;
};

template <typename Function>
Function Entry(HMODULE dll, const char* name) {
  FARPROC address = GetProcAddress(dll, name);
  if (address == nullptr) throw std::runtime_error(std::string("MAPI32.DLL lacks ") + name);
  return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(address));
}

const Mapi& Api() {
  static const Mapi api = [] {
    FakeMapiMailbox::Register();
    HMODULE dll = LoadLibraryW(L"MAPI32.DLL");
    if (dll == nullptr) throw std::runtime_error("MAPI32.DLL does not load");
    return Mapi{Entry<LPMAPILOGON>(dll, "MAPILogon"), Entry<LPMAPILOGOFF>(dll, "MAPILogoff"),
                Entry<LPMAPIFINDNEXT>(dll, "MAPIFindNext"),
                Entry<LPMAPIREADMAIL>(dll, "MAPIReadMail"),
                Entry<LPMAPIFREEBUFFER>(dll, "MAPIFreeBuffer")};
  }();
  return api;
}

struct FreeMessage {
  void operator()(MapiMessage* message) const { Api().FreeBuffer(message); }
};
using Message = std::unique_ptr<MapiMessage, FreeMessage>;

// The bytes of a file opened by its ANSI path, as a Simple MAPI caller opens it.
std::string ReadAnsiPath(const char* path) {
  HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return "<does not open>";
  std::string bytes(4096, '\0');
  DWORD got = 0;
  ::ReadFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &got, nullptr);
  CloseHandle(file);
  bytes.resize(got);
  return bytes;
}

// A mailbox of three messages, written out of order: the provider lists
// them in ordinal order, B2 before a1.
class FakeMapiProviderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    mailbox_.AddMessage("c3", "Third", "Carol", "carol@example.com", true, {});
    mailbox_.AddMessage("a1", "First", "Alice", "alice@example.com", false, {{"x.txt", "ex"}});
    mailbox_.AddMessage("B2", "Second", "Bob", "bob@example.com", true,
                        {{"b.txt", "bee"}, {"a.txt", "ay"}});
  }

  LHANDLE LogOn() {
    LHANDLE session = 0;
    EXPECT_EQ(Api().Logon(0, nullptr, nullptr, 0, 0, &session), SUCCESS_SUCCESS);
    return session;
  }

  ULONG Read(LHANDLE session, std::string id, FLAGS flags, Message& message) {
    lpMapiMessage raw = nullptr;
    const ULONG result = Api().ReadMail(session, 0, id.data(), flags, 0, &raw);
    message.reset(raw);
    return result;
  }

  FakeMapiMailbox mailbox_;
};

struct LogonCase {
  std::string behaviour;  // one line of behaviour.txt, or ""
  const char* profile;    // in the ANSI code page, CP932
  FLAGS flags;
  ULONG expected;
  std::string logged;
};

TEST_F(FakeMapiProviderTest, LogonAnswersAsBehaviourSays) {
  ASSERT_EQ(GetACP(), 932u) << "run under a Japanese system locale (Wine: LC_ALL=ja_JP.UTF-8)";
  const std::string plain = "MAPILogon flags=0x0 profile=";
  const LogonCase cases[] = {
      {"", nullptr, 0, SUCCESS_SUCCESS, plain},
      {"logon=3", nullptr, 0, MAPI_E_LOGIN_FAILURE, plain},
      {"logon=1", nullptr, MAPI_LOGON_UI, MAPI_E_USER_ABORT, "MAPILogon flags=0x1 profile="},
      {"logon=8", nullptr, 0, MAPI_E_TOO_MANY_SESSIONS, plain},
      {"logon-needs-ui=1", nullptr, 0, MAPI_E_LOGIN_FAILURE, plain},
      {"logon-needs-ui=1", nullptr, MAPI_LOGON_UI, SUCCESS_SUCCESS, "MAPILogon flags=0x1 profile="},
      {"profile=work", "home", 0, MAPI_E_LOGIN_FAILURE, plain + "home"},
      {"profile=work", "work", 0, SUCCESS_SUCCESS, plain + "work"},
      {"profile=work", "", 0, SUCCESS_SUCCESS, plain},
      {"profile=work", nullptr, 0, SUCCESS_SUCCESS, plain},
      {"profile=仕事", "\x8e\x64\x8e\x96", 0, SUCCESS_SUCCESS, plain + "仕事"},
      {"profile=仕事", "\x8e\x64", 0, MAPI_E_LOGIN_FAILURE, plain + "仕"},
  };
  for (const LogonCase& each : cases) {
    SCOPED_TRACE(each.logged + " with " + each.behaviour);
    FakeMapiMailbox mailbox;
    const size_t equals = each.behaviour.find('=');
    if (equals != std::string::npos) {
      mailbox.SetBehaviour(each.behaviour.substr(0, equals), each.behaviour.substr(equals + 1));
    }
    std::string profile = each.profile == nullptr ? "" : each.profile;
    LHANDLE session = 0;
    EXPECT_EQ(
        Api().Logon(0, each.profile ? profile.data() : nullptr, nullptr, each.flags, 0, &session),
        each.expected);
    EXPECT_EQ(session != 0, each.expected == SUCCESS_SUCCESS);
    EXPECT_EQ(mailbox.Calls(), std::vector<std::string>{each.logged});
    if (session != 0) {
      EXPECT_EQ(Api().Logoff(session, 0, 0, 0), SUCCESS_SUCCESS);
    }
  }
}

struct SessionCall {
  const char* what;
  std::function<ULONG(LHANDLE)> call;
};

TEST_F(FakeMapiProviderTest, ClosedOrUnknownSessionsAreRefused) {
  const LHANDLE first = LogOn();
  const LHANDLE second = LogOn();
  EXPECT_NE(first, second);
  ASSERT_EQ(Api().Logoff(first, 0, 0, 0), SUCCESS_SUCCESS);
  char id[64] = "";
  const SessionCall calls[] = {
      {"logoff", [](LHANDLE session) { return Api().Logoff(session, 0, 0, 0); }},
      {"find",
       [&](LHANDLE session) { return Api().FindNext(session, 0, nullptr, nullptr, 0, 0, id); }},
      {"read",
       [&](LHANDLE session) {
         Message message;
         return Read(session, "a1", 0, message);
       }},
  };
  for (const SessionCall& each : calls) {
    SCOPED_TRACE(each.what);
    EXPECT_EQ(each.call(first), MAPI_E_INVALID_SESSION);
    EXPECT_EQ(each.call(0x7777), MAPI_E_INVALID_SESSION);
  }
  EXPECT_TRUE(mailbox_.IsUnread("B2"));
  EXPECT_EQ(Api().FindNext(second, 0, nullptr, nullptr, 0, 0, id), SUCCESS_SUCCESS);
}

struct FindCase {
  const char* type;
  const char* seed;
  FLAGS flags;
  std::vector<std::string> found;
  ULONG end;
};

TEST_F(FakeMapiProviderTest, FindNextWalksTheMessagesInOrder) {
  const FindCase cases[] = {
      {nullptr, nullptr, 0, {"B2", "a1", "c3"}, MAPI_E_NO_MESSAGES},
      {"IPM.", "", MAPI_LONG_MSGID, {"B2", "a1", "c3"}, MAPI_E_NO_MESSAGES},
      {nullptr, nullptr, MAPI_UNREAD_ONLY, {"B2", "c3"}, MAPI_E_NO_MESSAGES},
      {nullptr, "B2", MAPI_UNREAD_ONLY, {"c3"}, MAPI_E_NO_MESSAGES},
      {nullptr, "a1", 0, {"c3"}, MAPI_E_NO_MESSAGES},
      {nullptr, "c3", 0, {}, MAPI_E_NO_MESSAGES},
      {nullptr, "zz", 0, {}, MAPI_E_INVALID_MESSAGE},
  };
  const LHANDLE session = LogOn();
  for (const FindCase& each : cases) {
    SCOPED_TRACE(std::string("from ") + (each.seed ? each.seed : "NULL"));
    std::string type = each.type ? each.type : "";
    std::string seed = each.seed ? each.seed : "";
    std::vector<std::string> found;
    char id[512];
    ULONG result;
    char* from = each.seed ? seed.data() : nullptr;
    while ((result = Api().FindNext(session, 0, each.type ? type.data() : nullptr, from, each.flags,
                                    0, id)) == SUCCESS_SUCCESS &&
           found.size() < 5) {
      found.push_back(seed = id);
      from = seed.data();
    }
    EXPECT_EQ(found, each.found);
    EXPECT_EQ(result, each.end);
    char flags[16];
    std::snprintf(flags, sizeof flags, "0x%lx", static_cast<unsigned long>(each.flags));
    EXPECT_EQ(
        mailbox_.Calls().back(),
        "MAPIFindNext type=" + std::string(each.type ? each.type : "NULL") + " flags=" + flags);
  }
}

struct IdLengthCase {
  size_t length;
  FLAGS flags;
  ULONG expected;
};

// An ID that does not fit the caller's buffer (64 bytes, 512 with
// MAPI_LONG_MSGID) is refused rather than written past its end.
TEST_F(FakeMapiProviderTest, FindNextKeepsToTheCallersBuffer) {
  const IdLengthCase cases[] = {
      {63, 0, SUCCESS_SUCCESS},
      {64, 0, MAPI_E_FAILURE},
      {64, MAPI_LONG_MSGID, SUCCESS_SUCCESS},
      {255, MAPI_LONG_MSGID, SUCCESS_SUCCESS},
  };
  for (const IdLengthCase& each : cases) {
    SCOPED_TRACE(each.length);
    FakeMapiMailbox mailbox;
    const std::string id(each.length, 'i');
    mailbox.AddMessage(id, "Long", "Ida", "ida@example.com", true, {});
    char found[513] = "";
    EXPECT_EQ(Api().FindNext(LogOn(), 0, nullptr, nullptr, each.flags, 0, found), each.expected);
    EXPECT_EQ(found, each.expected == SUCCESS_SUCCESS ? id : "");
  }
}

struct ReadCase {
  FLAGS flags;
  bool writes_files;
  bool unread_after;
};

TEST_F(FakeMapiProviderTest, ReadMailFillsTheMessageAsFlagsSay) {
  const ReadCase cases[] = {
      {0, true, false},
      {MAPI_PEEK, true, true},
      {MAPI_ENVELOPE_ONLY, false, false},
      {MAPI_ENVELOPE_ONLY | MAPI_PEEK, false, true},
      {MAPI_SUPPRESS_ATTACH | MAPI_PEEK, false, true},
  };
  for (const ReadCase& each : cases) {
    SCOPED_TRACE(each.flags);
    FakeMapiMailbox mailbox;
    mailbox.AddMessage("B2", "Second", "Bob", "bob@example.com", true,
                       {{"b.txt", "bee"}, {"a.txt", "ay"}});
    const LHANDLE session = LogOn();
    Message message;
    ASSERT_EQ(Read(session, "B2", each.flags, message), SUCCESS_SUCCESS);
    EXPECT_STREQ(message->lpszSubject, "Second");
    EXPECT_EQ(message->flFlags, ULONG{MAPI_UNREAD});
    ASSERT_NE(message->lpOriginator, nullptr);
    EXPECT_EQ(message->lpOriginator->ulRecipClass, ULONG{MAPI_ORIG});
    EXPECT_STREQ(message->lpOriginator->lpszName, "Bob");
    EXPECT_STREQ(message->lpOriginator->lpszAddress, "SMTP:bob@example.com");
    ASSERT_EQ(message->nFileCount, each.writes_files ? 2u : 0u);
    for (ULONG i = 0; i < message->nFileCount; ++i) {
      const MapiFileDesc& file = message->lpFiles[i];
      EXPECT_EQ(file.nPosition, static_cast<ULONG>(-1));
      EXPECT_STREQ(file.lpszFileName, i == 0 ? "a.txt" : "b.txt");
      EXPECT_EQ(ReadAnsiPath(file.lpszPathName), i == 0 ? "ay" : "bee");
    }
    EXPECT_EQ(mailbox.TempFiles().size(), each.writes_files ? 2u : 0u);
    EXPECT_EQ(mailbox.IsUnread("B2"), each.unread_after);
    char logged[64];
    std::snprintf(logged, sizeof logged, "MAPIReadMail id=B2 flags=0x%lx",
                  static_cast<unsigned long>(each.flags));
    EXPECT_EQ(mailbox.Calls().back(), logged);
    message.reset();
    EXPECT_EQ(mailbox.Calls().back(), "MAPIFreeBuffer");
  }
}

struct FailureCase {
  const char* what;
  std::string key;
  std::string value;
  std::string id;
  ULONG expected;
};

TEST_F(FakeMapiProviderTest, ReadMailFailsOnDemand) {
  const FailureCase cases[] = {
      {"unknown message", "", "", "zz", MAPI_E_INVALID_MESSAGE},
      {"vanished", "vanish", "B2", "B2", MAPI_E_INVALID_MESSAGE},
      {"one of those vanished", "vanish", "a1,B2", "B2", MAPI_E_INVALID_MESSAGE},
      {"another vanished", "vanish", "a1", "B2", SUCCESS_SUCCESS},
      {"unwritable", "unwritable", "B2", "B2", MAPI_E_ATTACHMENT_WRITE_FAILURE},
      {"another unwritable", "unwritable", "a1", "B2", SUCCESS_SUCCESS},
  };
  const LHANDLE session = LogOn();
  for (const FailureCase& each : cases) {
    SCOPED_TRACE(each.what);
    if (!each.key.empty()) mailbox_.SetBehaviour(each.key, each.value);
    const size_t files_before = mailbox_.TempFiles().size();
    Message message;
    EXPECT_EQ(Read(session, each.id, 0, message), each.expected);
    EXPECT_EQ(message != nullptr, each.expected == SUCCESS_SUCCESS);
    EXPECT_EQ(mailbox_.TempFiles().size() > files_before, each.expected == SUCCESS_SUCCESS);
    // A failed read leaves the message unread, even without MAPI_PEEK.
    EXPECT_EQ(mailbox_.IsUnread("B2"), each.expected != SUCCESS_SUCCESS);
    if (!each.key.empty()) mailbox_.SetBehaviour(each.key, "");
    mailbox_.AddMessage("B2", "Second", "Bob", "bob@example.com", true, {});
  }
}

struct AnsiCase {
  const char* name;          // UTF-8
  const char* ansi_name;     // CP932, '?' for what it cannot hold
  bool path_keeps_the_name;  // false: a short path
};

TEST_F(FakeMapiProviderTest, TextReachesTheCallerInTheAnsiCodePage) {
  ASSERT_EQ(GetACP(), 932u) << "run under a Japanese system locale (Wine: LC_ALL=ja_JP.UTF-8)";
  // In name order (UTF-16): Z < a < n < 請.
  const AnsiCase cases[] = {
      {"Z.txt", "Z.txt", true},
      {"a b.txt", "a b.txt", true},
      {"naïve☃.txt", "na?ve?.txt", false},
      {"請求書.pdf", "\x90\xbf\x8b\x81\x8f\x91.pdf", true},
  };
  FakeMapiMailbox mailbox;
  std::vector<FakeMapiMailbox::File> files;
  for (const AnsiCase& each : cases)
    files.push_back({each.name, std::string("bytes of ") + each.name});
  mailbox.AddMessage("j1", "請求書 café ☃", "山田太郎", "yamada@example.jp", false, files);
  Message message;
  ASSERT_EQ(Read(LogOn(), "j1", 0, message), SUCCESS_SUCCESS);
  EXPECT_STREQ(message->lpszSubject, "\x90\xbf\x8b\x81\x8f\x91 caf? ?");
  EXPECT_STREQ(message->lpOriginator->lpszName, "\x8e\x52\x93\x63\x91\xbe\x98\x59");
  ASSERT_EQ(message->nFileCount, std::size(cases));
  for (ULONG i = 0; i < message->nFileCount; ++i) {
    SCOPED_TRACE(cases[i].name);
    const std::string path = message->lpFiles[i].lpszPathName;
    EXPECT_STREQ(message->lpFiles[i].lpszFileName, cases[i].ansi_name);
    EXPECT_EQ(path.ends_with(std::string("\\") + cases[i].ansi_name), cases[i].path_keeps_the_name);
    EXPECT_EQ(path.find('?'), std::string::npos);
    EXPECT_EQ(ReadAnsiPath(path.c_str()), std::string("bytes of ") + cases[i].name);
  }
}

struct DelayCase {
  const char* what;
  const char* id;
  FLAGS flags;
  bool waits;
};

TEST_F(FakeMapiProviderTest, ReadMailWaitsOnlyWhenItWritesFiles) {
  const DelayCase cases[] = {
      {"files written", "B2", MAPI_PEEK, true},
      {"envelope only", "B2", MAPI_PEEK | MAPI_ENVELOPE_ONLY, false},
      {"no files", "c3", MAPI_PEEK, false},
  };
  mailbox_.SetBehaviour("readmail-delay-ms", "700");
  const LHANDLE session = LogOn();
  for (const DelayCase& each : cases) {
    SCOPED_TRACE(each.what);
    const auto start = std::chrono::steady_clock::now();
    Message message;
    ASSERT_EQ(Read(session, each.id, each.flags, message), SUCCESS_SUCCESS);
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(took >= std::chrono::milliseconds(700), each.waits);
  }
}

TEST_F(FakeMapiProviderTest, EachReadWritesAFreshFolderAndEveryBufferIsFreed) {
  const LHANDLE session = LogOn();
  Message first, second;
  ASSERT_EQ(Read(session, "B2", MAPI_PEEK, first), SUCCESS_SUCCESS);
  ASSERT_EQ(Read(session, "B2", MAPI_PEEK, second), SUCCESS_SUCCESS);
  EXPECT_STRNE(first->lpFiles[0].lpszPathName, second->lpFiles[0].lpszPathName);
  EXPECT_EQ(mailbox_.TempFiles().size(), 4u);
  MapiMessage* freed = first.release();
  EXPECT_EQ(Api().FreeBuffer(freed), SUCCESS_SUCCESS);
  EXPECT_EQ(mailbox_.Calls().back(), "MAPIFreeBuffer");
  // Freed twice, or never handed out: logged as unknown and left alone.
  int local = 0;
  for (void* unknown : {static_cast<void*>(freed), static_cast<void*>(&local)}) {
    EXPECT_EQ(Api().FreeBuffer(unknown), SUCCESS_SUCCESS);
    EXPECT_EQ(mailbox_.Calls().back(), "MAPIFreeBuffer unknown");
  }
}

}  // namespace
}  // namespace qm::testing
