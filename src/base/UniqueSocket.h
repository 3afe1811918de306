#pragma once
// Owns a socket of the system and closes it once: a descriptor closed with
// close() on POSIX, a Winsock SOCKET closed with closesocket() on Windows.

#include <cstdint>
#include <utility>

namespace qm {

// The system's handle of a socket, of the same type as libcurl's curl_socket_t.
#ifdef _WIN32
using NativeSocket = std::uintptr_t;                         // SOCKET
inline constexpr NativeSocket kNoSocket = ~NativeSocket{0};  // INVALID_SOCKET
#else
using NativeSocket = int;
inline constexpr NativeSocket kNoSocket = -1;
#endif

void CloseSocket(NativeSocket socket);

class UniqueSocket {
 public:
  UniqueSocket() = default;
  explicit UniqueSocket(NativeSocket socket) : socket_(socket) {}
  UniqueSocket(UniqueSocket&& other) noexcept : socket_(std::exchange(other.socket_, kNoSocket)) {}
  UniqueSocket& operator=(UniqueSocket&& other) noexcept {
    if (this != &other) Reset(std::exchange(other.socket_, kNoSocket));
    return *this;
  }
  UniqueSocket(const UniqueSocket&) = delete;
  UniqueSocket& operator=(const UniqueSocket&) = delete;
  ~UniqueSocket() { Reset(); }

  NativeSocket get() const { return socket_; }
  bool valid() const { return socket_ != kNoSocket; }
  void Reset(NativeSocket socket = kNoSocket) {
    if (valid()) CloseSocket(socket_);
    socket_ = socket;
  }

 private:
  NativeSocket socket_ = kNoSocket;
};

}  // namespace qm
