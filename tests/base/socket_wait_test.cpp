// The socket calls and the wait on sockets, on 127.0.0.1: the same cases on
// Linux and under Wine.

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "base/SocketCalls.h"
#include "base/SocketWait.h"

namespace qm {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using End = SocketWaitResult::End;
using Interest = SocketWatch::Interest;

// Both ends of one TCP connection on 127.0.0.1: `ours` accepted by a
// listener (non-blocking), `peer` connected to it (blocking).
struct Connection {
  UniqueSocket ours;
  UniqueSocket peer;
};

Connection Connect() {
  int port = 0;
  const UniqueSocket listener = ListenOnLoopback(4, port);
  if (!listener.valid()) ADD_FAILURE() << "no listener: error " << LastSocketError();
  Connection connection;
  connection.peer = ConnectToLoopback(port);
  if (!connection.peer.valid()) ADD_FAILURE() << "no connection: error " << LastSocketError();
  // The listener is readable once the connection waits to be accepted.
  SocketWatch pending{listener.get(), Interest::kReadable};
  const SocketWaitResult result = WaitForSockets({&pending, 1}, 10s, nullptr);
  EXPECT_EQ(result.end, End::kReady);
  connection.ours = AcceptPending(listener.get());
  if (!connection.ours.valid()) ADD_FAILURE() << "nothing accepted: error " << LastSocketError();
  return connection;
}

void PeerWrites(Connection& connection) {
  ASSERT_EQ(SendSome(connection.peer.get(), "x"), 1) << "error " << LastSocketError();
}
void PeerCloses(Connection& connection) { connection.peer.Reset(); }
void NothingHappens(Connection&) {}

struct ReadinessCase {
  const char* name;
  // What the peers of two connections do before the wait, each.
  std::function<void(Connection&)> first_peer;
  std::function<void(Connection&)> second_peer;
  Interest interest;
  End end;
  bool first_ready;
  bool second_ready;
};

TEST(WaitForSockets, TellsWhichSocketIsReady) {
  const ReadinessCase cases[] = {
      {"the peer wrote to the second", NothingHappens, PeerWrites, Interest::kReadable, End::kReady,
       false, true},
      {"the peer wrote to the first", PeerWrites, NothingHappens, Interest::kReadable, End::kReady,
       true, false},
      {"a closed peer counts as ready", PeerCloses, NothingHappens, Interest::kReadable,
       End::kReady, true, false},
      {"both can take bytes", NothingHappens, NothingHappens, Interest::kWritable, End::kReady,
       true, true},
      {"both silent", NothingHappens, NothingHappens, Interest::kReadable, End::kTimedOut, false,
       false},
  };
  for (const ReadinessCase& c : cases) {
    SCOPED_TRACE(c.name);
    Connection first = Connect();
    Connection second = Connect();
    c.first_peer(first);
    c.second_peer(second);
    SocketWatch watches[] = {{first.ours.get(), c.interest}, {second.ours.get(), c.interest}};
    // Writes on 127.0.0.1 arrive at once; a short limit still leaves them time.
    const SocketWaitResult result = WaitForSockets(watches, 2s, nullptr);
    EXPECT_EQ(result.end, c.end);
    EXPECT_EQ(watches[0].ready, c.first_ready);
    EXPECT_EQ(watches[1].ready, c.second_ready);
  }
}

TEST(WaitForSockets, HonoursItsLimitWithAndWithoutSockets) {
  Connection silent = Connect();
  for (const std::size_t sockets : {0, 1}) {
    SCOPED_TRACE(std::to_string(sockets) + " socket(s)");
    SocketWatch watch{silent.ours.get(), Interest::kReadable};
    const Clock::time_point started = Clock::now();
    const SocketWaitResult result = WaitForSockets({&watch, sockets}, 1s, nullptr);
    const Clock::duration waited = Clock::now() - started;
    EXPECT_EQ(result.end, End::kTimedOut);
    EXPECT_GE(waited, 900ms);
    EXPECT_LT(waited, 10s);
  }
}

TEST(SocketCalls, AcceptedSocketsDoNotBlock) {
  Connection connection = Connect();
  char buffer[16];
  EXPECT_EQ(ReceiveSome(connection.ours.get(), buffer, sizeof buffer), -1);
  EXPECT_TRUE(WouldBlock(LastSocketError())) << "error " << LastSocketError();

  int port = 0;
  const UniqueSocket listener = ListenOnLoopback(4, port);
  EXPECT_FALSE(AcceptPending(listener.get()).valid()) << "no connection was waiting";
  EXPECT_TRUE(WouldBlock(LastSocketError())) << "error " << LastSocketError();
}

// A send to a peer that went away fails; it does not end the process.
TEST(SocketCalls, SendingToAClosedPeerFails) {
  Connection connection = Connect();
  connection.peer.Reset();
  std::ptrdiff_t sent = 0;
  for (int attempt = 0; attempt < 20 && sent >= 0; ++attempt) {
    sent = SendSome(connection.ours.get(), "answer");
    std::this_thread::sleep_for(50ms);
  }
  EXPECT_EQ(sent, -1);
}

}  // namespace
}  // namespace qm
