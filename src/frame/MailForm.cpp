#include "frame/MailForm.h"

#include <QAction>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QGuiApplication>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QToolButton>
#include <initializer_list>
#include <string>

#include "base/Failure.h"
#include "frame/CatchFailures.h"
#include "frame/GetButton.h"
#include "frame/ProfileOpener.h"
#include "frame/QtPlatform.h"
#include "frame/ReportFailure.h"
#include "frame/ReportSetAside.h"
#include "frame/ReportSettingsFile.h"
#include "frame/ScanLock.h"
#include "frame/ScanProgressWindow.h"
#include "frame/ScanSummaryText.h"
#include "frame/ScheduledRun.h"
#include "frame/SignOnDialog.h"
#include "frame/UnattendedSummary.h"
#include "mail/RunScan.h"
#include "picker/Folder.h"
#include "resources/AppIcon.h"
#include "resources/Twips.h"
#include "settings/Settings.h"

namespace qm {
namespace {

constexpr int kClientWidth = 4125;  // twips
// One row below the controls holds the summary of the last scan.
constexpr int kClientHeight = 2370;
constexpr qint64 kProgressDelayMs = 1000;
constexpr int kProgressEveryMs = 100;  // the progress window's refresh while the scan waits

// A check box that can show the grayed state but that user clicks keep
// two-state: a click on a grayed box checks it.
class GrayableCheckBox : public QCheckBox {
 public:
  using QCheckBox::QCheckBox;

