// qm_fake_mapi.dll: a stand-in mail client's Simple MAPI provider for the
// Windows tests. MAPI32.DLL forwards the Simple MAPI calls to it once it is
// registered as the default mail client (FakeMapiMailbox::Register); it
// serves the mailbox folder named by QM_FAKE_MAPI_MAILBOX at logon, fails
// on demand as behaviour.txt asks and logs every call to calls.log.

#include <windows.h>

#include <mapi.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <new>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "FakeMapiFolder.h"

namespace {

using qm::fake_mapi::AnsiOfWide;
using qm::fake_mapi::KeyValues;
using qm::fake_mapi::MailboxFolder;
using qm::fake_mapi::Utf8OfWide;
using qm::fake_mapi::WideOfAnsi;

// Open sessions (handle -> the mailbox read at their logon) and the blocks
// MAPIReadMail handed out (block -> the mailbox whose log records its release).
std::mutex state_lock;
std::map<LHANDLE, std::wstring> sessions;
std::map<void*, std::wstring> buffers;
LHANDLE next_session = 0x5100;

std::wstring MailboxOfEnvironment() {
  wchar_t value[MAX_PATH * 4] = L"";
  GetEnvironmentVariableW(L"QM_FAKE_MAPI_MAILBOX", value, sizeof value / sizeof value[0]);
  return value;
}

std::optional<std::wstring> MailboxOfSession(LHANDLE session) {
  std::lock_guard<std::mutex> held(state_lock);
  const auto found = sessions.find(session);
  if (found == sessions.end()) return std::nullopt;
  return found->second;
}

// What the caller passed, as UTF-8 for the log.
std::string Shown(const char* ansi) { return Utf8OfWide(WideOfAnsi(ansi)); }

std::string Hex(ULONG value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%lx", static_cast<unsigned long>(value));
  return text;
}

// The body of an export, run so that no exception leaves the DLL.
template <typename Body>
ULONG Guarded(Body&& body) noexcept {
  try {
    return body();
  } catch (const std::bad_alloc&) {
    return MAPI_E_INSUFFICIENT_MEMORY;
  } catch (...) {
    return MAPI_E_FAILURE;
  }
}

// Whether `id` is one of the comma-separated IDs of behaviour `key`.
bool Listed(const KeyValues& behaviour, const std::string& key, const std::string& id) {
  const auto found = behaviour.find(key);
  if (found == behaviour.end()) return false;
  std::istringstream ids(found->second);
  for (std::string each; std::getline(ids, each, ',');) {
    if (each == id) return true;
  }
  return false;
}

ULONG LogonResult(const KeyValues& behaviour, const char* profile, FLAGS flags) {
  const auto forced = behaviour.find("logon");
  if (forced != behaviour.end() && std::stoul(forced->second) != 0) {
    return std::stoul(forced->second);
  }
  const auto needs_ui = behaviour.find("logon-needs-ui");
  if (needs_ui != behaviour.end() && needs_ui->second == "1" && !(flags & MAPI_LOGON_UI)) {
    return MAPI_E_LOGIN_FAILURE;
  }
  const auto expected = behaviour.find("profile");
  const std::string given = Shown(profile);
  if (expected != behaviour.end() && !given.empty() && given != expected->second) {
    return MAPI_E_LOGIN_FAILURE;
  }
  return SUCCESS_SUCCESS;
}

// The position in `ids` after `seed` (the first for no seed), or nullopt for an unknown seed.
std::optional<size_t> StartAfter(const std::vector<std::wstring>& ids, const char* seed) {
  if (seed == nullptr || *seed == '\0') return 0;
  const std::wstring wanted = WideOfAnsi(seed);
  for (size_t i = 0; i < ids.size(); ++i) {
    if (ids[i] == wanted) return i + 1;
  }
  return std::nullopt;
}

bool IsKnown(const MailboxFolder& mailbox, const std::wstring& id) {
  for (const std::wstring& each : mailbox.MessageIds()) {
    if (each == id) return true;
  }
  return false;
}

// One attachment as the caller sees it: a path that opens and the name.
struct AnsiFile {
  std::string path;
  std::string name;
};

// The full path in ANSI; when the code page cannot hold it, the short (8.3)
// form of the path, which has no such characters and still opens the file.
AnsiFile AnsiFileOf(const std::wstring& path) {
  AnsiFile file;
  bool lossy = false;
  file.path = AnsiOfWide(path, &lossy);
  if (lossy) {
    wchar_t short_path[MAX_PATH * 2];
    const DWORD length = GetShortPathNameW(path.c_str(), short_path, MAX_PATH * 2);
    if (length > 0 && length < MAX_PATH * 2) file.path = AnsiOfWide(short_path);
  }
  file.name = AnsiOfWide(path.substr(path.rfind(L'\\') + 1));
  return file;
}

struct MessageText {
  std::string subject;
  std::string sender;
  std::string address;
  bool unread = false;
  std::vector<AnsiFile> files;
};

// Copies `text` to `cursor`, NUL-terminated, and moves the cursor past it.
char* Put(char*& cursor, const std::string& text) {
  char* start = cursor;
  std::memcpy(cursor, text.c_str(), text.size() + 1);
  cursor += text.size() + 1;
  return start;
}

// The message as one block: the MapiMessage, its originator, its file
// descriptions, then the strings they point to. MAPIFreeBuffer releases it.
lpMapiMessage AllocateMessage(const MessageText& text) {
  const size_t files = text.files.size();
  size_t size = sizeof(MapiMessage) + sizeof(MapiRecipDesc) + files * sizeof(MapiFileDesc);
  size += text.subject.size() + text.sender.size() + text.address.size() + 4;
  for (const AnsiFile& file : text.files) size += file.path.size() + file.name.size() + 2;
  auto* message = static_cast<lpMapiMessage>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, size));
  if (message == nullptr) return nullptr;
  auto* originator = reinterpret_cast<lpMapiRecipDesc>(message + 1);
  auto* descs = reinterpret_cast<lpMapiFileDesc>(originator + 1);
  char* cursor = reinterpret_cast<char*>(descs + files);
  message->lpszSubject = Put(cursor, text.subject);
  message->lpszNoteText = Put(cursor, "");
  message->flFlags = text.unread ? MAPI_UNREAD : 0;
  message->lpOriginator = originator;
  originator->ulRecipClass = MAPI_ORIG;
  originator->lpszName = Put(cursor, text.sender);
  originator->lpszAddress = Put(cursor, text.address);
  message->nFileCount = static_cast<ULONG>(files);
  message->lpFiles = files > 0 ? descs : nullptr;
  for (size_t i = 0; i < files; ++i) {
    descs[i].nPosition = static_cast<ULONG>(-1);
    descs[i].lpszPathName = Put(cursor, text.files[i].path);
    descs[i].lpszFileName = Put(cursor, text.files[i].name);
  }
  return message;
}

