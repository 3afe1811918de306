// Twips to pixels at the usual logical DPIs: edges rounded, neighbours flush.

#include <QRect>
#include <QtTest>

#include "resources/Twips.h"

namespace qm {

class TwipsTest : public QObject {
  Q_OBJECT

 private slots:
  void conversions_data() {
    QTest::addColumn<qreal>("dpi");
    QTest::addColumn<int>("twips");
    QTest::addColumn<int>("pixels");
    QTest::addColumn<int>("backToTwips");  // twips of `pixels`
    QTest::newRow("96 client width") << 96.0 << 4125 << 275 << 4125;
    QTest::newRow("96 half pixel up") << 96.0 << 8 << 1 << 15;
    QTest::newRow("120 client width") << 120.0 << 4125 << 344 << 4128;
    QTest::newRow("144 client width") << 144.0 << 4125 << 413 << 4130;
    QTest::newRow("144 half away from zero") << 144.0 << 5 << 1 << 10;
    QTest::newRow("120 negative rounding") << 120.0 << -18 << -2 << -24;
  }
  void conversions() {
    QFETCH(qreal, dpi);
    QFETCH(int, twips);
    QFETCH(int, pixels);
    QFETCH(int, backToTwips);
    QCOMPARE(TwipsToPixels(twips, dpi), pixels);
    QCOMPARE(PixelsToTwips(pixels, dpi), backToTwips);
  }

  void rectangles_data() {
    QTest::addColumn<qreal>("dpi");
    QTest::addColumn<QRect>("twips");
    QTest::addColumn<QRect>("pixels");
    QTest::newRow("120") << 120.0 << QRect(1200, 720, 165, 180) << QRect(100, 60, 14, 15);
    QTest::newRow("144") << 144.0 << QRect(1200, 720, 165, 180) << QRect(120, 72, 17, 18);
    QTest::newRow("144 odd edges") << 144.0 << QRect(125, 5, 795, 735) << QRect(13, 1, 79, 73);
  }
  void rectangles() {
    QFETCH(qreal, dpi);
    QFETCH(QRect, twips);
    QFETCH(QRect, pixels);
    QCOMPARE(TwipsRect(twips.x(), twips.y(), twips.width(), twips.height(), dpi), pixels);
  }

  // Controls that touch in twips touch in pixels at every DPI, whatever the
  // rounding of their widths.
  void neighboursStayFlush() {
    const int widths[] = {165, 1035, 795, 7, 2955, 13, 510};
    for (const qreal dpi : {96.0, 108.0, 120.0, 144.0, 168.0, 192.0}) {
      int left = 45;
      for (const int width : widths) {
        const QRect a = TwipsRect(left, 0, width, 100, dpi);
        const QRect b = TwipsRect(left + width, 0, 300, 100, dpi);
        QVERIFY2(a.right() + 1 == b.left(), qPrintable(QString::number(dpi)));
        left += width;
      }
    }
  }
};

}  // namespace qm

QTEST_GUILESS_MAIN(qm::TwipsTest)
#include "twips_test.moc"
