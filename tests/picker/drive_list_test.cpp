// Which mounted volumes become drives, which drive a path belongs to, and when
// a drive counts as ready.

#include <QFile>
#include <QtTest>

#include "picker/DriveList.h"
#include "tests/support/TempDir.h"

namespace {

// The path as Qt writes it: '/' between names on every system.
QString Native(const std::filesystem::path& path) {
  return QDir::fromNativeSeparators(QString::fromStdU16String(path.u16string()));
}

}  // namespace

class DriveListTest : public QObject {
  Q_OBJECT

 private slots:
  void VolumeIsOffered_data() {
    QTest::addColumn<QString>("root");
    QTest::addColumn<QString>("fsType");
    QTest::addColumn<bool>("ready");
    QTest::addColumn<bool>("offered");
    const auto row = [](const char* name, const char* root, const char* type, bool ready,
                        bool offered) {
      QTest::newRow(name) << QString(root) << QString(type) << ready << offered;
    };
    row("disk", "/srv/data", "ext4", true, true);
    row("disk not ready", "/srv/data", "ext4", false, false);
    row("usb stick under /run/media", "/run/media/u/STICK", "vfat", true, true);
    row("/run/media itself", "/run/media", "ext4", true, false);
    row("other /run mount", "/run/user/1000/doc", "ext4", true, false);
    row("/run lookalike", "/running", "ext4", true, true);
    row("/proc", "/proc/sys/fs/binfmt_misc", "binfmt_misc", true, false);
    row("/sys on ext4", "/sys/firmware", "ext4", true, false);
    row("/dev on ext4", "/dev/shm", "ext4", true, false);
    row("tmpfs", "/mnt/scratch", "tmpfs", true, false);
    row("devtmpfs", "/mnt/devices", "devtmpfs", true, false);
    row("overlay", "/var/lib/layer", "overlay", true, false);
    row("squashfs", "/snap/core/1", "squashfs", true, false);
    row("cgroup2", "/mnt/cg", "cgroup2", true, false);
    row("network share", "/mnt/share", "nfs4", true, true);
  }
  void VolumeIsOffered() {
    QFETCH(QString, root);
    QFETCH(QString, fsType);
    QFETCH(bool, ready);
    QFETCH(bool, offered);
    const QStringList roots = qm::DriveRoots("/home/u", {{root, fsType, ready}});
    QCOMPARE(roots.contains(root), offered);
    QCOMPARE(roots.mid(0, 2), (QStringList{"/", "/home/u"}));
  }

  void DriveRootsKeepOrderWithoutDuplicates_data() {
    QTest::addColumn<QString>("home");
    QTest::addColumn<QStringList>("volumes");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("root fs and home listed again")
        << "/home/u" << QStringList{"/", "/home/u/", "/media/disk"}
        << QStringList{"/", "/home/u", "/media/disk"};
    QTest::newRow("home is the root")
        << "/" << QStringList{"/mnt/a", "/mnt/a"} << QStringList{"/", "/mnt/a"};
    QTest::newRow("no volumes") << "/home/u" << QStringList{} << QStringList{"/", "/home/u"};
  }
  void DriveRootsKeepOrderWithoutDuplicates() {
    QFETCH(QString, home);
    QFETCH(QStringList, volumes);
    QFETCH(QStringList, expected);
    QList<qm::VolumeEntry> entries;
    for (const QString& root : volumes) entries.append({root, "ext4", true});
    QCOMPARE(qm::DriveRoots(home, entries), expected);
  }

  void DriveOfTakesLongestRoot_data() {
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("expected");
    const auto row = [](const char* name, const char* path, const char* expected) {
      QTest::newRow(name) << QString(path) << QString(expected);
    };
    row("inside home", "/home/u/mail/in", "/home/u");
    row("home itself", "/home/u", "/home/u");
    row("home with separator", "/home/u/", "/home/u");
    row("name that only starts like home", "/home/user2/x", "/");
    row("nested mount wins", "/media/disk/sub/x", "/media/disk/sub");
    row("outer mount", "/media/disk/other", "/media/disk");
    row("root", "/", "/");
    row("dot segments", "/home/u/../v", "/");
    row("relative path", "data", "");
    row("empty", "", "");
  }
  void DriveOfTakesLongestRoot() {
    QFETCH(QString, path);
    QFETCH(QString, expected);
    const QStringList roots{"/", "/media/disk", "/home/u", "/media/disk/sub"};
    QCOMPARE(qm::DriveOf(path, roots), expected);
  }

  void DriveReadiness_data() {
    QTest::addColumn<QString>("entry");
    QTest::addColumn<bool>("ready");
    QTest::newRow("existing folder") << "folder" << true;
    QTest::newRow("missing folder") << "missing" << false;
    QTest::newRow("regular file") << "file" << false;
    QTest::newRow("below a regular file") << "file/inside" << false;
    QTest::newRow("empty root") << "" << false;
  }
  void DriveReadiness() {
    QFETCH(QString, entry);
    QFETCH(bool, ready);
    qm::testing::TempDir temp;
    std::filesystem::create_directory(temp / "folder");
    QFile file(Native(temp / "file"));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();
    const QString root = entry.isEmpty() ? QString() : Native(temp.path()) + "/" + entry;
    QCOMPARE(qm::DriveIsReady(root), ready);
  }

#ifdef Q_OS_WIN
  // Every drive letter once, as "X:/", the home folder's among them; a drive
  // need not be ready (an empty card reader is still listed).
  void MachineDrivesAreDriveLetters() {
    QStringList drives = qm::MachineDrives();
    QCOMPARE(drives.removeDuplicates(), 0);
    const QRegularExpression letterRoot("^[A-Z]:/$");
    for (const QString& root : drives)
      QVERIFY2(letterRoot.match(root).hasMatch(), qPrintable(root));
    QVERIFY(drives.contains(qm::DriveOf(QDir::homePath(), drives)));
    // A folder typed or stored with a lower-case letter is still on its drive.
    QCOMPARE(qm::DriveOf("c:/Users/x", {"C:/", "D:/"}), QString("C:/"));
    QCOMPARE(qm::DriveOf("d:\\data", {"C:/", "D:/"}), QString("D:/"));
  }
#else
  void MachineDrivesStartWithRootAndHome() {
    QStringList drives = qm::MachineDrives();
    QVERIFY(drives.size() >= 1);
    QCOMPARE(drives.first(), QString("/"));
    QVERIFY(drives.contains(QDir::cleanPath(QDir::homePath())));
    QCOMPARE(drives.removeDuplicates(), 0);
    for (const QString& root : drives) {
      QVERIFY2(!qm::IsSameOrInside(root, "/proc") && !qm::IsSameOrInside(root, "/sys"),
               qPrintable(root));
      QVERIFY2(qm::DriveIsReady(root), qPrintable(root));
    }
  }
#endif
};

QTEST_GUILESS_MAIN(DriveListTest)
#include "drive_list_test.moc"
