#pragma once
// The small modal window shown while a long scan runs: how far it is, as a
// bar and in words, the file being saved when it takes a while, and a
// button that asks the scan to stop.

#include <QWidget>
#include <chrono>

#include "mail/ScanHost.h"

class QLabel;
class QProgressBar;
class QPushButton;

namespace qm {

class ScanProgressWindow : public QWidget {
  Q_OBJECT

 public:
  explicit ScanProgressWindow(QWidget* parent = nullptr);

  void Show(const ScanProgress& progress);
  bool CancelRequested() const { return cancel_requested_; }

 signals:
  // キャンセル, the window's close command or Esc: once per showing.
  void CancelClicked();

 protected:
  void closeEvent(QCloseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void RequestCancel();

  QProgressBar* bar_;
  QLabel* text_;
  QLabel* file_;
  QPushButton* cancel_;
  bool cancel_requested_ = false;
};

// "確認済み n / total 件　保存 m 個"
QString ProgressText(const ScanProgress& progress);

// "保存中: NAME" once the file has taken longer than a second at `now`; ""
// otherwise, so that quick files do not flicker past.
QString SavingText(const ScanProgress& progress, std::chrono::steady_clock::time_point now);

}  // namespace qm
