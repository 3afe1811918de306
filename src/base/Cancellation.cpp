#include "base/Cancellation.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <string>

#include "base/Failure.h"

namespace qm {

Cancellation::Cancellation() : fd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
  if (!fd_.valid())
    throw FileFailure(FailureKind::Internal, errno, "cannot make an event descriptor");
}

Cancellation::~Cancellation() = default;

void Cancellation::Request() {
  requested_ = true;
  const std::uint64_t one = 1;
  [[maybe_unused]] const ssize_t ignored = ::write(fd_.get(), &one, sizeof one);
}

void Cancellation::Reset() {
  std::uint64_t count = 0;
  [[maybe_unused]] const ssize_t ignored = ::read(fd_.get(), &count, sizeof count);
  requested_ = false;
}

int PollableCancelFd(const Cancellation* cancel) { return cancel != nullptr ? cancel->fd() : -1; }

}  // namespace qm
