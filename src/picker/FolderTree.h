#pragma once
// The directory list of the folder dialog: the folder tree of one drive, with
// one folder "open". A single click only highlights a folder; a double click or
// Enter opens it. The open folder is drawn bold with an open-folder icon, and it
// is expanded to and scrolled into view as its parent folders finish loading.

#include <QFileIconProvider>
#include <QString>
#include <QTreeView>

class QFileSystemModel;

namespace qm {

class FolderMarks;

class FolderTree : public QTreeView {
  Q_OBJECT

 public:
  explicit FolderTree(QWidget* parent = nullptr);

  // Shows the tree of the drive rooted at drive, with folder (inside it) open.
  void ShowDrive(const QString& drive, const QString& folder);

  // Makes folder the open one, within the drive shown.
  void OpenFolder(const QString& folder);

  // The open folder: "/" for the file system root, any other folder without a
  // trailing separator.
  QString OpenPath() const { return open_; }
  QString Drive() const { return drive_; }

  // The row showing path in this view (loaded on demand); invalid when the path
  // is not a folder of the drive shown.
  QModelIndex IndexOf(const QString& path) const;

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;

 private:
  void OpenAt(const QModelIndex& index);
  void Reveal();
  void OnDirectoryLoaded(const QString& path);
  void RevealLater();

  QFileIconProvider icons_;
  QFileSystemModel* files_;
  FolderMarks* marks_;
  QString drive_;
  QString open_;
  // True from opening a folder until the user first scrolls, clicks or types:
  // meanwhile the view follows the open folder as the model loads and sorts.
  bool settling_ = false;
};

}  // namespace qm
