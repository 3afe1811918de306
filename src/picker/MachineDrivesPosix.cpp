#include <QDir>

#include "picker/DriveList.h"

namespace qm {

QStringList MachineDrives() { return DriveRoots(QDir::homePath(), MountedVolumes()); }

}  // namespace qm
