#pragma once
// A fresh folder under the system's temporary folder, held through
// base/FileSystem.h the way the program holds a destination, and removed
// with everything in it afterwards. Works on POSIX and on Windows.

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>

#include "base/FileSystem.h"
#include "base/UniqueFd.h"
#include "base/WriteAll.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace qm::testing {

class FileSystemFixture : public ::testing::Test {
 protected:
  FileSystemFixture() {
    const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    root_ = std::filesystem::temp_directory_path() /
            ("qm-fs-" + CurrentTestName() + "-" + std::to_string(stamp));
    std::filesystem::create_directory(root_);
    folder_.Reset(fs::OpenFolder(fs::kNoFolder, fs::NameOf(root_)));
  }
  ~FileSystemFixture() override {
    folder_.Reset();  // Windows removes no folder held open
    std::error_code ignored;
    std::filesystem::remove_all(root_, ignored);
  }

  int folder() const { return folder_.get(); }

  // Creates `name` in `in` holding `content`.
  static void Write(int in, const std::string& name, const std::string& content) {
    const UniqueFd file(fs::CreateExclusive(in, name, 0600));
    ASSERT_TRUE(file.valid()) << name << ": errno " << errno;
    ASSERT_EQ(WriteAllOrError(file.get(), content.data(), content.size()), 0);
  }

  // The whole content of `name` in `in`; "<errno N>" when it cannot be opened.
  static std::string Read(int in, const std::string& name) {
    const UniqueFd file(fs::OpenForReading(in, name));
    if (!file.valid()) return "<errno " + std::to_string(errno) + ">";
    std::string content;
    char buffer[4096];
    for (int count; (count = static_cast<int>(::read(file.get(), buffer, sizeof buffer))) > 0;) {
      content.append(buffer, static_cast<std::size_t>(count));
    }
    return content;
  }

  // Runs `call` (returning -1 with errno set, or 0, or a descriptor, which is
  // never 0-2 here) and gives the errno value of its failure, or 0; a
  // descriptor it returns is closed.
  template <typename Call>
  static int ErrorOf(Call call) {
    errno = 0;
    const int result = call();
    if (result >= 0) {
      if (result > 2) UniqueFd{result};
      return 0;
    }
    return errno;
  }

  // Wine has no POSIX-semantics removal: some Windows behaviour cannot be
  // seen there.
  static bool UnderWine() {
#ifdef _WIN32
    const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
    return ntdll != nullptr && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
#else
    return false;
#endif
  }

  std::filesystem::path root_;

 private:
  static std::string CurrentTestName() {
    std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    for (char& c : name) {
      if (c == '/') c = '_';
    }
    return name;
  }

  UniqueFd folder_;
};

}  // namespace qm::testing