MessageText EnvelopeText(const MailboxFolder& mailbox, const std::wstring& id) {
  const qm::fake_mapi::Envelope envelope = mailbox.ReadEnvelope(id);
  MessageText text;
  text.subject = AnsiOfWide(envelope.subject);
  text.sender = AnsiOfWide(envelope.sender);
  text.address = AnsiOfWide(L"SMTP:" + envelope.address);
  text.unread = mailbox.IsUnread(id);
  return text;
}

// Writes the attachments as MAPIReadMail does: MAPI_E_ATTACHMENT_WRITE_FAILURE
// when that fails or behaviour.txt says so, after the asked delay otherwise.
ULONG WriteFiles(const MailboxFolder& mailbox, const KeyValues& behaviour, const std::wstring& id,
                 MessageText& text) {
  if (Listed(behaviour, "unwritable", Utf8OfWide(id))) return MAPI_E_ATTACHMENT_WRITE_FAILURE;
  const auto written = mailbox.WriteAttachments(id);
  if (!written) return MAPI_E_ATTACHMENT_WRITE_FAILURE;
  for (const std::wstring& path : *written) text.files.push_back(AnsiFileOf(path));
  const auto delay = behaviour.find("readmail-delay-ms");
  if (!written->empty() && delay != behaviour.end()) Sleep(std::stoul(delay->second));
  return SUCCESS_SUCCESS;
}

ULONG ReadMail(const MailboxFolder& mailbox, const char* id_text, FLAGS flags,
               lpMapiMessage* message) {
  const KeyValues behaviour = mailbox.Behaviour();
  const std::wstring id = WideOfAnsi(id_text);
  if (!IsKnown(mailbox, id) || Listed(behaviour, "vanish", Utf8OfWide(id))) {
    return MAPI_E_INVALID_MESSAGE;
  }
  if (message == nullptr) return MAPI_E_FAILURE;
  MessageText text = EnvelopeText(mailbox, id);
  if (!(flags & (MAPI_ENVELOPE_ONLY | MAPI_SUPPRESS_ATTACH))) {
    if (const ULONG failed = WriteFiles(mailbox, behaviour, id, text)) return failed;
  }
  const lpMapiMessage block = AllocateMessage(text);
  if (block == nullptr) return MAPI_E_INSUFFICIENT_MEMORY;
  {
    std::lock_guard<std::mutex> held(state_lock);
    buffers.emplace(block, mailbox.root());
  }
  // Only now, after any delay: a caller killed before the answer leaves it unread.
  if (!(flags & MAPI_PEEK)) mailbox.MarkRead(id);
  *message = block;
  return SUCCESS_SUCCESS;
}

