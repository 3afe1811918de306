#pragma once
// Window and control geometry is given in twips (1/1440 inch). Pixels follow the
// screen's logical DPI; edges are rounded, not widths, so that neighbouring
// controls stay flush at every DPI.

#include <QRect>

class QWidget;

namespace qm {

int TwipsToPixels(int twips, qreal dpi);
int PixelsToTwips(int pixels, qreal dpi);

// The rectangle of a control given as left, top, width, height in twips.
QRect TwipsRect(int left, int top, int width, int height, qreal dpi);

// The logical DPI of the screen the widget is on (or of the primary screen).
qreal LogicalDpi(const QWidget* widget);

}  // namespace qm
