#pragma once
// A scan host that shows nothing and never cancels, for tests that look at
// what the scan did to the mailbox and the folder, not at the window.

#include "mail/ScanHost.h"

namespace qm::testing {

class QuietScanHost : public ScanHost {
 public:
  void StoreControls() override {}
  void SetScanEnabled(bool) override {}
  void YieldOnce() override {}
  void ShowProgress(const ScanProgress&) override {}
  bool CancelRequested() override { return false; }
  void ScanFinished() override {}
  void EndProgram() override {}
};

}  // namespace qm::testing
