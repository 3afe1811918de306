#pragma once
// A Microsoft Graph mail server for tests: tests/support/graph_test_server.py,
// run by python3 as a child process, HTTPS on 127.0.0.1 at a free port with a
// test CA of its own. It serves the user's inbox (a Maildir, or generated
// messages) and shared mailboxes as Graph v1.0 does for the listing, $value,
// the read mark (PATCH) and $batch; tests script faults and read counts and
// the request log through the child's stdin and stdout. The destructor closes
// its stdin, on which it ends by itself (killed if it does not, soon).

#include <sys/types.h>

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "base/UniqueFd.h"
#include "tests/support/TempDir.h"

namespace qm::testing {

struct GraphServerOptions {
  // The user's inbox: files in cur/ and new/; read flag = 'S' in the Maildir flags.
  std::filesystem::path maildir;
  std::map<std::string, std::filesystem::path> shared{};  // address -> Maildir of a shared mailbox
  // OAuthTestServer::Url("/introspect"); empty: only the bearer "good-token" is
  // accepted, with every scope.
  std::string introspection_url{};
  // >0: instead of maildir, this many small generated messages, never on disk.
  int generate = 0;
};

class GraphTestServer {
 public:
  explicit GraphTestServer(GraphServerOptions options);
  ~GraphTestServer();
  GraphTestServer(const GraphTestServer&) = delete;
  GraphTestServer& operator=(const GraphTestServer&) = delete;

  std::string ApiRoot() const;  // "https://127.0.0.1:PORT/v1.0"
  std::string CaPem() const;    // the test CA, PEM text
  std::string CaFile() const;   // its path
  // The Graph id the server gives the file with that Maildir base name (the
  // name before ":2," or "!2,"; "generated-0000001" for generated messages).
  std::string IdOf(const std::string& maildir_base_name) const;

  // Faults, each for the next `times` requests whose decoded path holds
  // `pattern` ($batch items included, as "/v1.0/me/messages/ID").
  // 429 ApplicationThrottled or 503 ServiceUnavailable; retry_after_seconds < 0: no header.
  void Throttle(const std::string& pattern, int times, int status, int retry_after_seconds);
  void Fail(const std::string& pattern, int times, int status, const std::string& code);
  // The full Content-Length, `after_bytes` of the body, then the connection closes.
  void CutBody(const std::string& pattern, int times, std::size_t after_bytes);
  // A slow server: this long before each answer.
  void SetDelay(std::chrono::milliseconds per_response);
  // Deleted by another client: gone from listings, 404 ErrorItemNotFound after.
  void Remove(const std::string& maildir_base_name);

  struct Counts {
    int pages = 0, values = 0, patches = 0, batches = 0, batch_items = 0, throttled = 0,
        unauthorized = 0, forbidden = 0, max_concurrent = 0, connections = 0;
  };
  Counts counts() const;
  // "METHOD /decoded/path" of each request in order (no query); each $batch
  // item follows its batch as "$batch METHOD /path".
  std::vector<std::string> Log() const;

 private:
  // Sends one command line and returns the answer line.
  std::string Ask(const std::string& command) const;
  std::string ReadLine(std::chrono::milliseconds limit) const;
  void Spawn(const std::vector<std::string>& args);

  TempDir dir_;
  pid_t pid_ = 0;
  UniqueFd to_server_;
  UniqueFd from_server_;
  mutable std::string pending_;  // read from the child past the last whole line
  mutable std::mutex mutex_;
  int port_ = 0;
};

}  // namespace qm::testing
