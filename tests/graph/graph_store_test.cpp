// The Graph store against the project's Graph server (TLS, 127.0.0.1): the
// listing in pages, messages fetched ahead (small ones in batches, large
// ones several at once, in the plan's order, a batch alone) and never
// marked by reading, the marks in batches at the commit (throttled ones sent
// again), what a batch did not bring fetched on its own, a message deleted
// after the listing, and the failures that name their cause.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "base/Failure.h"
#include "graph/GraphConnection.h"
#include "graph/GraphStore.h"
#include "tests/support/FileBytes.h"
#include "tests/support/GraphTestServer.h"
#include "tests/support/HeldTempDir.h"
#include "tests/support/TempDir.h"

namespace qm {
namespace {

namespace fs = std::filesystem;
using testing::GraphServerOptions;
using testing::GraphTestServer;

// Every third byte of the padding is 8-bit: what comes base64-encoded must
// come back byte for byte.
std::string Padding(std::size_t bytes) {
  std::string padding(bytes, 'x');
  for (std::size_t i = 0; i < bytes; i += 3) padding[i] = static_cast<char>(0x80 + i % 127);
  return padding;
}

// Message n: a small one, or one larger than a batch takes.
std::string Message(int n, bool large = false) {
  const std::size_t padding = large ? 600'000 : static_cast<std::size_t>(n) * 3000;
  return "From: Sender " + std::to_string(n) + " <s" + std::to_string(n) +
         "@example.jp>\nSubject: =?UTF-8?B?6KuL5rGC5pu4?= " + std::to_string(n) +
         "\nMIME-Version: 1.0\nContent-Type: text/plain\n\nbody of message " + std::to_string(n) +
         "\n" + Padding(padding) + "\n";
}

std::vector<std::size_t> AllOf(int count) {
  std::vector<std::size_t> plan(static_cast<std::size_t>(count));
  for (int i = 0; i < count; ++i) plan[static_cast<std::size_t>(i)] = static_cast<std::size_t>(i);
  return plan;
}

class GraphStoreTest : public ::testing::Test {
 protected:
  // `count` messages in new/, arriving in the order of their numbers; those
  // of `large` are larger than a batch takes.
  void Serve(int count, const std::map<std::string, fs::path>& shared = {},
             std::set<int> large = {}) {
    large_ = std::move(large);
    for (const char* sub : {"cur", "new", "tmp"}) fs::create_directories(maildir_ / sub);
    const auto start = fs::file_time_type::clock::now() - std::chrono::hours(1);
    for (int i = 0; i < count; ++i) {
      const fs::path file = maildir_ / "new" / Name(i);
      std::ofstream(file, std::ios::binary) << Expected(i);
      fs::last_write_time(file, start + std::chrono::seconds(i));
    }
    server_ = std::make_unique<GraphTestServer>(GraphServerOptions{maildir_, shared});
  }

  static std::string Name(int i) { return std::to_string(1000 + i) + ".test"; }
  std::string Expected(int i) const { return Message(i, large_.contains(i)); }

  // Opens each message of the plan in its order: each must come whole.
  void OpenAll(GraphStore& store, const std::vector<std::size_t>& plan) {
    store.WillOpen(plan);
    for (const std::size_t i : plan) {
      const UniqueFd message = store.OpenMessage(i, spool_.fd());
      ASSERT_TRUE(message.valid()) << i;
      EXPECT_EQ(testing::ReadFd(message.get()), Expected(static_cast<int>(i))) << i;
    }
  }

  // Where each message was asked for in the server's log: its $value, or
  // the $batch that carried it.
  std::map<int, std::size_t> AskedAt(int count) const {
    const std::vector<std::string> log = server_->Log();
    std::map<int, std::size_t> asked;
    std::size_t batch_at = 0;
    for (std::size_t line = 0; line < log.size(); ++line) {
      if (log[line] == "POST /v1.0/$batch") batch_at = line;
      for (int i = 0; i < count; ++i) {
        if (!log[line].ends_with("/messages/" + server_->IdOf(Name(i)) + "/$value")) continue;
        asked.emplace(i, log[line].starts_with("$batch ") ? batch_at : line);
      }
    }
    return asked;
  }

