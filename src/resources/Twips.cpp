#include "resources/Twips.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>
#include <cmath>

namespace qm {

int TwipsToPixels(int twips, qreal dpi) {
  return static_cast<int>(std::lround(twips * dpi / 1440.0));
}

int PixelsToTwips(int pixels, qreal dpi) {
  return static_cast<int>(std::lround(pixels * 1440.0 / dpi));
}

QRect TwipsRect(int left, int top, int width, int height, qreal dpi) {
  const int x0 = TwipsToPixels(left, dpi);
  const int y0 = TwipsToPixels(top, dpi);
  const int x1 = TwipsToPixels(left + width, dpi);
  const int y1 = TwipsToPixels(top + height, dpi);
  return QRect(x0, y0, x1 - x0, y1 - y0);
}

qreal LogicalDpi(const QWidget* widget) {
  const QScreen* screen = widget != nullptr ? widget->screen() : nullptr;
  if (screen == nullptr) screen = QGuiApplication::primaryScreen();
  return screen != nullptr ? screen->logicalDotsPerInchX() : 96.0;
}

}  // namespace qm
