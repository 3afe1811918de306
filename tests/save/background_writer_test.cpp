#include "save/BackgroundWriter.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <vector>

namespace qm {
namespace {

// A task that runs only once it is let go, or after half a minute: a gate
// that is never opened fails its test instead of hanging it.
class Gate {
 public:
  std::function<void()> Task() {
    return [this] { opened_.wait_for(std::chrono::seconds(30)); };
  }
  void Open() { open_.set_value(); }

 private:
  std::promise<void> open_;
  std::shared_future<void> opened_ = open_.get_future().share();
};

TEST(BackgroundWriter, RunsTasksInOrderAndWaitCoversAllOfThem) {
  BackgroundWriter writer(1024);
  std::mutex mutex;
  std::vector<int> ran;
  for (int i = 0; i < 50; ++i) {
    writer.Submit(
        [&, i] {
          const std::lock_guard lock(mutex);
          ran.push_back(i);
        },
        10);
  }
  writer.Wait();
  std::vector<int> expected(50);
  for (int i = 0; i < 50; ++i) expected[i] = i;
  const std::lock_guard lock(mutex);
  EXPECT_EQ(ran, expected);
}

// After a failure no later task runs, and every later call reports it: a file
// whose writing failed must never pass for complete.
TEST(BackgroundWriter, FirstFailureStopsTheRestAndIsReportedEveryTime) {
  BackgroundWriter writer(1024);
  std::atomic<int> ran_after = 0;
  Gate gate;  // the second task is queued before the first fails
  writer.Submit(
      [wait = gate.Task()] {
        wait();
        throw std::runtime_error("disk full");
      },
      1);
  writer.Submit([&] { ++ran_after; }, 1);
  gate.Open();
  for (int attempt = 0; attempt < 2; ++attempt) {
    EXPECT_THROW(
        try { writer.Wait(); } catch (const std::runtime_error& e) {
          EXPECT_STREQ(e.what(), "disk full");
          throw;
        },
        std::runtime_error);
  }
  EXPECT_THROW(writer.Submit([&] { ++ran_after; }, 1), std::runtime_error);
  EXPECT_EQ(ran_after, 0);
}

// Submit waits while the queued weight is over the limit: the second task is
// taken only once the first has run.
TEST(BackgroundWriter, SubmitWaitsWhileTooMuchIsPending) {
  BackgroundWriter writer(100);
  Gate gate;
  std::atomic<bool> first_done = false;
  writer.Submit(
      [&] {
        gate.Task()();
        first_done = true;
      },
      80);
  auto second = std::async(std::launch::async, [&] {
    writer.Submit([] {}, 80);
    return first_done.load();
  });
  EXPECT_EQ(second.wait_for(std::chrono::milliseconds(100)), std::future_status::timeout);
  gate.Open();
  EXPECT_TRUE(second.get()) << "taken before the first task ran";
  writer.Wait();
}

// A task heavier than the limit is still taken when nothing else waits.
TEST(BackgroundWriter, HeavyTaskIsTakenWhenTheQueueIsEmpty) {
  BackgroundWriter writer(10);
  bool ran = false;
  writer.Submit([&] { ran = true; }, 1000);
  writer.Wait();
  EXPECT_TRUE(ran);
}

// Ending the writer drops what has not started and lets go of what the
// dropped tasks hold.
TEST(BackgroundWriter, EndingDropsTasksNotStarted) {
  auto held = std::make_shared<int>(0);
  Gate gate;
  std::atomic<int> ran = 0;
  {
    BackgroundWriter writer(1024);
    std::promise<void> started;
    writer.Submit(
        [&] {
          started.set_value();
          gate.Task()();
        },
        1);
    // The running task ends only once the writer has begun to end: when it
    // drops the waiting tasks, the last of them lets go of this and opens it.
    const std::shared_ptr<void> opener(nullptr, [&gate](void*) { gate.Open(); });
    for (int i = 0; i < 5; ++i) writer.Submit([&ran, held, opener] { ++ran; }, 1);
    started.get_future().wait();
  }
  EXPECT_EQ(ran, 0);
  EXPECT_EQ(held.use_count(), 1);
}

}  // namespace
}  // namespace qm