  std::unique_ptr<GraphStore> Open(const std::string& shared_address = "") {
    GraphConnectionOptions options;
    options.ca_pem = server_->CaPem();
    auto connection =
        std::make_unique<GraphConnection>(options, [](bool) { return std::string("good-token"); });
    return std::make_unique<GraphStore>(std::move(connection),
                                        GraphMailbox{server_->ApiRoot(), shared_address});
  }

  bool Seen(int i) const {
    for (const auto& entry : fs::directory_iterator(maildir_ / "cur")) {
      const std::string name = entry.path().filename().string();
      if (name.starts_with(Name(i) + ":2,") && name.find('S', Name(i).size()) != std::string::npos)
        return true;
    }
    return false;
  }

  testing::TempDir temp_;
  fs::path maildir_ = temp_.path() / "Maildir";
  testing::HeldTempDir spool_;
  std::unique_ptr<GraphTestServer> server_;
  std::set<int> large_;
};

TEST_F(GraphStoreTest, ListsEveryPageInArrivalOrder) {
  GraphServerOptions generated;
  generated.generate = 2'500;
  server_ = std::make_unique<GraphTestServer>(generated);
  const std::unique_ptr<GraphStore> store = Open();
  ASSERT_EQ(store->List(), 2'500u);
  EXPECT_EQ(server_->counts().pages, 3);
  EXPECT_EQ(store->ReadEnvelope(0).subject, "Generated 1");
  const Envelope last = store->ReadEnvelope(2'499);
  EXPECT_EQ(last.subject, "Generated 2500");
  EXPECT_EQ(last.sender_name, "Sender 2500");
  EXPECT_EQ(last.sender_address, "s2500@example.com");
}

TEST_F(GraphStoreTest, SmallMessagesComeInBatchesAndAreMarkedOnlyAtTheCommit) {
  constexpr int kCount = 45;
  Serve(kCount);
  const std::unique_ptr<GraphStore> store = Open();
  ASSERT_EQ(store->List(), static_cast<std::size_t>(kCount));
  EXPECT_EQ(store->ReadEnvelope(3).subject, "請求書 3");
  EXPECT_EQ(store->ReadEnvelope(3).sender_address, "s3@example.jp");
  store->WillOpen(AllOf(kCount));
  for (int i = 0; i < kCount; ++i) {
    const UniqueFd message = store->OpenMessage(i, spool_.fd());
    ASSERT_TRUE(message.valid()) << i;
    EXPECT_EQ(testing::ReadFd(message.get()), Message(i)) << i;
    if (i % 2 == 0) store->QueueReadMark(i);
  }
  EXPECT_FALSE(Seen(0)) << "marked before the commit";
  const GraphTestServer::Counts fetched = server_->counts();
  EXPECT_EQ(fetched.values, 0);
  EXPECT_EQ(fetched.batches, 3);  // twenty, twenty and five
  EXPECT_EQ(fetched.batch_items, kCount);
  EXPECT_GT(fetched.max_concurrent, 1) << "one item at a time";
  EXPECT_LE(fetched.max_concurrent, 4);
  EXPECT_EQ(fetched.throttled, 0);
  EXPECT_LE(fetched.connections, 4) << "connections not reused";
  store->CommitReadMarks();
  EXPECT_EQ(server_->counts().batches, 5);  // and 23 marks, twenty to a batch
  for (int i = 0; i < kCount; ++i) EXPECT_EQ(Seen(i), i % 2 == 0) << i;
}

// Large messages on their own, several at once; runs of small ones in
// batches, short runs on their own; each batch after every message before
// it in the plan was asked for, and before every later one: alone, in the
// plan's order.
TEST_F(GraphStoreTest, LargeAndSmallMessagesComeInThePlansOrder) {
  constexpr int kCount = 24;
  const std::set<int> large = {0, 7, 8, 11, 23};
  Serve(kCount, {}, large);
  const std::unique_ptr<GraphStore> store = Open();
  ASSERT_EQ(store->List(), static_cast<std::size_t>(kCount));
  OpenAll(*store, AllOf(kCount));
  const GraphTestServer::Counts counts = server_->counts();
  EXPECT_EQ(counts.values, 7);   // five large ones and the run of 9 and 10
  EXPECT_EQ(counts.batches, 2);  // 1 to 6, 12 to 22
  EXPECT_EQ(counts.batch_items, 17);
  EXPECT_LE(counts.max_concurrent, 4);
  EXPECT_EQ(counts.throttled, 0) << "a batch was not alone";
  const std::map<int, std::size_t> asked = AskedAt(kCount);
  ASSERT_EQ(asked.size(), static_cast<std::size_t>(kCount));
  for (const int batched : {1, 12}) {
    for (int i = 0; i < kCount; ++i) {
      if (asked.at(i) == asked.at(batched)) continue;
      EXPECT_EQ(asked.at(i) < asked.at(batched), i < batched)
          << i << " and the batch of " << batched;
    }
  }
}

// Large messages wait in the spool folder a dozen at most.
TEST_F(GraphStoreTest, FewLargeMessagesAreFetchedAhead) {
  constexpr int kCount = 16;
  std::set<int> large;
  for (int i = 0; i < kCount; ++i) large.insert(i);
  Serve(kCount, {}, large);
  const std::unique_ptr<GraphStore> store = Open();
  ASSERT_EQ(store->List(), static_cast<std::size_t>(kCount));
  store->WillOpen(AllOf(kCount));
  const UniqueFd first = store->OpenMessage(0, spool_.fd());
  ASSERT_TRUE(first.valid());
  EXPECT_EQ(store->connection().Pending(), GraphStore::kLargeAhead);
  std::vector<std::size_t> rest = AllOf(kCount);
  rest.erase(rest.begin());
  OpenAll(*store, rest);
  EXPECT_EQ(server_->counts().batches, 0);
}

// An item the batch did not bring is fetched on its own and comes whole; a
// message deleted is passed by.
TEST_F(GraphStoreTest, WhatABatchDidNotBringIsFetchedAlone) {
  constexpr int kCount = 8;
  Serve(kCount);
  const struct {
    const char* name;
    std::function<void(const std::string& value_path)> fault;
    int alone;
    long batches;  // sent so far
  } cases[] = {
      {"throttled", [&](const std::string& path) { server_->Throttle(path, 1, 429, 1); }, 1, 1},
      {"unavailable", [&](const std::string& path) { server_->Throttle(path, 1, 503, -1); }, 1, 2},
      {"not base64", [&](const std::string& path) { server_->Fail(path, 1, 200, "%% not base64"); },
       1, 3},
      {"a server fault", [&](const std::string& path) { server_->Fail(path, 1, 500, "Oops"); }, 1,
       4},
      {"the whole batch refused",
       [&](const std::string&) { server_->Fail("/$batch", 1, 400, "BadRequest"); }, kCount, 5},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const GraphTestServer::Counts before = server_->counts();
    const std::unique_ptr<GraphStore> store = Open();
    ASSERT_EQ(store->List(), static_cast<std::size_t>(kCount));
    c.fault("/messages/" + server_->IdOf(Name(3)) + "/$value");
    OpenAll(*store, AllOf(kCount));
    const std::vector<std::string> log = server_->Log();
    EXPECT_EQ(std::count(log.begin(), log.end(), "POST /v1.0/$batch"), c.batches);
    EXPECT_EQ(server_->counts().values - before.values, c.alone);
  }
}

TEST_F(GraphStoreTest, ThrottledMarksAreSentAgain) {
  Serve(3);
  const std::unique_ptr<GraphStore> store = Open();
  ASSERT_EQ(store->List(), 3u);
  for (std::size_t i = 0; i < 3; ++i) store->QueueReadMark(i);
  server_->Throttle("/messages/" + server_->IdOf(Name(1)), 1, 429, 1);
  store->CommitReadMarks();
  EXPECT_EQ(server_->counts().batches, 2);
  EXPECT_EQ(server_->counts().batch_items, 4);
  for (int i = 0; i < 3; ++i) EXPECT_TRUE(Seen(i)) << i;
}

TEST_F(GraphStoreTest, AMessageDeletedAfterTheListingIsPassedBy) {
  Serve(3);
  const std::unique_ptr<GraphStore> store = Open();
  ASSERT_EQ(store->List(), 3u);
  server_->Remove(Name(1));
  EXPECT_TRUE(store->OpenMessage(0, spool_.fd()).valid());
  EXPECT_FALSE(store->OpenMessage(1, spool_.fd()).valid());
  const UniqueFd last = store->OpenMessage(2, spool_.fd());
  ASSERT_TRUE(last.valid());
  EXPECT_EQ(testing::ReadFd(last.get()), Message(2));
}

TEST_F(GraphStoreTest, AMessageDeletedBeforeItsBatchIsPassedBy) {
  constexpr int kCount = 6;
  Serve(kCount);
  const std::unique_ptr<GraphStore> store = Open();
  ASSERT_EQ(store->List(), static_cast<std::size_t>(kCount));
  server_->Remove(Name(1));
  store->WillOpen(AllOf(kCount));
  for (int i = 0; i < kCount; ++i) {
    const UniqueFd message = store->OpenMessage(i, spool_.fd());
    EXPECT_EQ(message.valid(), i != 1) << i;
    if (message.valid()) {
      EXPECT_EQ(testing::ReadFd(message.get()), Message(i)) << i;
    }
  }
  EXPECT_EQ(server_->counts().batch_items, kCount);
  EXPECT_EQ(server_->counts().values, 0) << "the message gone was asked for again";
}

// Graph refuses the batch as it would the listing.
TEST_F(GraphStoreTest, ABatchRefusedNamesItsCause) {
  Serve(6);
  const struct {
    int status;
    std::string code;
    int times;  // a 401 comes again after the renewal
    Cause cause;
  } cases[] = {{403, "ErrorAccessDenied", 1, Cause::kAccessNotGranted},
               {401, "InvalidAuthenticationToken", 2, Cause::kSignInRefused}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.code);
    const std::unique_ptr<GraphStore> store = Open();
    ASSERT_EQ(store->List(), 6u);
    server_->Fail("/$batch", c.times, c.status, c.code);
    store->WillOpen(AllOf(6));
    try {
      store->OpenMessage(0, spool_.fd());
      ADD_FAILURE() << "opened";
    } catch (const Failure& failure) {
      EXPECT_EQ(failure.cause(), c.cause) << failure.what();
    }
  }
}

TEST_F(GraphStoreTest, RefusalsNameTheirCause) {
  const fs::path shared = temp_.path() / "Shared";
  for (const char* sub : {"cur", "new", "tmp"}) fs::create_directories(shared / sub);
  Serve(1, {{"invoices@example.jp", shared}});
  EXPECT_EQ(Open("invoices@example.jp")->List(), 0u);
  const struct {
    const char* what;
    std::string shared_address;
    int status;
    std::string code;
    Cause cause;
  } cases[] = {
      {"unknown shared mailbox", "nobody@example.jp", 0, "", Cause::kMailboxNotFound},
      {"no permission", "", 403, "ErrorAccessDenied", Cause::kAccessNotGranted},
      {"server fault", "", 500, "InternalServerError", Cause::kMailServer},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    if (c.status != 0) server_->Fail("/inbox/messages", 1, c.status, c.code);
    try {
      Open(c.shared_address)->List();
      ADD_FAILURE() << "listed";
    } catch (const Failure& failure) {
      EXPECT_EQ(failure.cause(), c.cause) << failure.what();
    }
  }
}

}  // namespace
}  // namespace qm
