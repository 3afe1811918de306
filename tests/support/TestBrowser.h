#pragma once
// The "browser" of sign-in tests: opens an address on a thread of its own,
// following redirects as a browser does (to the test authorization server,
// then back to the program's loopback listener), and keeps the last page.

#include <curl/curl.h>

#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace qm::testing {

class TestBrowser {
 public:
  TestBrowser() = default;
  ~TestBrowser() {
    for (std::thread& visit : visits_) visit.join();
  }
  TestBrowser(const TestBrowser&) = delete;
  TestBrowser& operator=(const TestBrowser&) = delete;

  // Starts the visit and returns at once, as QDesktopServices::openUrl does.
  bool Open(const std::string& url) {
    visits_.emplace_back([this, url] { Visit(url); });
    return true;
  }

  std::string LastPage() {
    const std::lock_guard lock(mutex_);
    return last_page_;
  }
  std::string LastUrl() {
    const std::lock_guard lock(mutex_);
    return last_url_;
  }

 private:
  static std::size_t Collect(char* data, std::size_t size, std::size_t count, void* page) {
    static_cast<std::string*>(page)->append(data, size * count);
    return size * count;
  }

  void Visit(const std::string& url) {
    CURL* handle = curl_easy_init();
    std::string page;
    curl_easy_setopt(handle, CURLOPT_URL, url.c_str());
    curl_easy_setopt(handle, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(handle, CURLOPT_PROXY, "");
    curl_easy_setopt(handle, CURLOPT_TIMEOUT, 30L);
    curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, Collect);
    curl_easy_setopt(handle, CURLOPT_WRITEDATA, &page);
    curl_easy_perform(handle);
    curl_easy_cleanup(handle);
    const std::lock_guard lock(mutex_);
    last_page_ = page;
    last_url_ = url;
  }

  std::mutex mutex_;
  std::string last_page_;
  std::string last_url_;
  std::vector<std::thread> visits_;
};

}  // namespace qm::testing