 protected:
  void nextCheckState() override {
    setCheckState(checkState() == Qt::Checked ? Qt::Unchecked : Qt::Checked);
  }
};

Failure InvalidSetting(const std::string& name, int value) {
  return Failure(FailureKind::Internal, Cause::kInternal,
                 "invalid value " + std::to_string(value) + " for " + name);
}

bool OnSomeScreen(const QRect& window) {
  for (const QScreen* screen : QGuiApplication::screens()) {
    if (screen->geometry().intersects(window)) return true;
  }
  return false;
}

// A label box narrower than its caption's ink at this font grows to the right,
// up to `limit` (the next control on its row, or the window's edge).
void WidenToFit(QLabel* label, int limit) {
  const int needed = label->fontMetrics().tightBoundingRect(label->text()).right() + 2;
  if (needed <= label->width()) return;
  label->resize(qMin(needed, limit - label->x()), label->height());
}

QLabel* MakeLabel(const char* name, const QString& text, QWidget* parent) {
  auto* label = new QLabel(text, parent);
  label->setObjectName(QString::fromLatin1(name));
  label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  return label;
}

}  // namespace

Qt::CheckState CheckStateFromSetting(int state) {
  switch (state) {
    case 0:
      return Qt::Unchecked;
    case 1:
      return Qt::Checked;
    case 2:
      return Qt::PartiallyChecked;
    default:
      throw InvalidSetting("a check box", state);
  }
}

int SettingFromCheckState(Qt::CheckState state) {
  switch (state) {
    case Qt::Checked:
      return 1;
    case Qt::PartiallyChecked:
      return 2;
    default:
      return 0;
  }
}

MailForm::MailForm(StoreOpener opener, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                          Qt::MSWindowsFixedSizeDialogHint),
      session_(opener ? std::move(opener) : ProfileOpener(HasDisplay(), this, &cancellation_)),
      messages_(session_),
      scan_(this, *this, cancellation_),
      folder_opener_([](const QUrl& folder) { return QDesktopServices::openUrl(folder); }) {
  setObjectName(QStringLiteral("MailForm"));
  setWindowTitle(QStringLiteral("Quillmar"));
  setWindowIcon(AppIcon());
  setFont(WindowFont());
  CreateControls();
  PlaceControls();
  // The progress window is looked at now and then, also while the scan
  // waits for a silent server and reports nothing.
  progress_timer_.setInterval(kProgressEveryMs);
  connect(&progress_timer_, &QTimer::timeout, this, [this] { ShowProgress(scan_.Latest()); });
}

// A window that goes while its scan runs stops the scan and waits for it:
// the scan's thread still uses the session, and may ask this thread for
// something in the meantime.
MailForm::~MailForm() {
  if (!scan_.Running()) return;
  cancellation_.Request();
  while (scan_.Running()) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
}

void MailForm::CreateControls() {
  // Created in tab order, so the focus chain follows it.
  get_ = new GetButton(this);
  get_->setObjectName(QStringLiteral("GET"));
  get_->setText(tr("GET!"));
  get_->setIcon(AppIcon());
  get_->setIconSize(QSize(32, 32));
  QFont get_font(QStringList{QStringLiteral("Arial"), QStringLiteral("Liberation Sans")});
  get_font.setPointSize(9);
  get_font.setBold(true);
  get_->setFont(get_font);

  ref_ = new QPushButton(tr("Browse"), this);
  ref_->setObjectName(QStringLiteral("REF"));
  ref_->setAutoDefault(false);
  ref_->setDefault(false);

  path_ = new QLineEdit(this);
  path_->setObjectName(QStringLiteral("PATH"));
  label1_ = MakeLabel("Label1", tr("Save files in"), this);
  sel_ = new QComboBox(this);
  sel_->setObjectName(QStringLiteral("Sel"));
  sel_->setEditable(false);
  label2_ = MakeLabel("Label2", tr("has", "<field> has <keyword> in it"), this);
  keyword_ = new QLineEdit(this);
  keyword_->setObjectName(QStringLiteral("KEYWORD"));
  label3_ = MakeLabel("Label3", tr("in it", "<field> has <keyword> in it"), this);

  const QString captions[] = {tr("Every message in the inbox"), tr("Unread messages only"),
                              tr("Quit after the scan")};
  for (int i = 0; i < 3; ++i) {
    opt_[i] = new GrayableCheckBox(captions[i], this);
    opt_[i]->setObjectName(QStringLiteral("Opt(%1)").arg(i));
  }

  summary_ = MakeLabel("Summary", QString(), this);
  summary_->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  open_folder_ = new QToolButton(this);
  open_folder_->setObjectName(QStringLiteral("OpenFolder"));
  open_folder_->setIcon(style()->standardIcon(QStyle::SP_DirOpenIcon));
  open_folder_->setToolTip(tr("Open the folder the files were saved in"));
  open_folder_->setAccessibleName(open_folder_->toolTip());
  open_folder_->hide();  // until a scan has something to show

  QWidget* order[] = {get_, ref_, path_, sel_, keyword_, opt_[0], opt_[1], opt_[2], open_folder_};
  for (std::size_t i = 1; i < std::size(order); ++i) setTabOrder(order[i - 1], order[i]);

  connect(get_, &GetButton::clicked, this, &MailForm::OnGetClicked);
  connect(ref_, &QPushButton::clicked, this, &MailForm::OnRefClicked);
  connect(open_folder_, &QToolButton::clicked, this, &MailForm::OnOpenFolderClicked);

  // The mailbox is changed from the window's context menu (a right click
  // anywhere that has no menu of its own); GET's tool tip tells where it is.
  get_->setToolTip(tr("Right-click to set the mailbox"));
  auto* mailbox_settings = new QAction(tr("Mailbox settings..."), this);
  mailbox_settings->setObjectName(QStringLiteral("MailboxSettings"));
  addAction(mailbox_settings);
  setContextMenuPolicy(Qt::ActionsContextMenu);
  connect(mailbox_settings, &QAction::triggered, this, &MailForm::OnMailboxSettings);
  if (!ScheduledRunOffered()) return;
  auto* schedule = new QAction(tr("Receive every few minutes..."), this);
  schedule->setObjectName(QStringLiteral("ScheduleRuns"));
  auto* stop_schedule = new QAction(tr("Stop receiving every few minutes"), this);
  stop_schedule->setObjectName(QStringLiteral("StopScheduledRuns"));
  addActions({schedule, stop_schedule});
  connect(schedule, &QAction::triggered, this, &MailForm::OnScheduleRuns);
  connect(stop_schedule, &QAction::triggered, this, &MailForm::OnStopScheduledRuns);
}

void MailForm::PlaceControls() {
  const qreal dpi = LogicalDpi(this);
  setFixedSize(TwipsRect(0, 0, kClientWidth, kClientHeight, dpi).size());
  get_->setGeometry(TwipsRect(3240, 1200, 795, 735, dpi));
  ref_->setGeometry(TwipsRect(3240, 300, 795, 315, dpi));
  path_->setGeometry(TwipsRect(120, 300, 3015, 270, dpi));
  label1_->setGeometry(TwipsRect(120, 60, 1140, 180, dpi));
  sel_->setGeometry(TwipsRect(120, 660, 1035, 300, dpi));
  label2_->setGeometry(TwipsRect(1200, 720, 165, 180, dpi));
  keyword_->setGeometry(TwipsRect(1440, 660, 1695, 315, dpi));
  label3_->setGeometry(TwipsRect(3300, 720, 510, 180, dpi));
  WidenToFit(label1_, width());
  WidenToFit(label2_, keyword_->x());
  WidenToFit(label3_, width());
  for (int i = 0; i < 3; ++i) opt_[i]->setGeometry(TwipsRect(120, 1080 + 300 * i, 2955, 255, dpi));
  summary_->setGeometry(TwipsRect(120, 2055, 3495, 255, dpi));
  open_folder_->setGeometry(TwipsRect(3735, 2025, 300, 300, dpi));
}

std::optional<int> MailForm::Load() {
  ReportSettingsFile(HasDisplay());
  CatchFailures(
      [this] {
        sel_->addItems({tr("Subject"), tr("Sender"), tr("Address")});
        PrepareSession(session_);
        FillControls();
        PlaceWindow();
      },
      [this](const Failure& failure) { OnScanFailure(failure, false); });
  if (Settings.AutoRun && !end_code_) {
    StartScan(false);
    WaitForScan();
  }
  return end_code_;
}

void MailForm::FillControls() {
  path_->setText(QString::fromStdString(Settings.Path));
  keyword_->setText(QString::fromStdString(Settings.Keyword));
  if (Settings.Item < 0 || Settings.Item >= sel_->count()) {
    throw InvalidSetting("the matched field", Settings.Item);
  }
  sel_->setCurrentIndex(Settings.Item);
  for (int i = 0; i < 3; ++i) opt_[i]->setCheckState(CheckStateFromSetting(Settings.Opt[i]));
}

// A position saved on a screen that is gone would open the window where
// nobody can reach it: it then opens at the primary screen's corner.
void MailForm::PlaceWindow() {
  const qreal dpi = LogicalDpi(this);
  QPoint position(TwipsToPixels(Settings.Left, dpi), TwipsToPixels(Settings.Top, dpi));
  if (!OnSomeScreen(QRect(position, size()))) {
    const QScreen* primary = QGuiApplication::primaryScreen();
    position = primary != nullptr ? primary->geometry().topLeft() : QPoint(0, 0);
  }
  move(position);
}

void MailForm::StoreControls() {
  Settings.Path = path_->text().toStdString();
  Settings.Keyword = keyword_->text().toStdString();
  Settings.Item = static_cast<std::int16_t>(sel_->currentIndex());
  for (int i = 0; i < 3; ++i) Settings.Opt[i] = SettingFromCheckState(opt_[i]->checkState());
}

void MailForm::Unload() {
  StoreControls();
  const qreal dpi = LogicalDpi(this);
  const QRect frame = frameGeometry();
  Settings.Left = PixelsToTwips(frame.x(), dpi);
  Settings.Top = PixelsToTwips(frame.y(), dpi);
  SaveSettings(*OpenReportingRegistry());
}

// Closing during a scan asks the scan to stop; the window unloads once the
// scan has ended. A program that is ending saves nothing.
void MailForm::closeEvent(QCloseEvent* event) {
  if (scanning_ && !end_code_) {
    cancellation_.Request();
    close_pending_ = true;
    event->ignore();
    return;
  }
  if (!end_code_ && !unloaded_) {
    unloaded_ = true;
    Unload();
  }
  event->accept();
}

void MailForm::OnGetClicked() {
  if (scanning_ || end_code_) return;
  StartScan(true);
}

void MailForm::OnRefClicked() {
  CatchFailures(
      [this] {
        Settings.Path = path_->text().toStdString();
        {
          Folder dialog(QString::fromStdString(Settings.Path));
          dialog.exec();
          Settings.Path = dialog.chosen().toStdString();
        }
        path_->setText(QString::fromStdString(Settings.Path));
      },
      [this](const Failure& failure) { EndWithFailure(failure); });
}

// The destination of the scan the summary tells of, in the desktop's file
// manager; the window stays as it is.
void MailForm::OnOpenFolderClicked() {
  if (folder_opener_(QUrl::fromLocalFile(summary_folder_))) return;
  QMessageBox::warning(
      this, windowTitle(),
      tr("The folder %1 could not be opened.").arg(QDir::toNativeSeparators(summary_folder_)));
}

// A scan signs on only once: the choice counts from the next scan.
void MailForm::OnMailboxSettings() {
  if (scanning_ || end_code_) return;
  CatchFailures(
      [this] {
        const std::unique_ptr<Registry> registry = OpenReportingRegistry();
        EditMailProfile(*registry, this);
      },
      [this](const Failure& failure) { EndWithFailure(failure); });
}

// A task of the scheduler starts the installed program with -a; 自動終了
// makes each run end without a window.
void MailForm::OnScheduleRuns() {
  if (scanning_ || end_code_) return;
  bool chosen = false;
  const int minutes = QInputDialog::getInt(this, windowTitle(),
                                           tr("Receive every (minutes, while you are logged on):"),
                                           15, 5, 1440, 5, &chosen);
  if (!chosen) return;
  CatchFailures(
      [&] {
        RegisterScheduledRun(QCoreApplication::applicationFilePath().toStdU16String(),
                             std::chrono::minutes(minutes));
        QString text =
            tr("Mail is now received every %1 minutes while you are logged on.").arg(minutes);
        if (opt_[2]->checkState() != Qt::Checked) {
          text += QLatin1Char('\n') +
                  tr("Check 自動終了 and close the window once, so that each run ends by itself.");
        }
        QMessageBox::information(this, windowTitle(), text);
        return true;
      },
      [this](const Failure& failure) {
        QMessageBox::warning(this, windowTitle(), FailureDetail(failure));
        return false;
      });
}

void MailForm::OnStopScheduledRuns() {
  if (scanning_ || end_code_) return;
  CatchFailures(
      [this] {
        QMessageBox::information(this, windowTitle(),
                                 RemoveScheduledRun()
                                     ? tr("Mail is no longer received every few minutes.")
                                     : tr("Mail was not received every few minutes."));
        return true;
      },
      [this](const Failure& failure) {
        QMessageBox::warning(this, windowTitle(), FailureDetail(failure));
        return false;
      });
}

// The scan runs on its own thread; this thread shows its progress and takes
// the user's cancel. `clicked`: started by GET, not by the load.
void MailForm::StartScan(bool clicked) {
  scanning_ = true;
  ClearSummary();
  end_after_scan_ = false;
  cancellation_.Reset();
  scan_clock_.start();
  progress_timer_.start();
  // The mail program's own sign-on window only for someone who clicked GET:
  // a run at start may be a scheduled one that no one watches.
  session_.SetPromptAllowed(clicked && HasDisplay());
  scan_.Start(
      [this](ScanHost& host) {
        const ScanLock one_at_a_time;
        RunScan(host, session_, messages_);
      },
      [this, clicked](const std::optional<Failure>& failure) { OnScanEnded(failure, clicked); });
}

// On the window's thread, once the scan's thread is done with the session.
void MailForm::OnScanEnded(const std::optional<Failure>& failure, bool clicked) {
  scanning_ = false;
  progress_timer_.stop();
  ScanFinished();
  if (failure) OnScanFailure(*failure, clicked);
  if (end_after_scan_ && !end_code_) End(0);
  if (close_pending_ && !end_code_) {
    close_pending_ = false;
    close();
  }
}

// A scan started by the load runs before the window is first shown: the
// load returns once it has ended, serving events meanwhile (the sign-on
// dialog, the progress window).
void MailForm::WaitForScan() {
  while (scanning_) {
    QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
  }
}

// Three failures of a scan leave the window open: a destination refused
// before signing on, or another scan with the same settings running, when
// the user clicked GET (nothing to clean up: they can correct it, or wait,
// and try again), and messages that could not be read once the scan has
// done everything else, unless the scan was to end the program anyway.
// Without a display nobody sees the window: the run ends with the failure's
// exit code.
void MailForm::OnScanFailure(const Failure& failure, bool clicked) {
  const bool refused = clicked && !end_code_ &&
                       ((failure.kind() == FailureKind::Destination && !session_.SignedOn()) ||
                        failure.kind() == FailureKind::Overlap);
  const bool skipped =
      failure.kind() == FailureKind::Unreadable && !ScanEndsProgram() && HasDisplay() && !end_code_;
  if (refused || skipped) {
    ReportFailure(failure, HasDisplay());
  } else {
    EndWithFailure(failure);
  }
}

void MailForm::EndWithFailure(const Failure& failure) {
  if (end_code_) return;  // already ending: the first failure was reported
  ScanFinished();
  ReportFailure(failure, HasDisplay());
  session_.Discard();
  End(failure.ExitCode());
}

void MailForm::End(int exit_code) {
  end_code_ = exit_code;
  QCoreApplication::exit(exit_code);
}

// While a scan runs, its values are the ones taken at its start: nothing
// else can be changed, chosen or started until it has ended.
void MailForm::SetScanEnabled(bool enabled) {
  for (QWidget* control : std::initializer_list<QWidget*>{get_, ref_, path_, sel_, keyword_,
                                                          opt_[0], opt_[1], opt_[2]}) {
    control->setEnabled(enabled);
  }
  for (QAction* action : actions()) action->setEnabled(enabled);
}

// The progress window appears once a scan has run for a second, where
// someone can see it: beside the shown main window, or on a display. It
// also appears while the server keeps the scan waiting.
void MailForm::ShowProgress(const ScanProgress& progress) {
  if (!scanning_ || scan_clock_.elapsed() < kProgressDelayMs) return;
  if (!isVisible() && !HasDisplay()) return;
  if (progress_ == nullptr) {
    progress_ = new ScanProgressWindow(this);
    connect(progress_, &ScanProgressWindow::CancelClicked, this,
            [this] { cancellation_.Request(); });
  }
  if (!progress_->isVisible()) {
    const QWidget* anchor = isVisible() ? static_cast<const QWidget*>(this) : nullptr;
    const QRect area =
        anchor != nullptr ? frameGeometry() : QGuiApplication::primaryScreen()->availableGeometry();
    progress_->move(area.center() - progress_->rect().center());
  }
  progress_->Show(progress);
}

void MailForm::ScanFinished() {
  if (progress_ != nullptr) progress_->hide();
}

// The line is cut short with "…" when the window is too narrow for it; its
// tool tip holds all of it. The folder is the one the scan saved in: the
// controls could not change while it ran.
void MailForm::ShowSummary(const ScanSummary& summary) {
  ReportUnattendedSummary(summary);
  const QString line = WindowSummaryLine(summary);
  summary_->setText(summary_->fontMetrics().elidedText(line, Qt::ElideRight, summary_->width()));
  summary_->setToolTip(line);
  summary_folder_ = QFileInfo(QString::fromStdString(Settings.Path)).absoluteFilePath();
  open_folder_->show();
}

void MailForm::ClearSummary() {
  summary_->clear();
  summary_->setToolTip(QString());
  open_folder_->hide();
}

// Asked for by the scan before it returns: the program ends once the scan's
// thread has ended.
void MailForm::EndProgram() { end_after_scan_ = true; }

}  // namespace qm
