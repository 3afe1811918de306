#include "save/TakenNames.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

namespace qm {
namespace {

// The search for a copy reads each entry at most once however many files of
// its size come: the reads that made a scan of one name quadratic.
TEST(TakenNames, ReadsEachEntryForItsDigestOnce) {
  TakenNames taken;
  const std::map<int, std::string> content = {{1, "x"}, {2, "y"}, {3, "x"}, {5, "z"}};
  std::map<int, int> reads;
  const TakenNames::DigestOf digest_of = [&](int number) {
    ++reads[number];
    return content.at(number);
  };
  taken.Add("a", 10);
  taken.Add("a", 10);
  taken.Add("b", 10);  // another name: numbered, and judged, on its own
  taken.Add("a", 10);
  taken.Add("a", -1);  // a folder
  taken.Add("a", 20);
  taken.Add("a", 10, "w");  // a file placed by the scan: its digest is known
  EXPECT_EQ(taken.count("a"), 6);
  EXPECT_EQ(taken.count("b"), 1);
  EXPECT_EQ(taken.count("c"), 0);
  EXPECT_TRUE(taken.HasSize("a", 10));
  EXPECT_TRUE(taken.HasSize("a", 20));
  EXPECT_FALSE(taken.HasSize("a", 30));
  EXPECT_FALSE(taken.HasSize("b", 20));
  EXPECT_FALSE(taken.HasSize("a", -1));

  const struct {
    off_t size;
    std::string digest;
    std::vector<int> numbers;
  } lookups[] = {
      {10, "x", {1, 3}}, {10, "y", {2}}, {10, "w", {6}}, {10, "x", {1, 3}},
      {10, "q", {}},     {20, "z", {5}}, {30, "x", {}},
  };
  for (const auto& l : lookups) {
    EXPECT_EQ(taken.WithContent("a", l.size, l.digest, digest_of), l.numbers) << l.size << l.digest;
  }
  EXPECT_EQ(reads, (std::map<int, int>{{1, 1}, {2, 1}, {3, 1}, {5, 1}}));
}

}  // namespace
}  // namespace qm
