#pragma once
// What the scan needs from the window that started it. The window's scan
// thread (frame/ScanThread) implements it; tests use a fake, so the scan runs
// without any widget.

#include <chrono>
#include <cstdint>
#include <string>

#include "mail/ScanSummary.h"
#include "profile/ArchiveOptions.h"

namespace qm {

struct ScanProgress {
  std::int64_t examined = 0;  // messages looked at so far
  std::int64_t total = 0;     // messages in the fetched list
  std::int64_t saved = 0;     // attachment files saved so far
  // The attachment file being saved now (its name, UTF-8), "" between files,
  // and when its saving began.
  std::string current_file = {};
  std::chrono::steady_clock::time_point file_started = {};
};

class ScanHost {
 public:
  virtual ~ScanHost() = default;

  // Copies the window's controls into Settings.
  virtual void StoreControls() = 0;
  // Enables or disables the GET button.
  virtual void SetScanEnabled(bool enabled) = 0;
  // Serves pending window events once.
  virtual void YieldOnce() = 0;
  // Called after every message and before every file; a host shows it once a
  // scan takes over a second.
  virtual void ShowProgress(const ScanProgress& progress) = 0;
  // True once the user asked to stop; the scan stops after the current message.
  virtual bool CancelRequested() = 0;
  // The scan is over (signed off, GET enabled again); hides the progress window.
  virtual void ScanFinished() = 0;
  // Which archives the scan unpacks; read when the scan starts.
  virtual ArchiveOptions ArchiveChoices() { return {}; }
  // What the scan did, told once when it ends (before a failure of unread
  // messages is reported, and before the program ends after the scan).
  virtual void ShowSummary(const ScanSummary& /*summary*/) {}
  // Ends the program at once, without the window's unload: nothing is saved.
  virtual void EndProgram() = 0;
};

}  // namespace qm
