#include "frame/ScanThread.h"

#include <QMetaObject>
#include <utility>

#include "frame/CatchFailures.h"
#include "frame/OnWindowThread.h"

namespace qm {

ScanThread::ScanThread(QObject* context, ScanHost& window, Cancellation& cancel)
    : context_(context), window_(window), cancel_(cancel) {}

ScanThread::~ScanThread() {
  if (thread_.joinable()) thread_.join();
}

void ScanThread::Start(std::function<void(ScanHost&)> scan, Finished finished) {
  if (thread_.joinable()) thread_.join();  // the scan before has ended
  {
    const std::lock_guard lock(mutex_);
    latest_ = {};
  }
  running_ = true;
  thread_ = std::thread([this, scan = std::move(scan), finished = std::move(finished)] {
    std::optional<Failure> failure = CatchFailures(
        [&]() -> std::optional<Failure> {
          scan(*this);
          return std::nullopt;
        },
        [](const Failure& caught) -> std::optional<Failure> { return caught; });
    // Once the window's thread runs this, the scan has ended: nothing of it
    // runs any more but the end of this thread.
    QMetaObject::invokeMethod(
        context_,
        [this, finished, failure = std::move(failure)] {
          running_ = false;
          finished(failure);
        },
        Qt::QueuedConnection);
  });
}

ScanProgress ScanThread::Latest() const {
  const std::lock_guard lock(mutex_);
  return latest_;
}

void ScanThread::StoreControls() {
  OnWindowThread(context_, [this] { window_.StoreControls(); });
}

void ScanThread::SetScanEnabled(bool enabled) {
  OnWindowThread(context_, [this, enabled] { window_.SetScanEnabled(enabled); });
}

// The scan reports after every message; the window takes the latest when it
// gets to it, so that a fast scan does not flood its thread.
void ScanThread::ShowProgress(const ScanProgress& progress) {
  {
    const std::lock_guard lock(mutex_);
    latest_ = progress;
  }
  if (progress_posted_.exchange(true)) return;
  QMetaObject::invokeMethod(
      context_,
      [this] {
        progress_posted_ = false;
        window_.ShowProgress(Latest());
      },
      Qt::QueuedConnection);
}

void ScanThread::ScanFinished() {
  OnWindowThread(context_, [this] { window_.ScanFinished(); });
}

void ScanThread::EndProgram() {
  OnWindowThread(context_, [this] { window_.EndProgram(); });
}

}  // namespace qm
