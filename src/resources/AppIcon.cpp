#include "resources/AppIcon.h"

// The resources sit in a static library: nothing would pull them into the
// program unless they are registered explicitly, outside any namespace.
static void RegisterQuillmarResources() { Q_INIT_RESOURCE(quillmar); }

namespace qm {

QPixmap AppPicture() {
  RegisterQuillmarResources();
  return QPixmap(QStringLiteral(":/quillmar.xpm"));
}

QIcon AppIcon() { return QIcon(AppPicture()); }

}  // namespace qm
