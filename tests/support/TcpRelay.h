#pragma once
// A TCP relay on 127.0.0.1 in front of a local server, on a thread of its own:
// every connection accepted on port() is forwarded byte for byte to the
// target port (TLS passes through untouched). It counts the bytes of each
// direction and can cut the connections in the middle of a session: when the
// test calls Cut(), or once a given number of bytes has gone from the server
// to the clients. A cut connection is reset (RST), or closed (FIN) when the
// options say so; the relay goes on accepting, and later connections pass.
// Instead of cutting, it can fall silent: the connections stay open, and
// nothing passes any more either way, as with a server that stopped answering.

#include <atomic>
#include <cstdint>
#include <list>
#include <string>
#include <thread>
#include <vector>

#include "base/UniqueFd.h"

struct pollfd;

namespace qm::testing {

struct TcpRelayOptions {
  // Cut every open connection once this many bytes went to clients (0: never).
  // Only the bytes up to that count are passed on.
  std::uint64_t cut_after_bytes_to_client = 0;
  bool reset_on_cut = true;             // false: a plain close
  bool silence_instead_of_cut = false;  // at the byte count: keep the connections, pass nothing
};

class TcpRelay {
 public:
  explicit TcpRelay(int target_port, TcpRelayOptions options = {});
  ~TcpRelay();
  TcpRelay(const TcpRelay&) = delete;
  TcpRelay& operator=(const TcpRelay&) = delete;

  int port() const { return port_; }
  std::uint64_t bytes_to_client() const { return to_client_; }
  std::uint64_t bytes_to_server() const { return to_server_; }
  int connections() const { return accepted_; }
  // True once connections were cut (by Cut() or the byte count).
  bool cut() const { return cut_; }
  // True once the relay fell silent.
  bool silent() const { return silent_; }

  // Cuts every open connection now.
  void Cut();

 private:
  // One direction of a connection: bytes read from `from`, not yet written to `to`.
  struct Flow {
    int from;
    int to;
    std::atomic<std::uint64_t>* counter;
    std::string pending;
    bool ended = false;  // `from` sent its last byte
    bool shut = false;   // and that end was passed on to `to`
  };
  struct Connection {
    UniqueFd client;
    UniqueFd server;
    Flow up;    // client to server
    Flow down;  // server to client
    bool cut_when_sent = false;
    bool Done() const { return up.shut && down.shut; }
  };

  void Wake();
  void Loop();
  // Moves the bytes of the connections whose sockets `fds` found ready; the
  // connections are in the order their sockets were put into `fds`.
  void ServeReady(std::list<Connection>& connections, const std::vector<pollfd>& fds);
  void DrainWake();
  void Accept(std::list<Connection>& connections);
  // Reads what `flow` has to offer and passes it on; false when the
  // connection is broken. Bytes to the client stop at the cut.
  bool Pass(Flow& flow, bool& cut_when_sent, bool to_client);
  // Writes what is pending; passes an ended flow's end on. False when broken.
  bool Flush(Flow& flow);
  void CutAll(std::list<Connection>& connections);

  int target_port_;
  TcpRelayOptions options_;
  UniqueFd listener_;
  UniqueFd wake_read_;
  UniqueFd wake_write_;
  int port_ = 0;
  std::atomic<std::uint64_t> to_client_{0};
  std::atomic<std::uint64_t> to_server_{0};
  std::uint64_t total_pending_down_ = 0;  // read from servers, not yet sent: relay thread only
  std::atomic<int> accepted_{0};
  std::atomic<bool> cut_{false};
  std::atomic<bool> silent_{false};
  std::atomic<bool> cut_requested_{false};
  std::atomic<bool> stopping_{false};
  std::thread thread_;
};

}  // namespace qm::testing
