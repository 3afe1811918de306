// The real binary, run as cron runs it, with an archive mail and its
// password notice: from a Maildir and from the tests' Dovecot over TLS, the
// notice in the same run or in a later one.

#include <glib.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <set>
#include <string>

#include "tests/archive/ToolArchive.h"
#include "tests/archive/ZipMaker.h"
#include "tests/e2e/EndToEnd.h"
#include "tests/support/CiSkip.h"
#include "tests/support/DovecotServer.h"
#include "tests/support/FileBytes.h"
#include "tests/support/TempDir.h"

namespace qm {
namespace {

namespace fs = std::filesystem;
using namespace qm::testing;

constexpr char kPassword[] = "Pw4Mitsumori";

std::string Base64Lines(const std::string& bytes) {
  gchar* encoded = g_base64_encode(reinterpret_cast<const guchar*>(bytes.data()), bytes.size());
  std::string text(encoded), lines;
  g_free(encoded);
  for (std::size_t at = 0; at < text.size(); at += 76) lines += text.substr(at, 76) + "\r\n";
  return lines;
}

// 見積書.zip (PKWARE encryption, made by zip -P) with two files, one in a folder.
std::string EncryptedArchive(const fs::path& scratch) {
  fs::create_directories(scratch / "in");
  const fs::path archive = scratch / "a.zip";
  if (!ArchiveWithTools("",
                        {{"zip",
                          {"-q", "-P", kPassword},
                          {{"請求書.pdf", "%PDF-1.4 invoice"}, {"memo.txt", "memo"}}}},
                        scratch / "in", archive)) {
    ADD_FAILURE() << "zip is missing";
  }
  return testing::ReadFile(archive);
}

std::string ArchiveMail(const std::string& zip) {
  return "From: Tanaka <tanaka@example.co.jp>\r\nDate: Mon, 7 Dec 2026 10:00:00 +0900\r\n"
         "Subject: =?UTF-8?B?6KaL56mN5pu4?=\r\nMIME-Version: 1.0\r\n"
         "Content-Type: multipart/mixed; boundary=\"b\"\r\n\r\n"
         "--b\r\nContent-Type: text/plain; charset=UTF-8\r\n\r\nsee attached\r\n"
         "--b\r\nContent-Type: application/zip\r\n"
         "Content-Disposition: attachment; filename*=UTF-8''%E8%A6%8B%E7%A9%8D%E6%9B%B8.zip\r\n"
         "Content-Transfer-Encoding: base64\r\n\r\n" +
         Base64Lines(zip) + "--b--\r\n";
}

// The notice, ISO-2022-JP as many Japanese mail programs still send it.
std::string NoticeMail() {
  gsize written = 0;
  const std::string text = "パスワードをお送りします。\r\nパスワード：" + std::string(kPassword);
  gchar* jis = g_convert(text.data(), static_cast<gssize>(text.size()), "ISO-2022-JP", "UTF-8",
                         nullptr, &written, nullptr);
  std::string body(jis, written);
  g_free(jis);
  return "From: Tanaka <tanaka@example.co.jp>\r\nDate: Mon, 7 Dec 2026 10:01:00 +0900\r\n"
         "Subject: =?ISO-2022-JP?B?GyRCJVElOSVvITwlSRsoQg==?=\r\nMIME-Version: 1.0\r\n"
         "Content-Type: text/plain; charset=ISO-2022-JP\r\nContent-Transfer-Encoding: 7bit\r\n"
         "\r\n" +
         body + "\r\n";
}

std::map<std::string, std::string> Japanese(std::map<std::string, std::string> environment) {
  environment["LANG"] = "ja_JP.UTF-8";
  return environment;
}

class ArchiveEndToEnd : public ::testing::Test {
 protected:
  void SetUp() override { MakeRunFolders(root_); }

  // Two runs: the archive in the first; the notice in the first too, or
  // only in the second.
  void RunTwice(const std::function<void(const std::string&)>& deliver, bool notice_later) {
    deliver(ArchiveMail(EncryptedArchive(root_ / "scratch")));
    if (!notice_later) deliver(NoticeMail());
    ProgramResult r = RunHeadless(root_);
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(fs::exists(Out() / "見積書"), !notice_later);
    // 自動終了 is on: the run tells what it did in one line.
    EXPECT_EQ(r.out, notice_later ? "quillmar: files saved: 1, ZIP waiting for a password: 1\n"
                                  : "quillmar: files saved: 1, ZIP unpacked: 1\n");
    if (notice_later) deliver(NoticeMail());
    r = RunProgram(QM_BINARY, {"-a"}, Japanese(HeadlessEnvironment(root_)));
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(r.out, notice_later ? "quillmar: 保存0件・展開1件\n" : "quillmar: 保存0件\n");
    std::set<std::string> top;
    for (const auto& e : fs::directory_iterator(Out())) top.insert(e.path().filename().string());
    EXPECT_EQ(top, (std::set<std::string>{"見積書.zip", "見積書"}));
    EXPECT_EQ(testing::ReadFile(Out() / "見積書" / "請求書.pdf"), "%PDF-1.4 invoice");
    EXPECT_EQ(testing::ReadFile(Out() / "見積書" / "memo.txt"), "memo");
  }

  fs::path Out() const { return root_ / "out"; }

  TempDir temp_;
  fs::path root_ = temp_.path();
};

TEST_F(ArchiveEndToEnd, FromAMaildirInOneRunOrTwo) {
  for (const bool later : {false, true}) {
    SCOPED_TRACE(later ? "notice in a later run" : "notice in the same run");
    fs::remove_all(root_);
    MakeRunFolders(root_);
    for (const char* sub : {"Maildir/cur", "Maildir/new", "Maildir/tmp"}) {
      fs::create_directories(root_ / sub);
    }
    WriteSettingsFile(root_ / "config/Vantrel/Quillmar.reg", {Out().string(), "", 0, {1, 1, 1}},
                      {"\"Store\"=" + RegText("maildir:" + (root_ / "Maildir").string())});
    int serial = 0;
    RunTwice(
        [&](const std::string& bytes) {
          std::ofstream(root_ / "Maildir/new" / ("17000000" + std::to_string(++serial) + ".m"),
                        std::ios::binary)
              << bytes;
        },
        later);
  }
}

TEST_F(ArchiveEndToEnd, FromDovecotTheNoticeInALaterRun) {
  if (!DovecotServer::Installed()) QM_SKIP_OUTSIDE_CI(DovecotServer::NotInstalled());
  DovecotServer server;
  const std::string store = "imaps://" + std::string(DovecotServer::kUser) +
                            "@localhost:" + std::to_string(server.tls_port()) + "/INBOX";
  WriteSettingsFile(
      root_ / "config/Vantrel/Quillmar.reg", {Out().string(), "", 0, {1, 1, 1}},
      {"\"Store\"=" + RegText(store), "\"Password\"=" + RegText(DovecotServer::kPassword),
       "\"CAFile\"=" + RegText(server.certificate().string())});
  RunTwice([&](const std::string& bytes) { server.Deliver(bytes, ""); }, true);
}

}  // namespace
}  // namespace qm
