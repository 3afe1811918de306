#include "picker/Folder.h"

#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMessageBox>
#include <QPixmap>
#include <QPushButton>
#include <QScreen>
#include <algorithm>

#include "picker/DriveList.h"
#include "picker/FolderTree.h"
#include "resources/Twips.h"

namespace qm {
namespace {

constexpr int kClientWidthTwips = 4005;
constexpr int kClientHeightTwips = 4095;

// A folder given by the user, as an absolute path; empty when text is empty.
QString AbsoluteFolder(const QString& text) {
  if (text.isEmpty()) return {};
  return QDir::cleanPath(QDir::current().absoluteFilePath(text));
}

// Where the directory list opens: the folder `path` when it is one, the home
// folder for an empty path, the current directory otherwise (a missing
// folder, or a file).
QString StartFolder(const QString& path) {
  if (path.isEmpty()) return QDir::homePath();
  const QString folder = AbsoluteFolder(path);
  if (QFileInfo(folder).isDir()) return folder;
  return QDir::currentPath();
}

QPushButton* CommandButton(const QString& name, const QString& text, QWidget* parent) {
  auto* button = new QPushButton(text, parent);
  button->setObjectName(name);
  button->setAutoDefault(false);
  button->setDefault(false);
  return button;
}

}  // namespace

Folder::Folder(const QString& start, QWidget* parent) : Folder(MachineDrives(), start, parent) {}

Folder::Folder(const QStringList& drives, const QString& start, QWidget* parent)
    : QDialog(parent), drives_(drives), chosen_(start) {
  setObjectName("Folder");
  setWindowTitle(tr("Choose a folder"));
  setWindowFlags(Qt::Tool | Qt::MSWindowsFixedSizeDialogHint | Qt::CustomizeWindowHint |
                 Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
  // An empty, transparent icon: without one the application's icon is used.
  QPixmap noIcon(16, 16);
  noIcon.fill(Qt::transparent);
  setWindowIcon(QIcon(noIcon));
  setModal(true);
  QFont font = this->font();
  font.setPointSize(9);
  setFont(font);
  BuildControls();
  PlaceControls();
  Load();
}

void Folder::BuildControls() {
  drive_ = new QComboBox(this);
  drive_->setObjectName("Drive");
  drive_->setEditable(false);
  drive_->addItems(drives_);
  dirSel_ = new FolderTree(this);
  dirSel_->setObjectName("DirSel");
  cancel_ = CommandButton("CANCEL", tr("Cancel"), this);
  ok_ = CommandButton("OK", tr("Choose"), this);
  setTabOrder(drive_, dirSel_);
  setTabOrder(dirSel_, cancel_);
  setTabOrder(cancel_, ok_);
  connect(cancel_, &QPushButton::clicked, this, &QDialog::reject);
  connect(ok_, &QPushButton::clicked, this, &Folder::OnOk);
}

void Folder::PlaceControls() {
  const qreal dpi = LogicalDpi(this);
  setFixedSize(TwipsToPixels(kClientWidthTwips, dpi), TwipsToPixels(kClientHeightTwips, dpi));
  drive_->setGeometry(TwipsRect(60, 120, 2835, 300, dpi));
  dirSel_->setGeometry(TwipsRect(60, 540, 2775, 3450, dpi));
  cancel_->setGeometry(TwipsRect(2940, 3660, 1035, 375, dpi));
  ok_->setGeometry(TwipsRect(2940, 3240, 1035, 375, dpi));
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    move(screen->availableGeometry().center() - rect().center());
  }
}

// The drive list starts at the drive of the current directory; the directory
// list shows the drive that holds the start folder, with that folder open.
void Folder::Load() {
  shownDrive_ = std::max<int>(0, drives_.indexOf(DriveOf(QDir::currentPath(), drives_)));
  drive_->setCurrentIndex(shownDrive_);
  const QString start = StartFolder(chosen_);
  const QString root = DriveOf(start, drives_);
  dirSel_->ShowDrive(root.isEmpty() ? QString("/") : root, start);
  connect(drive_, &QComboBox::currentIndexChanged, this, &Folder::OnDriveChanged);
}

// A drive that cannot be listed (unmounted, unreadable) is refused with a
// message, and the list goes back to the drive shown before.
void Folder::OnDriveChanged(int index) {
  const QString root = drives_.value(index);
  if (!DriveIsReady(root)) {
    QMessageBox::warning(this, windowTitle(), tr("The drive is not ready"));
    const QSignalBlocker quiet(drive_);
    drive_->setCurrentIndex(shownDrive_);
    return;
  }
  shownDrive_ = index;
  dirSel_->ShowDrive(root, root);
}

void Folder::OnOk() {
  chosen_ = dirSel_->OpenPath();
  accept();
}

// Esc does not close the dialog: it has no cancel button. The window's close
// command still rejects it, which leaves the folder as it was given.
void Folder::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape) {
    event->accept();
    return;
  }
  QDialog::keyPressEvent(event);
}

}  // namespace qm
