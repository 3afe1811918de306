#include "frame/ScanProgressWindow.h"

#include <QCloseEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>
#include <climits>
#include <cstdint>

#include "text/EscapedControls.h"

namespace qm {

namespace {

constexpr std::chrono::seconds kSlowFile{1};

}  // namespace

QString ProgressText(const ScanProgress& progress) {
  return ScanProgressWindow::tr("Checked %1 / %2 messages, saved %3 files")
      .arg(progress.examined)
      .arg(progress.total)
      .arg(progress.saved);
}

QString SavingText(const ScanProgress& progress, std::chrono::steady_clock::time_point now) {
  if (progress.current_file.empty() || now - progress.file_started < kSlowFile) return {};
  // The name comes from a message: what could turn it around shows as an escape.
  return ScanProgressWindow::tr("Saving %1")
      .arg(QString::fromStdString(EscapeControls(progress.current_file)));
}

ScanProgressWindow::ScanProgressWindow(QWidget* parent)
    : QWidget(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint) {
  setObjectName(QStringLiteral("ScanProgress"));
  setWindowTitle(QStringLiteral("Quillmar"));
  setWindowModality(Qt::ApplicationModal);
  bar_ = new QProgressBar(this);
  bar_->setObjectName(QStringLiteral("ProgressBar"));
  bar_->setTextVisible(false);
  text_ = new QLabel(this);
  text_->setObjectName(QStringLiteral("ProgressText"));
  text_->setMinimumWidth(
      text_->fontMetrics().horizontalAdvance(ProgressText({99999, 99999, 99999})));
  // Room for one line, whether a name shows or not: the window keeps its size.
  file_ = new QLabel(this);
  file_->setObjectName(QStringLiteral("ProgressFile"));
  file_->setFixedWidth(text_->minimumWidth());
  file_->setMinimumHeight(file_->fontMetrics().height());
  cancel_ = new QPushButton(tr("Cancel"), this);
  cancel_->setObjectName(QStringLiteral("CANCEL"));
  cancel_->setAutoDefault(false);
  connect(cancel_, &QPushButton::clicked, this, &ScanProgressWindow::RequestCancel);

  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(cancel_);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(bar_);
  layout->addWidget(text_);
  layout->addWidget(file_);
  layout->addLayout(buttons);
  setFixedSize(sizeHint());
}

// Messages checked out of all listed; a bar that moves to and fro while the
// listing is not there yet.
void ScanProgressWindow::Show(const ScanProgress& progress) {
  const int total = static_cast<int>(std::min<std::int64_t>(progress.total, INT_MAX));
  bar_->setRange(0, total);
  bar_->setValue(static_cast<int>(std::min<std::int64_t>(progress.examined, total)));
  text_->setText(ProgressText(progress));
  const QString saving = SavingText(progress, std::chrono::steady_clock::now());
  file_->setText(file_->fontMetrics().elidedText(saving, Qt::ElideMiddle, file_->maximumWidth()));
  file_->setToolTip(saving);
  if (!isVisible()) {
    cancel_requested_ = false;
    cancel_->setEnabled(true);
    show();
  }
}

void ScanProgressWindow::RequestCancel() {
  if (cancel_requested_) return;
  cancel_requested_ = true;
  cancel_->setEnabled(false);  // the scan is stopping
  emit CancelClicked();
}

// Closing the window or pressing Esc asks to stop as well; the window goes
// away when the scan has signed off.
void ScanProgressWindow::closeEvent(QCloseEvent* event) {
  RequestCancel();
  event->ignore();
}

void ScanProgressWindow::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape) {
    RequestCancel();
    return;
  }
  QWidget::keyPressEvent(event);
}

}  // namespace qm
