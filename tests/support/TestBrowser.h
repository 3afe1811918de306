#pragma once
// The "browser" of sign-in tests: opens an address on a thread of its own,
// following redirects as a browser does (to the test authorization server,
// then back to the program's loopback listener), and keeps the last page.

#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace qm::testing {

class TestBrowser {
 public:
  TestBrowser() = default;
  ~TestBrowser();
  TestBrowser(const TestBrowser&) = delete;
  TestBrowser& operator=(const TestBrowser&) = delete;

  // Starts the visit and returns at once, as QDesktopServices::openUrl does.
  bool Open(const std::string& url);

  std::string LastPage();
  std::string LastUrl();

 private:
  void Visit(const std::string& url);

  std::mutex mutex_;
  std::string last_page_;
  std::string last_url_;
  std::vector<std::thread> visits_;
};

}  // namespace qm::testing
