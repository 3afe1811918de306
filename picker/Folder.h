#pragma once
// The modal dialog that lets the user choose the destination folder. It starts
// from Settings.Path and, on "決定", puts the folder it has open back there;
// "ｷｬﾝｾﾙ" and the window's close command leave Settings.Path as it was.

#include <QDialog>
#include <QStringList>

class QComboBox;
class QPushButton;

namespace qm {

class FolderTree;

class Folder : public QDialog {
  Q_OBJECT

 public:
  // Offers this machine's drives.
  explicit Folder(QWidget* parent = nullptr);
  // Offers the given drive roots (for a fixed list of drives).
  explicit Folder(const QStringList& drives, QWidget* parent = nullptr);

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
};

}  // namespace qm
