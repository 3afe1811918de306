#pragma once
// What the program writes to stdout or stderr while an OutputCapture lives:
// the stream's descriptor goes to a temporary file and back.

#include <cstdio>
#include <string>

#include "tests/support/FileBytes.h"
#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

namespace qm::testing {

class OutputCapture {
 public:
  explicit OutputCapture(std::FILE* stream)
      : stream_(stream), file_(std::tmpfile()), saved_(::dup(::fileno(stream))) {
    std::fflush(stream_);
    ::dup2(::fileno(file_), ::fileno(stream_));
  }
  ~OutputCapture() {
    Restore();
    std::fclose(file_);
  }
  OutputCapture(const OutputCapture&) = delete;
  OutputCapture& operator=(const OutputCapture&) = delete;

  // All that was written; the stream is its own again from now on.
  std::string Text() {
    Restore();
    std::rewind(file_);
    return ReadFd(::fileno(file_));
  }

 private:
  void Restore() {
    if (saved_ < 0) return;
    std::fflush(stream_);
    ::dup2(saved_, ::fileno(stream_));
    ::close(saved_);
    saved_ = -1;
  }

  std::FILE* stream_;
  std::FILE* file_;
  int saved_;
};

}  // namespace qm::testing
