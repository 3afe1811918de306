#include "frame/QtPlatform.h"

#include <QApplication>
#include <QGuiApplication>
#include <QStringList>
#include <QStyleFactory>

#include "resources/AppIcon.h"

namespace qm {
bool IsHeadlessPlatform(const std::string& name) {
  return name.starts_with("offscreen") || name.starts_with("minimal");
}

bool HasDisplay() {
  const QString name = QGuiApplication::platformName();
  return !name.isEmpty() && !IsHeadlessPlatform(name.toStdString());
}

QFont WindowFont() {
  QFont font(QStringList{QStringLiteral("MS UI Gothic"), QStringLiteral("IPAGothic"),
                         QStringLiteral("IPAゴシック"), QStringLiteral("Noto Sans CJK JP"),
                         QStringLiteral("sans-serif")});
  font.setPointSize(9);
  return font;
}

void ApplyApplicationLook(QApplication& application) {
  application.setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
  application.setFont(WindowFont());
  application.setWindowIcon(AppIcon());
}

}  // namespace qm
