#include "picker/FolderTree.h"

#include <QApplication>
#include <QDir>
#include <QFileSystemModel>
#include <QHeaderView>
#include <QKeyEvent>
#include <QScrollBar>
#include <QSortFilterProxyModel>
#include <QStyle>

#include "picker/DriveList.h"

namespace qm {

// Between the file system model and the view: shows only the drive's own branch
// (the drive root and its parents, not their siblings), names the drive root by
// its full path and marks the open folder.
class FolderMarks : public QSortFilterProxyModel {
 public:
  FolderMarks(QFileSystemModel* files, QObject* parent)
      : QSortFilterProxyModel(parent), files_(files) {
    setSourceModel(files);
  }

  void SetDrive(const QString& drive) {
    drive_ = drive;
    invalidateFilter();
  }

  void SetOpen(const QString& open) {
    const QString previous = open_;
    open_ = open;
    Refresh(previous);
    Refresh(open_);
  }

  QVariant data(const QModelIndex& index, int role) const override {
    if (index.column() != 0) return QSortFilterProxyModel::data(index, role);
    const QString path = files_->filePath(mapToSource(index));
    if (role == Qt::DisplayRole && path == drive_) return drive_;
    if (path != open_) return QSortFilterProxyModel::data(index, role);
    if (role == Qt::FontRole) {
      QFont bold = QSortFilterProxyModel::data(index, role).value<QFont>();
      bold.setBold(true);
      return bold;
    }
    if (role == Qt::DecorationRole)
      return QApplication::style()->standardIcon(QStyle::SP_DirOpenIcon);
    return QSortFilterProxyModel::data(index, role);
  }

 protected:
  bool filterAcceptsRow(int row, const QModelIndex& parent) const override {
    const QString path = files_->filePath(files_->index(row, 0, parent));
    return IsSameOrInside(path, drive_) || IsSameOrInside(drive_, path);
  }

 private:
  void Refresh(const QString& path) {
    if (path.isEmpty()) return;
    const QModelIndex row = mapFromSource(files_->index(path));
    if (row.isValid()) emit dataChanged(row, row, {Qt::FontRole, Qt::DecorationRole});
  }

  QFileSystemModel* files_;
  QString drive_;
  QString open_;
};

namespace {

QString CleanFolder(const QString& path) {
  return QDir::cleanPath(QDir::current().absoluteFilePath(path));
}

}  // namespace

FolderTree::FolderTree(QWidget* parent)
    : QTreeView(parent), files_(new QFileSystemModel(this)), marks_(new FolderMarks(files_, this)) {
  files_->setIconProvider(&icons_);
  files_->setFilter(QDir::Dirs | QDir::Drives | QDir::AllDirs | QDir::NoDotAndDotDot |
                    QDir::Hidden);
  files_->setReadOnly(true);
  setModel(marks_);
  for (int column = 1; column < files_->columnCount(); ++column) setColumnHidden(column, true);
  setHeaderHidden(true);
  setExpandsOnDoubleClick(false);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  connect(this, &QTreeView::doubleClicked, this, &FolderTree::OpenAt);
  connect(files_, &QFileSystemModel::directoryLoaded, this, &FolderTree::OnDirectoryLoaded);
  connect(marks_, &QAbstractItemModel::layoutChanged, this, &FolderTree::RevealLater);
  connect(verticalScrollBar(), &QScrollBar::actionTriggered, this, [this] { settling_ = false; });
}

void FolderTree::ShowDrive(const QString& drive, const QString& folder) {
  drive_ = CleanFolder(drive);
  files_->setRootPath(drive_);
  marks_->SetDrive(drive_);
  // The drive root is shown as the one top row, under its parent folder.
  const QModelIndex driveRow = files_->index(drive_);
  setRootIndex(marks_->mapFromSource(driveRow.parent()));
  OpenFolder(folder);
}

void FolderTree::OpenFolder(const QString& folder) {
  open_ = CleanFolder(folder);
  settling_ = true;
  marks_->SetOpen(open_);
  const QModelIndex row = IndexOf(open_);
  if (row.isValid()) setCurrentIndex(row);
  Reveal();
}

QModelIndex FolderTree::IndexOf(const QString& path) const {
  const QString clean = CleanFolder(path);
  if (!IsSameOrInside(clean, drive_)) return {};
  return marks_->mapFromSource(files_->index(clean));
}

void FolderTree::keyPressEvent(QKeyEvent* event) {
  settling_ = false;
  if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
    OpenAt(currentIndex());
    event->accept();
    return;
  }
  QTreeView::keyPressEvent(event);
}

void FolderTree::mousePressEvent(QMouseEvent* event) {
  settling_ = false;
  QTreeView::mousePressEvent(event);
}

void FolderTree::wheelEvent(QWheelEvent* event) {
  settling_ = false;
  QTreeView::wheelEvent(event);
}

void FolderTree::OpenAt(const QModelIndex& index) {
  const QModelIndex folder = marks_->mapToSource(index.siblingAtColumn(0));
  if (folder.isValid() && files_->isDir(folder)) OpenFolder(files_->filePath(folder));
}

// Expands every folder from the drive root down to the open folder, the open
// folder included, and scrolls it into view. The model loads and sorts folders
// in the background, so this runs again after each step until the user acts.
void FolderTree::Reveal() {
  const QModelIndex open = IndexOf(open_);
  if (!open.isValid()) return;
  for (QModelIndex row = open; row.isValid() && row != rootIndex(); row = row.parent()) {
    expand(row);
  }
  scrollTo(open);
}

void FolderTree::OnDirectoryLoaded(const QString& path) {
  // Only the open folder's own line of parents moves the view.
  if (IsSameOrInside(open_, path)) RevealLater();
}

void FolderTree::RevealLater() {
  if (!settling_) return;
  QMetaObject::invokeMethod(this, &FolderTree::Reveal, Qt::QueuedConnection);
}

}  // namespace qm
