// When a connection counts as stalled: the bytes that moved against the time
// spent waiting for them, with no clock involved.

#include <gtest/gtest.h>

#include <chrono>
#include <variant>
#include <vector>

#include "imap/ProgressWatch.h"

namespace qm {
namespace {

using std::chrono::milliseconds;

struct Moved {
  std::size_t bytes;
};
struct Waited {
  std::chrono::nanoseconds time;
};
using Step = std::variant<Moved, Waited>;

TEST(ProgressWatch, StallsWhenTooFewBytesCameInTheTimeWaited) {
  const struct {
    const char* name;
    std::vector<Step> steps;
    milliseconds left;
  } cases[] = {
      {"Fresh", {}, milliseconds(1000)},
      {"Silent", {Waited{milliseconds(1000)}}, milliseconds(0)},
      {"PartlyWaited", {Waited{milliseconds(400)}}, milliseconds(600)},
      {"EnoughBytesStartAnInterval", {Waited{milliseconds(900)}, Moved{100}}, milliseconds(1000)},
      {"BytesAddUpWithinAnInterval",
       {Moved{60}, Waited{milliseconds(900)}, Moved{40}},
       milliseconds(1000)},
      // A byte now and then, each after most of an interval, never adds up.
      {"Trickle",
       {Moved{1}, Waited{milliseconds(300)}, Moved{1}, Waited{milliseconds(300)}, Moved{1},
        Waited{milliseconds(300)}, Moved{1}, Waited{milliseconds(300)}},
       milliseconds(0)},
      {"MoreThanEnoughCarriesNothingOver",
       {Moved{250}, Waited{milliseconds(999)}},
       milliseconds(1)},
      {"NegativeWaitsCountAsNone", {Waited{milliseconds(-500)}}, milliseconds(1000)},
  };
  for (const auto& c : cases) {
    ProgressWatch watch(milliseconds(1000), 100);
    for (const Step& step : c.steps) {
      if (const Moved* moved = std::get_if<Moved>(&step)) watch.Moved(moved->bytes);
      if (const Waited* waited = std::get_if<Waited>(&step)) watch.Waited(waited->time);
    }
    EXPECT_EQ(watch.WaitLeft(), c.left) << c.name;
    EXPECT_EQ(watch.Stalled(), c.left.count() == 0) << c.name;
  }
}

// A server that answers each wait in well under a millisecond, a byte at a
// time, still stalls: the short waits add up.
TEST(ProgressWatch, WaitsShorterThanAMillisecondAddUp) {
  ProgressWatch watch(milliseconds(1000), 100);
  for (int i = 0; i < 1700 && !watch.Stalled(); ++i) {
    watch.Waited(std::chrono::microseconds(600));
    if (i % 20 == 0) watch.Moved(1);
  }
  EXPECT_TRUE(watch.Stalled());
  EXPECT_EQ(watch.WaitLeft(), milliseconds(0));
}

}  // namespace
}  // namespace qm
