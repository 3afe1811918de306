#pragma once
// What the end-to-end tests share: the settings file they write, the
// messages they deliver, the selections with the files each must save, and
// a headless run of the real binary.

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/FileBytes.h"
#include "tests/support/Subprocess.h"

namespace qm::testing {

struct StoredSettings {
  std::string path;
  std::string keyword;
  int item = 0;
  std::array<int, 3> opt{};
};

// A REG_SZ value as a REGEDIT4 file writes it.
inline std::string RegText(const std::string& text) {
  std::string escaped;
  for (char c : text) {
    if (c == '\\' || c == '"') escaped += '\\';
    escaped += c;
  }
  return "\"" + escaped + "\"";
}

inline std::string RegDword(int value) {
  char text[32];
  std::snprintf(text, sizeof text, "dword:%08x", static_cast<unsigned>(value));
  return text;
}

// The settings file: the program's values, then the mail profile's lines
// (`"Name"=value` each) under their own key.
inline void WriteSettingsFile(const std::filesystem::path& file, const StoredSettings& s,
                              const std::vector<std::string>& profile_lines) {
  std::ofstream reg(file, std::ios::binary);
  // As the program writes it: the password in it is for the user's eyes only.
  std::filesystem::permissions(
      file, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
  reg << "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Vantrel\\Quillmar]\n"
      << "\"PATH1\"=" << RegText(s.path) << "\n\"KEY1\"=" << RegText(s.keyword) << "\n"
      << "\"ITEM1\"=" << RegDword(s.item) << "\n\"OPT1\"=" << RegDword(s.opt[0]) << "\n"
      << "\"OPT2\"=" << RegDword(s.opt[1]) << "\n\"OPT3\"=" << RegDword(s.opt[2]) << "\n"
      << "\"LEFT\"=\"0\"\n\"TOP\"=\"0\"\n";
  if (profile_lines.empty()) return;
  reg << "\n[HKEY_CURRENT_USER\\SOFTWARE\\Vantrel\\Quillmar\\Mail]\n";
  for (const std::string& line : profile_lines) reg << line << "\n";
}

// One message with one attachment named `file` (empty: none), given as the
// percent-encoded UTF-8 of a filename*= parameter.
inline std::string Message(const std::string& subject, const std::string& from,
                           const std::string& file) {
  std::string m = "From: " + from + "\nSubject: " + subject +
                  "\nMIME-Version: 1.0\nContent-Type: multipart/mixed; boundary=\"zz\"\n\n"
                  "--zz\nContent-Type: text/plain; charset=UTF-8\n\nHello.\n";
  if (!file.empty()) {
    m += "--zz\nContent-Type: application/octet-stream\nContent-Disposition: attachment;"
         " filename*=UTF-8''" +
         file + "\nContent-Transfer-Encoding: 7bit\n\ncontent of " + file + "\n";
  }
  return m + "--zz--\n";
}

// One message with one attachment `name` of about `size` bytes, sent as
// base64 (lines of 'Q'); BigAttachmentSize tells its exact size.
inline std::string BigMessage(const std::string& name, std::size_t size) {
  std::string lines;
  const std::string line(76, 'Q');
  for (std::size_t decoded = 0; decoded < size; decoded += 57) lines += line + "\n";
  return "From: a@example.com\nSubject: big\nMIME-Version: 1.0\n"
         "Content-Type: multipart/mixed; boundary=\"zz\"\n\n"
         "--zz\nContent-Type: text/plain\n\nHello.\n"
         "--zz\nContent-Type: application/octet-stream\n"
         "Content-Disposition: attachment; filename=\"" +
         name + "\"\nContent-Transfer-Encoding: base64\n\n" + lines + "--zz--\n";
}

// The size of the file BigMessage(name, size) carries: whole lines of 57 bytes.
inline std::size_t BigAttachmentSize(std::size_t size) { return (size + 56) / 57 * 57; }

struct Delivery {
  std::string bytes;
  bool seen = false;
};

// The inbox the selection cases run on: Japanese subjects and senders in
// several encodings, a broken encoded word, a read message, one without files.
inline std::vector<Delivery> SelectionInbox() {
  return {
      {Message("Invoice for May", "Billing <billing@example.jp>", "invoice.pdf")},
      {Message("=?ISO-2022-JP?B?GyRCJDQwRkZiGyhC?=", "=?UTF-8?B?5bGx55Sw?= <yamada@abc.example>",
               "%E8%A6%8B%E7%A9%8D.pdf"),
       true},
      {Message("broken =?UTF-8?B?!!!?= word", "x@example.com", "x.bin")},
      {Message("=?UTF-8?B?772x776E776e776a77295biz?=", "Book <book@example.jp>", "book.csv")},
      {Message("no attachment", "Alice <alice@example.jp>", "")},
  };
}

struct SelectionCase {
  const char* name;
  std::string keyword;
  int item;
  std::array<int, 3> opt;
  std::set<std::string> saved;
};

// Parameterised cases show their names in test listings, not their bytes.
inline void PrintTo(const SelectionCase& c, std::ostream* os) { *os << c.name; }

inline std::vector<SelectionCase> SelectionCases() {
  const std::set<std::string> all = {"invoice.pdf", "見積.pdf", "x.bin", "book.csv"};
  const std::set<std::string> unread = {"invoice.pdf", "x.bin", "book.csv"};
  return {
      {"EmptyKeyword", "", 0, {0, 0, 0}, all},
      {"Star", "*", 0, {0, 0, 1}, all},
      {"SubjectCase", "INVOICE", 0, {0, 0, 0}, {"invoice.pdf"}},
      {"SubjectJapanese", "案内", 0, {0, 0, 0}, {"見積.pdf"}},
      {"SubjectWidthAndKana", "アドレス", 0, {0, 0, 0}, {"book.csv"}},
      {"SenderName", "山田", 1, {0, 0, 0}, {"見積.pdf"}},
      {"Address", "ABC", 2, {0, 0, 0}, {"見積.pdf"}},
      {"AddressNotSubject", "invoice", 2, {0, 0, 0}, {}},
      {"UnreadOnly", "", 0, {0, 1, 0}, unread},
      {"AllMail", "zzz", 0, {1, 0, 0}, all},
      {"AllUnread", "zzz", 0, {1, 1, 0}, unread},
      {"GrayedAllIsKeywordMode", "invoice", 0, {2, 0, 0}, {"invoice.pdf"}},
      {"GrayedUnreadIsUnreadOnly", "", 0, {0, 2, 0}, unread},
      {"GrayedAutoExit", "invoice", 0, {0, 0, 2}, {"invoice.pdf"}},
  };
}

// The folders a headless run uses, below `root`.
inline void MakeRunFolders(const std::filesystem::path& root) {
  for (const char* sub : {"home", "config/Vantrel", "tmp", "runtime", "out"}) {
    std::filesystem::create_directories(root / sub);
  }
  std::filesystem::permissions(root / "runtime", std::filesystem::perms::owner_all);
}

// The environment cron gives a run: no display, a private home and temp folder.
// The unique parts of the names of the messages in `maildir` that the
// program marked seen.
inline std::set<std::string> SeenIn(const std::filesystem::path& maildir) {
  std::set<std::string> seen;
  for (const auto& e : std::filesystem::directory_iterator(maildir / "cur")) {
    const std::string name = e.path().filename().string();
    const auto info = name.find(":2,");
    if (info != std::string::npos && name.find('S', info) != std::string::npos) {
      seen.insert(name.substr(0, info));
    }
  }
  return seen;
}

inline std::map<std::string, std::string> HeadlessEnvironment(const std::filesystem::path& root) {
  return {{"HOME", (root / "home").string()},
          {"XDG_CONFIG_HOME", (root / "config").string()},
          {"XDG_RUNTIME_DIR", (root / "runtime").string()},
          {"TMPDIR", (root / "tmp").string()},
          {"LANG", "C.UTF-8"},
          {"PATH", "/usr/bin:/bin"}};
}

// What a run with 自動終了 that went well prints: the one line of its
// summary on stdout (in English here), nothing on stderr.
inline bool IsSummaryOnly(const ProgramResult& r) {
  const std::string prefix = "quillmar: files saved: ";
  return r.err.empty() && r.out.rfind(prefix, 0) == 0 && r.out.find('\n') == r.out.size() - 1;
}

// quillmar -a as cron starts it.
inline ProgramResult RunHeadless(const std::filesystem::path& root,
                                 const std::vector<std::string>& args = {"-a"}) {
  return RunProgram(QM_BINARY, args, HeadlessEnvironment(root));
}

// The same run, left running while the test goes on.
inline std::unique_ptr<RunningProgram> StartHeadless(
    const std::filesystem::path& root, const std::map<std::string, std::string>& env_changes = {}) {
  std::map<std::string, std::string> env = HeadlessEnvironment(root);
  for (const auto& [name, value] : env_changes) env[name] = value;
  return std::make_unique<RunningProgram>(QM_BINARY, std::vector<std::string>{"-a"}, env);
}

}  // namespace qm::testing
