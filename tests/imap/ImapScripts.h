#pragma once
// Pieces of scripted IMAP sessions: what the store sends and what a server
// (shaped after Dovecot's answers) sends back, for the store's tests.

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "imap/ImapStore.h"
#include "tests/imap/ScriptedTransport.h"

namespace qm::testing::imap_scripts {

// Whether a spool file's name is gone while the file is still open. Windows
// keeps it until the file closes, unless NTFS removes it the POSIX way
// (Windows 10 1709 on); Wine always keeps it. Nothing is left once closed.
#ifdef _WIN32
inline constexpr bool kSpoolNamesGoWhileOpen = false;
#else
inline constexpr bool kSpoolNamesGoWhileOpen = true;
#endif

inline constexpr char kHeaderFetch[] =
    "UID FETCH 1:* (UID FLAGS RFC822.SIZE BODYSTRUCTURE BODY.PEEK[HEADER.FIELDS (SUBJECT FROM)])";

inline std::vector<ScriptStep> Select(int tag, int exists, const std::string& mailbox = "\"INBOX\"",
                                      const std::string& uid_validity = "1700000000") {
  const std::string t = "a" + std::to_string(tag);
  return {Client(t + " SELECT " + mailbox),
          Server("* FLAGS (\\Answered \\Flagged \\Deleted \\Seen \\Draft)\r\n"
                 "* OK [PERMANENTFLAGS (\\Answered \\Flagged \\Deleted \\Seen \\Draft \\*)] Ok\r\n"
                 "* " +
                 std::to_string(exists) +
                 " EXISTS\r\n* 0 RECENT\r\n"
                 "* OK [UIDVALIDITY " +
                 uid_validity +
                 "] UIDs valid\r\n"
                 "* OK [UIDNEXT 40] Predicted next UID\r\n" +
                 t + " OK [READ-WRITE] Select completed (0.001 + 0.000 secs).\r\n")};
}

// The store does not wait for the server's goodbye.
inline std::vector<ScriptStep> Logout(int tag) {
  return {Client("a" + std::to_string(tag) + " LOGOUT")};
}

// Exchanges whose commands go out together before any answer is read, as
// SELECT and the listing do: every client step of the parts first, then
// every server step, each in the parts' order.
inline std::vector<ScriptStep> Pipelined(std::vector<std::vector<ScriptStep>> parts) {
  std::vector<ScriptStep> steps;
  for (const bool from_client : {true, false}) {
    for (const auto& part : parts) {
      for (const ScriptStep& step : part) {
        if (step.from_client == from_client) steps.push_back(step);
      }
    }
  }
  return steps;
}

// The listing of an empty mailbox: Dovecot answers "1:*" with a plain OK.
inline std::vector<ScriptStep> EmptyListing(int tag) {
  return {Client("a" + std::to_string(tag) + " " + kHeaderFetch),
          Server("a" + std::to_string(tag) + " OK Fetch completed.\r\n")};
}

inline std::string FetchedHeaders(int seq, int uid, const std::string& flags,
                                  const std::string& block) {
  return "* " + std::to_string(seq) + " FETCH (UID " + std::to_string(uid) + " FLAGS (" + flags +
         ") BODY[HEADER.FIELDS (SUBJECT FROM)] " + LiteralOf(block) + ")\r\n";
}

// A listing response with a size and a structure, as the store asks for them.
inline std::string Listed(int seq, int uid, std::uint64_t size, const std::string& structure,
                          const std::string& subject) {
  const std::string block = "Subject: " + subject + "\r\n\r\n";
  return "* " + std::to_string(seq) + " FETCH (UID " + std::to_string(uid) +
         " FLAGS () RFC822.SIZE " + std::to_string(size) + " BODYSTRUCTURE " + structure +
         " BODY[HEADER.FIELDS (SUBJECT FROM)] " + LiteralOf(block) + ")\r\n";
}

// The answer to one message's fetch: its body, then the tagged OK.
inline std::string Body(int seq, int uid, const std::string& body) {
  return "* " + std::to_string(seq) + " FETCH (UID " + std::to_string(uid) + " BODY[] " +
         LiteralOf(body) + ")\r\n";
}

inline std::string Tagged(int tag, const std::string& rest) {
  return "a" + std::to_string(tag) + " " + rest + "\r\n";
}

inline std::shared_ptr<Script> MakeScript(std::vector<std::vector<ScriptStep>> parts,
                                          std::size_t piece = 4096) {
  auto script = std::make_shared<Script>();
  for (auto& part : parts) {
    script->steps.insert(script->steps.end(), part.begin(), part.end());
  }
  script->piece = piece;
  return script;
}

inline std::unique_ptr<ImapStore> StoreOn(const std::shared_ptr<Script>& script,
                                          std::string mailbox = "INBOX") {
  return std::make_unique<ImapStore>(std::make_unique<ScriptedTransport>(script),
                                     std::move(mailbox), /*compress=*/false);
}

inline void ExpectScriptPlayed(const Script& script) {
  for (const std::string& mismatch : script.mismatches) ADD_FAILURE() << mismatch;
  EXPECT_TRUE(script.Finished()) << "stopped at step " << script.next;
}

}  // namespace qm::testing::imap_scripts
