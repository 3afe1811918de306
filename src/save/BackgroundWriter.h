#pragma once
// Runs file-writing tasks one after another on a thread of its own, so that
// the scan parses the next message while the last one's attachments are still
// being decoded and written. Tasks run in the order they came. The first task
// that fails stops the rest (they are dropped unrun) and its failure is
// thrown again by every later Submit and Wait: a file that failed must never
// be taken for a complete one.

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>

namespace qm {

class BackgroundWriter {
 public:
  // While tasks of more than `max_pending_weight` wait, Submit waits too.
  explicit BackgroundWriter(std::size_t max_pending_weight);
  // Drops the tasks that have not started, waits for the running one.
  ~BackgroundWriter();
  BackgroundWriter(const BackgroundWriter&) = delete;
  BackgroundWriter& operator=(const BackgroundWriter&) = delete;

  // Queues `task`, which holds on to `weight` (bytes of memory, say) until it
  // has run. Waits while the tasks not yet run weigh too much; a task is
  // always taken when none is left. Throws the failure of an earlier task.
  void Submit(std::function<void()> task, std::size_t weight);

  // Returns once every task submitted before the call has run, or throws the
  // first failure. May be called from any thread.
  void Wait();

 private:
  struct Pending {
    std::function<void()> task;
    std::size_t weight;
  };

  void Run();
  void ThrowIfFailed() const;  // the mutex is held

  const std::size_t max_pending_weight_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<Pending> queue_;
  std::size_t pending_weight_ = 0;
  std::uint64_t submitted_ = 0;
  std::uint64_t finished_ = 0;  // run, or dropped after a failure
  std::exception_ptr failure_;
  bool stopping_ = false;
  std::thread thread_;  // started with the first task
};

}  // namespace qm