ULONG FindNext(const MailboxFolder& mailbox, const char* seed, FLAGS flags, char* id_out) {
  const std::vector<std::wstring> ids = mailbox.MessageIds();
  const std::optional<size_t> start = StartAfter(ids, seed);
  if (!start) return MAPI_E_INVALID_MESSAGE;
  for (size_t i = *start; i < ids.size(); ++i) {
    if ((flags & MAPI_UNREAD_ONLY) && !mailbox.IsUnread(ids[i])) continue;
    const std::string id = AnsiOfWide(ids[i]);
    // The caller's buffer: 512 bytes with MAPI_LONG_MSGID, else 64.
    const size_t room = (flags & MAPI_LONG_MSGID) ? 512 : 64;
    if (id_out == nullptr || id.size() >= room) return MAPI_E_FAILURE;
    std::memcpy(id_out, id.c_str(), id.size() + 1);
    return SUCCESS_SUCCESS;
  }
  return MAPI_E_NO_MESSAGES;
}

}  // namespace

extern "C" __declspec(dllexport) ULONG WINAPI
    MAPILogon(ULONG_PTR, LPSTR profile, LPSTR, FLAGS flags, ULONG, LPLHANDLE session) {
  return Guarded([&]() -> ULONG {
    const MailboxFolder mailbox(MailboxOfEnvironment());
    mailbox.Log("MAPILogon flags=" + Hex(flags) + " profile=" + Shown(profile));
    if (const ULONG refused = LogonResult(mailbox.Behaviour(), profile, flags)) return refused;
    if (session == nullptr) return MAPI_E_FAILURE;
    std::lock_guard<std::mutex> held(state_lock);
    *session = next_session++;
    sessions.emplace(*session, mailbox.root());
    return SUCCESS_SUCCESS;
  });
}

extern "C" __declspec(dllexport) ULONG WINAPI MAPILogoff(LHANDLE session, ULONG_PTR, FLAGS, ULONG) {
  return Guarded([&]() -> ULONG {
    const std::optional<std::wstring> root = MailboxOfSession(session);
    MailboxFolder(root.value_or(MailboxOfEnvironment())).Log("MAPILogoff");
    if (!root) return MAPI_E_INVALID_SESSION;
    std::lock_guard<std::mutex> held(state_lock);
    sessions.erase(session);
    return SUCCESS_SUCCESS;
  });
}

extern "C" __declspec(dllexport) ULONG WINAPI
    MAPIFindNext(LHANDLE session, ULONG_PTR, LPSTR type, LPSTR seed, FLAGS flags, ULONG,
                 LPSTR id_out) {
  return Guarded([&]() -> ULONG {
    const std::optional<std::wstring> root = MailboxOfSession(session);
    const MailboxFolder mailbox(root.value_or(MailboxOfEnvironment()));
    const std::string shown_type = type == nullptr ? "NULL" : Shown(type);
    mailbox.Log("MAPIFindNext type=" + shown_type + " flags=" + Hex(flags));
    if (!root) return MAPI_E_INVALID_SESSION;
    return FindNext(mailbox, seed, flags, id_out);
  });
}

extern "C" __declspec(dllexport) ULONG WINAPI
    MAPIReadMail(LHANDLE session, ULONG_PTR, LPSTR id, FLAGS flags, ULONG, lpMapiMessage* message) {
  return Guarded([&]() -> ULONG {
    const std::optional<std::wstring> root = MailboxOfSession(session);
    const MailboxFolder mailbox(root.value_or(MailboxOfEnvironment()));
    mailbox.Log("MAPIReadMail id=" + Shown(id) + " flags=" + Hex(flags));
    if (!root) return MAPI_E_INVALID_SESSION;
    return ReadMail(mailbox, id, flags, message);
  });
}

// Releases a block of MAPIReadMail's; other pointers are logged and left alone.
extern "C" __declspec(dllexport) ULONG WINAPI MAPIFreeBuffer(LPVOID block) {
  return Guarded([&]() -> ULONG {
    std::unique_lock<std::mutex> held(state_lock);
    const auto found = buffers.find(block);
    if (found == buffers.end()) {
      held.unlock();
      MailboxFolder(MailboxOfEnvironment()).Log("MAPIFreeBuffer unknown");
      return SUCCESS_SUCCESS;
    }
    const MailboxFolder mailbox(found->second);
    buffers.erase(found);
    held.unlock();
    HeapFree(GetProcessHeap(), 0, block);
    mailbox.Log("MAPIFreeBuffer");
    return SUCCESS_SUCCESS;
  });
}
