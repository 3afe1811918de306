#pragma once
// The program's one picture (32 x 32, 16 colours): window icon, application
// icon and the picture on the GET button.

#include <QIcon>
#include <QPixmap>

namespace qm {

QPixmap AppPicture();
QIcon AppIcon();

}  // namespace qm
