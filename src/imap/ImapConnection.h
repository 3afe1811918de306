#pragma once
// The command layer of an IMAP session over a logged-in transport: commands
// go out with tags of their own, several of them under way at once if the
// caller likes, and the responses are read one at a time, in the order the
// server sends them. Untagged responses update what is known of the
// mailbox and then go to the caller's handler; each tagged completion goes to
// the command it completes. After any failure the stream is out of step and
// nothing more is said on it.

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "imap/ImapParser.h"
#include "imap/ImapTransport.h"

namespace qm {

class ImapConnection {
 public:
  using Handler = std::function<void(const ImapResponse&)>;

  explicit ImapConnection(std::unique_ptr<ImapTransport> transport);
  ~ImapConnection();
  ImapConnection(const ImapConnection&) = delete;
  ImapConnection& operator=(const ImapConnection&) = delete;

  ImapParser& parser() { return parser_; }

  // Sends `command`; `done` runs with its tagged completion once that is read.
  void Send(const std::string& command, Handler done);
  // Reads one response and hands it on (see above). A BYE, a tag of no
  // command under way or a continuation request throws.
  void ReadOne(const Handler& untagged);
  // Sends `command` and reads until its completion, which it returns; the
  // completions of other commands under way are handed to theirs meanwhile.
  ImapResponse Run(const std::string& command, const Handler& untagged);
  // Reads until no command is under way any more.
  void Drain(const Handler& untagged);

  std::uint32_t exists() const { return exists_; }  // messages, as last announced

  // Asks for COMPRESS=DEFLATE (RFC 4978) and turns it on when the server
  // agrees; true then. A server that does not offer it says no, and the
  // session goes on as it was. Nothing may be under way.
  bool Compress();

  // Logs out, best effort: never throws, and does not wait for the answer;
  // nothing is sent on a broken stream or while commands are under way.
  void Logout() noexcept;

 private:
  class SwitchableTransport;

  void Track(const ImapResponse& response);
  template <typename Step>
  auto Guarded(Step step);

  std::unique_ptr<SwitchableTransport> transport_;
  ImapParser parser_;
  std::map<std::string, Handler> under_way_;  // by tag
  unsigned next_tag_ = 1;
  std::uint32_t exists_ = 0;
  bool broken_ = false;
};

}  // namespace qm
