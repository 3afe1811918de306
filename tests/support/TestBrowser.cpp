#include "tests/support/TestBrowser.h"

#include <curl/curl.h>

namespace qm::testing {
namespace {

std::size_t Collect(char* data, std::size_t size, std::size_t count, void* page) {
  static_cast<std::string*>(page)->append(data, size * count);
  return size * count;
}

}  // namespace

TestBrowser::~TestBrowser() {
  for (std::thread& visit : visits_) visit.join();
}

bool TestBrowser::Open(const std::string& url) {
  visits_.emplace_back([this, url] { Visit(url); });
  return true;
}

std::string TestBrowser::LastPage() {
  const std::lock_guard lock(mutex_);
  return last_page_;
}

std::string TestBrowser::LastUrl() {
  const std::lock_guard lock(mutex_);
  return last_url_;
}

void TestBrowser::Visit(const std::string& url) {
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

}  // namespace qm::testing
