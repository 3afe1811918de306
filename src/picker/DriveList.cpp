#include "picker/DriveList.h"

#include <QDir>
#include <QFileInfo>
#include <QStorageInfo>
#include <filesystem>
#include <system_error>

namespace qm {
namespace {

// Windows paths name the same file in either case ("c:/Data" is on "C:/").
#ifdef Q_OS_WIN
constexpr Qt::CaseSensitivity kPathCase = Qt::CaseInsensitive;
#else
constexpr Qt::CaseSensitivity kPathCase = Qt::CaseSensitive;
#endif

bool IsPseudoFileSystem(const QString& fsType) {
  static const QStringList kPseudo = {
      "autofs",   "binfmt_misc", "bpf",     "configfs",  "debugfs",         "devpts",
      "devtmpfs", "efivarfs",    "fusectl", "hugetlbfs", "mqueue",          "nsfs",
      "overlay",  "proc",        "pstore",  "ramfs",     "rpc_pipefs",      "securityfs",
      "squashfs", "sysfs",       "tmpfs",   "tracefs",   "fuse.gvfsd-fuse", "fuse.portal"};
  return fsType.startsWith("cgroup") || kPseudo.contains(fsType);
}

bool IsSystemMountPoint(const QString& root) {
  if (IsSameOrInside(root, "/run/media") && root != "/run/media") return false;
  for (const char* area : {"/proc", "/sys", "/dev", "/run"}) {
    if (IsSameOrInside(root, area)) return true;
  }
  return false;
}

}  // namespace

bool IsPseudoVolume(const VolumeEntry& volume) {
  return IsPseudoFileSystem(volume.fsType) || IsSystemMountPoint(QDir::cleanPath(volume.root));
}

QStringList DriveRoots(const QString& home, const QList<VolumeEntry>& volumes) {
  QStringList roots{"/"};
  auto add = [&roots](const QString& root) {
    const QString clean = QDir::cleanPath(root);
    if (!clean.isEmpty() && !roots.contains(clean)) roots.append(clean);
  };
  add(home);
  for (const VolumeEntry& volume : volumes) {
    if (volume.ready && !IsPseudoVolume(volume)) add(volume.root);
  }
  return roots;
}

bool IsSameOrInside(const QString& path, const QString& root) {
  const QString p = QDir::cleanPath(path);
  const QString r = QDir::cleanPath(root);
  if (p.isEmpty() || r.isEmpty()) return false;
  if (p.compare(r, kPathCase) == 0) return true;
  const QString prefix = r.endsWith('/') ? r : r + '/';
  return p.startsWith(prefix, kPathCase);
}

QString DriveOf(const QString& path, const QStringList& roots) {
  QString best;
  for (const QString& root : roots) {
    const QString clean = QDir::cleanPath(root);
    if (IsSameOrInside(path, clean) && clean.size() > best.size()) best = clean;
  }
  return best;
}

bool DriveIsReady(const QString& root) {
  if (root.isEmpty() || !QFileInfo(root).isDir()) return false;
  // Opening the folder is the real test: a dead mount or an unreadable folder
  // fails here even where permission bits (or running as root) say otherwise.
  std::error_code error;
  std::filesystem::directory_iterator listing(root.toStdString(), error);
  return !error;
}

QList<VolumeEntry> MountedVolumes() {
  QList<VolumeEntry> volumes;
  for (const QStorageInfo& storage : QStorageInfo::mountedVolumes()) {
    const QString root = storage.rootPath();
    // Containers mount single files (/etc/hosts); only folders can be drives.
    const bool ready = storage.isValid() && storage.isReady() && QFileInfo(root).isDir();
    volumes.append({root, QString::fromUtf8(storage.fileSystemType()), ready});
  }
  return volumes;
}

}  // namespace qm
