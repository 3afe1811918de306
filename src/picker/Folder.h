#pragma once
// The modal dialog that lets the user choose the destination folder. It starts
// from a folder it is given and, on "決定", gives back the folder it has open;
// "ｷｬﾝｾﾙ" and the window's close command give back the folder as it was given.

#include <QDialog>
#include <QStringList>

class QComboBox;
class QPushButton;

namespace qm {

class FolderTree;

class Folder : public QDialog {
  Q_OBJECT

 public:
  // Offers this machine's drives, starting from `start` (as typed by the user).
  explicit Folder(const QString& start, QWidget* parent = nullptr);
  // Offers the given drive roots (for a fixed list of drives).
  Folder(const QStringList& drives, const QString& start, QWidget* parent = nullptr);

  // The folder chosen with "決定", else the start folder unchanged.
  const QString& chosen() const { return chosen_; }

 protected:
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void BuildControls();
  void PlaceControls();
  void Load();
  void OnDriveChanged(int index);
  void OnOk();

  QStringList drives_;  // roots offered by the drive list, in its order
  QComboBox* drive_;
  FolderTree* dirSel_;
  QPushButton* cancel_;
  QPushButton* ok_;
  int shownDrive_ = -1;
  QString chosen_;
};

}  // namespace qm
