#pragma once
// Running a piece of work on the window's thread from the scan's thread, and
// waiting for it: the sign-on dialog and the window's controls belong to the
// window's thread. Whatever the work throws is thrown again on the caller's
// thread. On the window's thread itself the work simply runs.

#include <QMetaObject>
#include <QObject>
#include <QThread>
#include <exception>
#include <optional>
#include <type_traits>

namespace qm {

template <typename Work>
auto OnWindowThread(QObject* window, Work work) -> std::invoke_result_t<Work> {
  using Result = std::invoke_result_t<Work>;
  if (QThread::currentThread() == window->thread()) return work();
  std::exception_ptr error;
  if constexpr (std::is_void_v<Result>) {
    QMetaObject::invokeMethod(
        window,
        [&] {
          try {
            work();
          } catch (...) {
            error = std::current_exception();
          }
        },
        Qt::BlockingQueuedConnection);
    if (error) std::rethrow_exception(error);
  } else {
    std::optional<Result> result;
    QMetaObject::invokeMethod(
        window,
        [&] {
          try {
            result.emplace(work());
          } catch (...) {
            error = std::current_exception();
          }
        },
        Qt::BlockingQueuedConnection);
    if (error) std::rethrow_exception(error);
    return std::move(*result);
  }
}

}  // namespace qm
