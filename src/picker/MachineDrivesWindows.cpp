#include <QDir>
#include <QFileInfo>

#include "picker/DriveList.h"

namespace qm {

QStringList MachineDrives() {
  QStringList roots;
  for (const QFileInfo& drive : QDir::drives()) roots.append(drive.absoluteFilePath());
  return roots;
}

}  // namespace qm
