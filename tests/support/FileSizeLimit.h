#pragma once
// Lowers the process's file size limit for the life of the object, so that a
// write past it fails (EFBIG) as a full disk would; SIGXFSZ is ignored
// meanwhile. Both are restored when the object goes, also after a failed
// assertion.

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>

namespace qm::testing {

class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) : old_handler_(std::signal(SIGXFSZ, SIG_IGN)) {
    EXPECT_EQ(::getrlimit(RLIMIT_FSIZE, &before_), 0);
    const struct rlimit lowered = {bytes, before_.rlim_max};
    EXPECT_EQ(::setrlimit(RLIMIT_FSIZE, &lowered), 0);
  }
  ~FileSizeLimit() {
    ::setrlimit(RLIMIT_FSIZE, &before_);
    std::signal(SIGXFSZ, old_handler_);
  }
  FileSizeLimit(const FileSizeLimit&) = delete;
  FileSizeLimit& operator=(const FileSizeLimit&) = delete;

 private:
  struct rlimit before_ {};
  void (*old_handler_)(int);
};

}  // namespace qm::testing
