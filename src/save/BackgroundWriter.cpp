#include "save/BackgroundWriter.h"

#include <utility>

namespace qm {

BackgroundWriter::BackgroundWriter(std::size_t max_pending_weight)
    : max_pending_weight_(max_pending_weight) {}

BackgroundWriter::~BackgroundWriter() {
  {
    const std::lock_guard lock(mutex_);
    stopping_ = true;
    queue_.clear();
  }
  changed_.notify_all();
  if (thread_.joinable()) thread_.join();
}

void BackgroundWriter::Submit(std::function<void()> task, std::size_t weight) {
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [&] {
    return failure_ || pending_weight_ == 0 || pending_weight_ + weight <= max_pending_weight_;
  });
  ThrowIfFailed();
  queue_.push_back({std::move(task), weight});
  pending_weight_ += weight;
  ++submitted_;
  if (!thread_.joinable()) thread_ = std::thread(&BackgroundWriter::Run, this);
  lock.unlock();
  changed_.notify_all();
}

void BackgroundWriter::Wait() {
  std::unique_lock lock(mutex_);
  const std::uint64_t target = submitted_;
  changed_.wait(lock, [&] { return failure_ || finished_ >= target; });
  ThrowIfFailed();
}

void BackgroundWriter::ThrowIfFailed() const {
  if (failure_) std::rethrow_exception(failure_);
}

void BackgroundWriter::Run() {
  std::unique_lock lock(mutex_);
  for (;;) {
    changed_.wait(lock, [&] { return stopping_ || !queue_.empty(); });
    if (stopping_) return;
    Pending next = std::move(queue_.front());
    queue_.pop_front();
    if (!failure_) {
      lock.unlock();
      std::exception_ptr failed;
      try {
        next.task();
      } catch (...) {
        failed = std::current_exception();
      }
      next.task = nullptr;  // what the task held is let go outside the lock
      lock.lock();
      if (failed && !failure_) failure_ = failed;
    }
    pending_weight_ -= next.weight;
    ++finished_;
    changed_.notify_all();
  }
}

}  // namespace qm
