#include "frame/GetButton.h"

#include <QPainter>
#include <QStyle>
#include <QStyleOptionButton>

namespace qm {

GetButton::GetButton(QWidget* parent) : QAbstractButton(parent) { setFocusPolicy(Qt::StrongFocus); }

QSize GetButton::sizeHint() const {
  const QSize caption = fontMetrics().size(Qt::TextShowMnemonic, text());
  const QSize picture = iconSize();
  return QSize(qMax(caption.width(), picture.width()) + 8, caption.height() + picture.height() + 8);
}

void GetButton::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  QStyleOptionButton option;
  option.initFrom(this);
  if (isDown()) option.state |= QStyle::State_Sunken;
  if (!isDown()) option.state |= QStyle::State_Raised;
  style()->drawControl(QStyle::CE_PushButtonBevel, &option, &painter, this);

  const int line = fontMetrics().height();
  const QSize picture = iconSize();
  const int top = (height() - picture.height() - line) / 2;
  const int shift = isDown() ? 1 : 0;
  const QIcon::Mode mode = isEnabled() ? QIcon::Normal : QIcon::Disabled;
  const QRect picture_rect(QPoint((width() - picture.width()) / 2 + shift, top + shift), picture);
  icon().paint(&painter, picture_rect, Qt::AlignCenter, mode);

  const QRect text_rect(shift, picture_rect.bottom() + 1, width(), line);
  style()->drawItemText(&painter, text_rect, Qt::AlignHCenter | Qt::AlignTop | Qt::TextShowMnemonic,
                        palette(), isEnabled(), text(), QPalette::ButtonText);
  if (hasFocus()) {
    QStyleOptionFocusRect focus;
    focus.initFrom(this);
    focus.rect = rect().adjusted(4, 4, -4, -4);
    style()->drawPrimitive(QStyle::PE_FrameFocusRect, &focus, &painter, this);
  }
}

}  // namespace qm
