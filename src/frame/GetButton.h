#pragma once
// A small command button with its picture centred above its caption. A stock
// tool button with the text under the icon clips the caption at this size.

#include <QAbstractButton>

namespace qm {

class GetButton : public QAbstractButton {
  Q_OBJECT

 public:
  explicit GetButton(QWidget* parent = nullptr);

  QSize sizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;
};

}  // namespace qm
