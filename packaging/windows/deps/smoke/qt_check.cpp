// Qt Widgets on the windows platform plugin: the version, the plugin and
// style in use, and a label with Japanese text shown and rendered.
#include "checks.h"

#include <QApplication>
#include <QImage>
#include <QLabel>
#include <QPixmap>
#include <QStyle>

#include <string>

bool checkQt(int &argc, char **argv)
{
    QApplication app(argc, argv);
    QLabel label(QString::fromUtf8("インボイス請求書"));
    label.show();
    app.processEvents();
    QImage image = label.grab().toImage();
    // Something was drawn: not every pixel has the colour of the first one.
    bool drawn = false;
    for (int y = 0; y < image.height() && !drawn; ++y)
        for (int x = 0; x < image.width() && !drawn; ++x)
            drawn = image.pixel(x, y) != image.pixel(0, 0);
    std::string detail = std::string("version ") + qVersion() + ", platform " +
                         QGuiApplication::platformName().toStdString() + ", style " +
                         app.style()->name().toStdString() + ", label " +
                         std::to_string(image.width()) + "x" + std::to_string(image.height()) +
                         (drawn ? " drawn" : " blank");
    return report(std::string(qVersion()) == "6.4.2" && QGuiApplication::platformName() == "windows" &&
                      label.isVisible() && drawn,
                  "qt", detail.c_str());
}
