#pragma once
// A TCP relay on 127.0.0.1 in front of a local server that turns it into a
// trickling one: every connection accepted on port() is forwarded to the
// target port, the client's bytes at once, the server's first `free_bytes`
// at once too and every later byte alone, one per `interval`, as a server
// would that keeps a connection alive without ever getting on with it. TLS
// passes through untouched. Each direction of a connection has a thread of
// its own; the relay stops them all when it goes.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <list>
#include <mutex>
#include <thread>
#include <vector>

#include "base/UniqueFd.h"

namespace qm::testing {

class TrickleRelay {
 public:
  TrickleRelay(int target_port, std::uint64_t free_bytes, std::chrono::milliseconds interval);
  ~TrickleRelay();
  TrickleRelay(const TrickleRelay&) = delete;
  TrickleRelay& operator=(const TrickleRelay&) = delete;

  int port() const { return port_; }
  // Bytes passed on to clients one at a time so far.
  std::uint64_t trickled() const { return trickled_; }

 private:
  void AcceptLoop();
  // Copies `from` to `to` until either end closes or the relay stops.
  void Pump(int from, int to, bool to_client);
  // Waits one interval; false when the relay stops meanwhile.
  bool Sleep();

  int target_port_;
  std::uint64_t free_bytes_;
  std::chrono::milliseconds interval_;
  int port_ = 0;
  UniqueFd listener_;
  std::mutex mutex_;
  std::condition_variable stopped_;
  bool stopping_ = false;
  std::vector<UniqueFd> sockets_;
  std::list<std::thread> pumps_;
  std::atomic<std::uint64_t> trickled_{0};
  std::thread accepter_;
};

}  // namespace qm::testing
