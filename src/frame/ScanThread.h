#pragma once
// The scan on a thread of its own, so that the window's thread stays free to
// paint, show progress and take the user's cancel while the server is slow
// or silent. What the scan asks of the window (copy the controls, enable GET,
// hide the progress, show what it did) runs on the window's thread, the scan waiting for it;
// progress is only kept, for the window to look at when it likes (Latest). When the scan has ended,
// `finished` runs on the window's thread with the failure that ended it, if any.

#include <QObject>
#include <atomic>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>

#include "base/Cancellation.h"
#include "base/Failure.h"
#include "mail/ScanHost.h"

namespace qm {

// What the scan has the window do; ScanThread runs it on the window's thread.
class ScanWindow {
 public:
  virtual ~ScanWindow() = default;

  // See ScanHost.
  virtual void StoreControls() = 0;
  virtual void SetScanEnabled(bool enabled) = 0;
  virtual void ScanFinished() = 0;
  virtual void ShowSummary(const ScanSummary& summary) = 0;
  virtual void EndProgram() = 0;
};

class ScanThread : public ScanHost {
 public:
  using Finished = std::function<void(const std::optional<Failure>& failure)>;

  // The methods of `window` run on `context`'s thread.
  ScanThread(QObject* context, ScanWindow& window, Cancellation& cancel);
  // The scan must have ended (see Running).
  ~ScanThread() override;
  ScanThread(const ScanThread&) = delete;
  ScanThread& operator=(const ScanThread&) = delete;

  // Starts `scan` (given this object as its host).
  void Start(std::function<void(ScanHost&)> scan, Finished finished);
  bool Running() const { return running_.load(); }
  // The latest progress the scan reported.
  ScanProgress Latest() const;

  // ScanHost, as the scan's thread sees it.
  void StoreControls() override;
  void SetScanEnabled(bool enabled) override;
  void YieldOnce() override {}  // the window's thread is never held up
  void ShowProgress(const ScanProgress& progress) override;
  bool CancelRequested() override { return cancel_.Requested(); }
  void ScanFinished() override;
  // Read on the scan's thread: nothing else writes the settings file then
  // (the sign-on dialog a scan opens writes it while the scan waits).
  ArchiveOptions ArchiveChoices() override;
  // Shown before the scan goes on: a program that ends after the scan has
  // printed the line first.
  void ShowSummary(const ScanSummary& summary) override;
  void EndProgram() override;

 private:
  QObject* context_;
  ScanWindow& window_;
  Cancellation& cancel_;
  std::thread thread_;
  std::atomic<bool> running_ = false;
  mutable std::mutex mutex_;
  ScanProgress latest_;
};

}  // namespace qm
