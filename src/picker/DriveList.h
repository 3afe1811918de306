#pragma once
// The drives offered by the folder dialog: on Windows the machine's drive
// letters; elsewhere the file system root, the user's home folder and the real
// mounted volumes. The choice of volumes and the drive a path belongs to are
// plain functions, so they can be checked without a window or a particular
// machine.

#include <QList>
#include <QString>
#include <QStringList>

namespace qm {

// One mounted volume as the system reports it.
struct VolumeEntry {
  QString root;        // mount point
  QString fsType;      // file system type, e.g. "ext4", "tmpfs"
  bool ready = false;  // mounted, readable and its mount point is a folder
};

// True for volumes that hold no user files: kernel and memory file systems,
// container layers, read-only package images and mounts below /proc, /sys,
// /dev and /run (removable media under /run/media excepted).
bool IsPseudoVolume(const VolumeEntry& volume);

// "/", then home, then every ready, real volume, in that order, each root once.
QStringList DriveRoots(const QString& home, const QList<VolumeEntry>& volumes);

// The root in roots that holds path, the longest one when several do; empty when
// none does. Both sides are compared as cleaned absolute paths.
QString DriveOf(const QString& path, const QStringList& roots);

// True when path is root itself or lies below it.
bool IsSameOrInside(const QString& path, const QString& root);

// Whether a drive can be shown: its root is a folder that can be listed now.
bool DriveIsReady(const QString& root);

// The volumes mounted on this machine.
QList<VolumeEntry> MountedVolumes();

// The drives of this machine: on Windows every drive letter's root ("C:/"),
// ready or not (an empty card reader too, as Explorer shows it); elsewhere
// DriveRoots of this machine and user.
QStringList MachineDrives();

}  // namespace qm
