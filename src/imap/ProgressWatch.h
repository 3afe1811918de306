#pragma once
// Whether a connection still makes progress: at least `least_bytes` must move
// (either way) in every `interval` spent waiting for the server. Time spent
// elsewhere (saving files, the user at a dialog) does not count against the
// server; a server that trickles a byte now and then does not keep the wait
// alive for ever.

#include <chrono>
#include <cstddef>

namespace qm {

class ProgressWatch {
 public:
  ProgressWatch(std::chrono::milliseconds interval, std::size_t least_bytes)
      : interval_(interval), least_bytes_(least_bytes) {}

  // Counts bytes sent or received; once `least_bytes` have moved, a new
  // interval starts.
  void Moved(std::size_t bytes);
  // Counts time spent waiting for the server, to the nanosecond: many short
  // waits add up.
  void Waited(std::chrono::nanoseconds waited);

  // How much longer a wait may last before the connection counts as stalled,
  // rounded up; zero once it is.
  std::chrono::milliseconds WaitLeft() const;
  bool Stalled() const { return waited_ >= interval_; }

  std::chrono::milliseconds interval() const { return interval_; }
  std::size_t least_bytes() const { return least_bytes_; }

 private:
  std::chrono::milliseconds interval_;
  std::size_t least_bytes_;
  std::chrono::nanoseconds waited_{0};  // in this interval
  std::size_t moved_ = 0;               // in this interval
};

}  // namespace qm
