#pragma once
// The main window: shows the settings as controls, starts a scan (GET) and the
// folder picker (REF), shows what the last scan did with a button that opens
// its folder, and keeps its own position. It owns the mail session and its
// message list for the whole run.

#include <QElapsedTimer>
#include <QTimer>
#include <QUrl>
#include <QWidget>
#include <array>
#include <functional>
#include <optional>

#include "base/Cancellation.h"
#include "frame/ScanThread.h"
#include "mail/MMes.h"
#include "mail/MSession.h"
#include "mail/ScanHost.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QToolButton;

namespace qm {

class Failure;
class GetButton;
class ScanProgressWindow;

class MailForm : public QWidget, public ScanWindow {
  Q_OBJECT

 public:
  // An empty `opener` signs on to the mailbox of the mail profile, offering the
  // sign-on dialog when that fails and there is a display.
  explicit MailForm(StoreOpener opener = {}, QWidget* parent = nullptr);
  ~MailForm() override;

  // Opens a folder in the desktop's file manager; false when it cannot.
  using FolderOpener = std::function<bool(const QUrl& folder)>;
  // By default QDesktopServices::openUrl.
  void SetFolderOpener(FolderOpener opener) { folder_opener_ = std::move(opener); }

  // Fills the controls from Settings, places the window and, with
  // Settings.AutoRun, runs the scan and waits for it. Returns the exit code
  // when the program must end now (the scan ended it or failed); the window
  // is then never shown.
  std::optional<int> Load();

  // Set once the program is to end without the unload; the exit code.
  std::optional<int> EndCode() const { return end_code_; }
  bool Scanning() const { return scanning_; }
  // The counts of the latest scan (all zero before the first).
  ScanProgress LastScan() const { return scan_.Latest(); }

  // ScanWindow, on the window's thread (the scan's thread reaches it through
  // ScanThread)
  void StoreControls() override;
  void SetScanEnabled(bool enabled) override;
  void ScanFinished() override;
  // The line below the controls until the next scan starts; on stdout too
  // after a run with -a that ends by itself.
  void ShowSummary(const ScanSummary& summary) override;
  void EndProgram() override;

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void CreateControls();
  void PlaceControls();
  void FillControls();
  void PlaceWindow();
  void Unload();

  // The latest progress of the scan, shown on a timer.
  void ShowProgress(const ScanProgress& progress);
  void OnGetClicked();
  void OnRefClicked();
  void OnOpenFolderClicked();
  void ClearSummary();
  void OnMailboxSettings();
  void OnScheduleRuns();
  void OnStopScheduledRuns();
  void StartScan(bool clicked);
  void OnScanEnded(const std::optional<Failure>& failure, bool clicked);
  void WaitForScan();
  void OnScanFailure(const Failure& failure, bool clicked);
  void EndWithFailure(const Failure& failure);
  void End(int exit_code);

  Cancellation cancellation_;  // declared before the session, whose opener uses it
  MSession session_;
  MMes messages_;
  ScanThread scan_;

  GetButton* get_ = nullptr;
  QPushButton* ref_ = nullptr;
  QLineEdit* path_ = nullptr;
  QLabel* label1_ = nullptr;
  QComboBox* sel_ = nullptr;
  QLabel* label2_ = nullptr;
  QLineEdit* keyword_ = nullptr;
  QLabel* label3_ = nullptr;
  std::array<QCheckBox*, 3> opt_{};
  QLabel* summary_ = nullptr;
  QToolButton* open_folder_ = nullptr;
  QString summary_folder_;  // the destination of the scan the line tells of
  FolderOpener folder_opener_;

  ScanProgressWindow* progress_ = nullptr;
  QElapsedTimer scan_clock_;
  QTimer progress_timer_;
  bool scanning_ = false;
  bool end_after_scan_ = false;  // the scan asked to end the program
  bool close_pending_ = false;
  bool unloaded_ = false;
  std::optional<int> end_code_;
};

// Check-box states: the settings use 0 unchecked, 1 checked, 2 grayed.
Qt::CheckState CheckStateFromSetting(int state);
int SettingFromCheckState(Qt::CheckState state);

}  // namespace qm
