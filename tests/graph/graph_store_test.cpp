// The Graph store against the project's Graph server (TLS, 127.0.0.1): the
// listing in pages, messages fetched ahead several at once and never marked
// by reading, the marks in batches at the commit (throttled ones sent
// again), a message deleted after the listing, and the failures that name
// their cause.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
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

std::string Message(int n) {
  return "From: Sender " + std::to_string(n) + " <s" + std::to_string(n) +
         "@example.jp>\nSubject: =?UTF-8?B?6KuL5rGC5pu4?= " + std::to_string(n) +
         "\nMIME-Version: 1.0\nContent-Type: text/plain\n\nbody of message " + std::to_string(n) +
         "\n" + std::string(static_cast<std::size_t>(n) * 3000, 'x') + "\n";
}

class GraphStoreTest : public ::testing::Test {
 protected:
  // `count` messages in new/, arriving in the order of their numbers.
  void Serve(int count, const std::map<std::string, fs::path>& shared = {}) {
    for (const char* sub : {"cur", "new", "tmp"}) fs::create_directories(maildir_ / sub);
    const auto start = fs::file_time_type::clock::now() - std::chrono::hours(1);
    for (int i = 0; i < count; ++i) {
      const fs::path file = maildir_ / "new" / Name(i);
      std::ofstream(file, std::ios::binary) << Message(i);
      fs::last_write_time(file, start + std::chrono::seconds(i));
    }
    server_ = std::make_unique<GraphTestServer>(GraphServerOptions{maildir_, shared});
  }

  static std::string Name(int i) { return std::to_string(1000 + i) + ".test"; }

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

TEST_F(GraphStoreTest, FetchesAheadSeveralAtOnceAndMarksOnlyAtTheCommit) {
  constexpr int kCount = 45;
  Serve(kCount);
  const std::unique_ptr<GraphStore> store = Open();
  ASSERT_EQ(store->List(), static_cast<std::size_t>(kCount));
  EXPECT_EQ(store->ReadEnvelope(3).subject, "請求書 3");
  EXPECT_EQ(store->ReadEnvelope(3).sender_address, "s3@example.jp");
  std::vector<std::size_t> plan(kCount);
  for (int i = 0; i < kCount; ++i) plan[i] = i;
  store->WillOpen(plan);
  for (int i = 0; i < kCount; ++i) {
    const UniqueFd message = store->OpenMessage(i, spool_.fd());
    ASSERT_TRUE(message.valid()) << i;
    EXPECT_EQ(testing::ReadFd(message.get()), Message(i)) << i;
    if (i % 2 == 0) store->QueueReadMark(i);
  }
  EXPECT_FALSE(Seen(0)) << "marked before the commit";
  const GraphTestServer::Counts fetched = server_->counts();
  EXPECT_EQ(fetched.values, kCount);
  EXPECT_GT(fetched.max_concurrent, 1) << "one message at a time";
  EXPECT_LE(fetched.max_concurrent, 4);
  EXPECT_LE(fetched.connections, 4) << "connections not reused";
  store->CommitReadMarks();
  EXPECT_EQ(server_->counts().batches, 2);  // 23 marks, twenty to a batch
  for (int i = 0; i < kCount; ++i) EXPECT_EQ(Seen(i), i % 2 == 0) << i;
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
