#include "frame/ScanThread.h"

#include <QMetaObject>
#include <utility>

#include "frame/CatchFailures.h"
#include "frame/OnWindowThread.h"
#include "profile/ArchiveOptions.h"

namespace qm {

ScanThread::ScanThread(QObject* context, ScanWindow& window, Cancellation& cancel)
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

// The scan reports after every message; the window looks at the latest
// counts on a timer of its own, so that a fast scan neither floods nor wakes
// the window's thread once per message.
void ScanThread::ShowProgress(const ScanProgress& progress) {
  const std::lock_guard lock(mutex_);
  latest_ = progress;
}

void ScanThread::ScanFinished() {
  OnWindowThread(context_, [this] { window_.ScanFinished(); });
}

ArchiveOptions ScanThread::ArchiveChoices() { return ReadArchiveOptions(); }

void ScanThread::ShowSummary(const ScanSummary& summary) {
  OnWindowThread(context_, [this, &summary] { window_.ShowSummary(summary); });
}

void ScanThread::EndProgram() {
  OnWindowThread(context_, [this] { window_.EndProgram(); });
}

}  // namespace qm
