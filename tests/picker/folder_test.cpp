// The folder dialog: where it opens, what "決定", "ｷｬﾝｾﾙ", the close command and
// Esc give back, highlight versus open, drive changes, and its layout.

#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QtTest>

#include "picker/Folder.h"
#include "picker/FolderTree.h"
#include "resources/Translations.h"
#include "resources/Twips.h"
#include "tests/support/TempDir.h"

namespace {

// The path as Qt writes it: '/' between names on every system.
QString Native(const std::filesystem::path& path) {
  return QDir::fromNativeSeparators(QString::fromStdU16String(path.u16string()));
}

// A fixture tree: <tmp>/cwd (made the current directory), <tmp>/home (made
// $HOME), <tmp>/data with subfolders a and b, and a regular file <tmp>/file.
class Fixture {
 public:
  Fixture() : oldCwd_(QDir::currentPath()), oldHome_(qgetenv("HOME")) {
    for (const char* folder : {"cwd", "home", "data/a", "data/b"}) {
      std::filesystem::create_directories(temp_ / folder);
    }
    QFile file(Path("file"));
    file.open(QIODevice::WriteOnly);
    QDir::setCurrent(Path("cwd"));
    qputenv("HOME", Path("home").toUtf8());
  }
  ~Fixture() {
    QDir::setCurrent(oldCwd_);
    qputenv("HOME", oldHome_);
  }
  Fixture(const Fixture&) = delete;
  Fixture& operator=(const Fixture&) = delete;

  QString Root() const { return Native(temp_.path()); }
  QString Path(const QString& name) const { return name.isEmpty() ? Root() : Root() + "/" + name; }
  // Replaces "<tmp>" in a table entry with the fixture's folder, "<home>" with
  // the home folder (the fixture's own where $HOME decides it) and "<root>"
  // with the file system root ("/", or the system drive's "C:/").
  QString Expand(QString text) const {
    return text.replace("<tmp>", Root())
        .replace("<home>", QDir::homePath())
        .replace("<root>", QDir::rootPath());
  }

 private:
  qm::testing::TempDir temp_;
  QString oldCwd_;
  QByteArray oldHome_;
};

qm::FolderTree* DirSel(const qm::Folder& dialog) {
  return dialog.findChild<qm::FolderTree*>("DirSel");
}

QPushButton* Button(const qm::Folder& dialog, const char* name) {
  return dialog.findChild<QPushButton*>(name);
}

// Waits until the row of path is laid out in the tree (the model loads folders
// in the background); false when it never is.
bool Shown(qm::FolderTree* tree, const QString& path) {
  return QTest::qWaitFor([&] {
    const QModelIndex row = tree->IndexOf(path);
    return row.isValid() && tree->visualRect(row).isValid();
  });
}

// Closes the next message box that appears and keeps its text.
void CloseNextMessageBox(QString* text) {
  auto* poll = new QTimer(qApp);
  QObject::connect(poll, &QTimer::timeout, [poll, text] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (box == nullptr) return;
    *text = box->text();
    box->done(QMessageBox::Ok);
    poll->deleteLater();
  });
  poll->start(10);
}

enum class Action { Ok, Cancel, Close };

void Finish(qm::Folder& dialog, Action action) {
  switch (action) {
    case Action::Ok:
      QTest::mouseClick(Button(dialog, "OK"), Qt::LeftButton);
      break;
    case Action::Cancel:
      QTest::mouseClick(Button(dialog, "CANCEL"), Qt::LeftButton);
      break;
    case Action::Close:
      dialog.close();
      break;
  }
}

}  // namespace

Q_DECLARE_METATYPE(Action)

class FolderTest : public QObject {
  Q_OBJECT

 private slots:

  // Where the dialog opens for a given Path, and what each way of closing it
  // gives back.
  void OpensAndCloses_data() {
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("opens");
    QTest::addColumn<Action>("action");
    QTest::addColumn<QString>("result");
    const auto row = [](const char* name, const char* path, const char* opens, Action action,
                        const char* result) {
      QTest::newRow(name) << QString(path) << QString(opens) << action << QString(result);
    };
    row("existing folder, OK", "<tmp>/data", "<tmp>/data", Action::Ok, "<tmp>/data");
    row("existing folder, CANCEL", "<tmp>/data/a", "<tmp>/data/a", Action::Cancel, "<tmp>/data/a");
    row("folder with separator, OK gives none", "<tmp>/data/", "<tmp>/data", Action::Ok,
        "<tmp>/data");
    row("relative folder", "../data/b", "<tmp>/data/b", Action::Ok, "<tmp>/data/b");
    row("missing folder, CANCEL keeps text", "<tmp>/gone", "<tmp>/cwd", Action::Cancel,
        "<tmp>/gone");
    row("missing folder, OK takes current directory", "<tmp>/gone", "<tmp>/cwd", Action::Ok,
        "<tmp>/cwd");
    row("typed text kept on close command", "not a folder at all", "<tmp>/cwd", Action::Close,
        "not a folder at all");
    row("file, opens at current directory", "<tmp>/file", "<tmp>/cwd", Action::Ok, "<tmp>/cwd");
    row("file, close command keeps it", "<tmp>/file", "<tmp>/cwd", Action::Close, "<tmp>/file");
    row("empty, opens at home", "", "<home>", Action::Ok, "<home>");
    row("empty, CANCEL stays empty", "", "<home>", Action::Cancel, "");
    row("file system root keeps its separator", "<root>", "<root>", Action::Ok, "<root>");
  }
  void OpensAndCloses() {
    QFETCH(QString, path);
    QFETCH(QString, opens);
    QFETCH(Action, action);
    QFETCH(QString, result);
    Fixture fixture;
    qm::Folder dialog(QStringList{QDir::rootPath(), fixture.Root()}, fixture.Expand(path));
    dialog.show();
    qm::FolderTree* tree = DirSel(dialog);
    QCOMPARE(tree->OpenPath(), fixture.Expand(opens));
    QVERIFY(Shown(tree, tree->OpenPath()));
    QVERIFY(tree->IndexOf(tree->OpenPath()).data(Qt::FontRole).value<QFont>().bold());
    Finish(dialog, action);
    QVERIFY(!dialog.isVisible());
    QCOMPARE(dialog.result(), action == Action::Ok ? QDialog::Accepted : QDialog::Rejected);
    QCOMPARE(dialog.chosen(), fixture.Expand(result));
  }

  // Deep in a long list, the open folder is expanded to, scrolled into view and
  // drawn with the open-folder icon, which its siblings do not have.
  void OpenFolderIsRevealed() {
    Fixture fixture;
    for (int i = 0; i < 80; ++i)
      QDir().mkpath(fixture.Path(QString("data/m/f%1").arg(i, 3, 10, QChar('0'))));
    const QString open = fixture.Path("data/m/f072");
    qm::Folder dialog(QStringList{QDir::rootPath(), fixture.Root()}, open);
    dialog.show();
    qm::FolderTree* tree = DirSel(dialog);
    QVERIFY(Shown(tree, open));
    // The row is there before its siblings are; they load and sort later.
    QTRY_COMPARE(tree->model()->rowCount(tree->IndexOf(fixture.Path("data/m"))), 80);
    QTRY_COMPARE(tree->IndexOf(open).row(), 72);
    QTRY_VERIFY(tree->viewport()->rect().contains(tree->visualRect(tree->IndexOf(open))));
    const auto icon = [tree](const QString& path) {
      return tree->IndexOf(path).data(Qt::DecorationRole).value<QIcon>().pixmap(16).toImage();
    };
    QVERIFY(icon(open) != icon(fixture.Path("data/m/f071")));
    QVERIFY(!tree->IndexOf(fixture.Path("data/m/f071")).data(Qt::FontRole).value<QFont>().bold());
  }

  // Only an opened folder counts: a highlighted one is not taken by OK.
  void HighlightVersusOpen_data() {
    QTest::addColumn<QString>("gesture");
    QTest::addColumn<QString>("result");
    QTest::newRow("single click only highlights") << QString("click") << QString("a");
    QTest::newRow("double click opens") << QString("double click") << QString("b");
    QTest::newRow("Enter opens the highlighted folder") << QString("enter") << QString("b");
  }
  void HighlightVersusOpen() {
    QFETCH(QString, gesture);
    QFETCH(QString, result);
    Fixture fixture;
    qm::Folder dialog(QStringList{QDir::rootPath(), fixture.Root()}, fixture.Path("data/a"));
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    qm::FolderTree* tree = DirSel(dialog);
    QVERIFY(Shown(tree, fixture.Path("data/b")));
    const QModelIndex b = tree->IndexOf(fixture.Path("data/b"));
    const QPoint at = tree->visualRect(b).center();
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, at);
    QCOMPARE(tree->currentIndex(), b);
    if (gesture == "double click") QTest::mouseDClick(tree->viewport(), Qt::LeftButton, {}, at);
    if (gesture == "enter") QTest::keyClick(tree, Qt::Key_Return);
    QVERIFY(dialog.isVisible());
    const QString opened = fixture.Path("data/" + result);
    QCOMPARE(tree->IndexOf(opened).data(Qt::FontRole).value<QFont>().bold(), true);
    Finish(dialog, Action::Ok);
    QCOMPARE(dialog.chosen(), opened);
  }

  void EscapeDoesNotClose_data() {
    QTest::addColumn<QString>("target");
    QTest::newRow("dialog") << "Folder";
    QTest::newRow("directory list") << "DirSel";
    QTest::newRow("OK button") << "OK";
  }
  void EscapeDoesNotClose() {
    QFETCH(QString, target);
    Fixture fixture;
    qm::Folder dialog(QStringList{"/"}, fixture.Path("data"));
    dialog.show();
    QWidget* widget = target == "Folder" ? &dialog : dialog.findChild<QWidget*>(target);
    QVERIFY(widget != nullptr);
    QTest::keyClick(widget, Qt::Key_Escape);
    QVERIFY(dialog.isVisible());
    Finish(dialog, Action::Ok);
    QCOMPARE(dialog.chosen(), fixture.Path("data"));
  }

  // The drive list starts at the drive of the current directory, not at the
  // drive of Path; the directory list shows Path.
  void DriveListStartsAtCurrentDirectory_data() {
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("drive");
    QTest::addColumn<QString>("treeDrive");
    QTest::newRow("Path on another drive")
        << QString("<root>") << QString("<tmp>") << QString("<root>");
    QTest::newRow("Path on the same drive")
        << QString("<tmp>/cwd") << QString("<tmp>") << QString("<tmp>");
    QTest::newRow("Path on a nested drive")
        << QString("<tmp>/data/a") << QString("<tmp>") << QString("<tmp>/data");
  }
  void DriveListStartsAtCurrentDirectory() {
    QFETCH(QString, path);
    QFETCH(QString, drive);
    QFETCH(QString, treeDrive);
    Fixture fixture;
    qm::Folder dialog(QStringList{QDir::rootPath(), fixture.Root(), fixture.Path("data")},
                      fixture.Expand(path));
    QCOMPARE(dialog.findChild<QComboBox*>("Drive")->currentText(), fixture.Expand(drive));
    QCOMPARE(DirSel(dialog)->Drive(), fixture.Expand(treeDrive));
    QCOMPARE(DirSel(dialog)->OpenPath(), QDir::cleanPath(fixture.Expand(path)));
  }

  // Picking a drive opens its root; a drive that is not ready is refused with
  // a message and the list goes back to the drive shown before.
  void DriveChange_data() {
    QTest::addColumn<QString>("picked");
    QTest::addColumn<bool>("refused");
    QTest::newRow("ready drive") << "<tmp>/data" << false;
    QTest::newRow("file system root") << "<root>" << false;
    QTest::newRow("missing mount point") << "<tmp>/unplugged" << true;
    QTest::newRow("root below a regular file") << "<tmp>/file/inside" << true;
  }
  void DriveChange() {
    QFETCH(QString, picked);
    QFETCH(bool, refused);
    Fixture fixture;
    const QString root = fixture.Expand(picked);
    qm::Folder dialog(QStringList{QDir::rootPath(), fixture.Root(), root}, fixture.Path("data/a"));
    dialog.show();
    auto* drive = dialog.findChild<QComboBox*>("Drive");
    const int before = drive->currentIndex();
    QString message;
    if (refused) CloseNextMessageBox(&message);
    drive->setCurrentIndex(drive->findText(root));
    qm::FolderTree* tree = DirSel(dialog);
    if (refused) {
      QCOMPARE(message, QString::fromUtf8("ﾄﾞﾗｲﾌﾞが準備できていません"));
      QCOMPARE(drive->currentIndex(), before);
      QCOMPARE(tree->OpenPath(), fixture.Path("data/a"));
    } else {
      QCOMPARE(tree->Drive(), root);
      QCOMPARE(tree->OpenPath(), root);
      QVERIFY(Shown(tree, root));
    }
    QVERIFY(dialog.isVisible());
    Finish(dialog, Action::Ok);
    QCOMPARE(dialog.chosen(), refused ? fixture.Path("data/a") : root);
  }

  void ControlLayout_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QRect>("twips");
    const auto row = [](const char* name, const char* text, QRect twips) {
      QTest::newRow(name) << QString(name) << QString(text) << twips;
    };
    row("Drive", "", QRect(60, 120, 2835, 300));
    row("DirSel", "", QRect(60, 540, 2775, 3450));
    row("CANCEL", "ｷｬﾝｾﾙ", QRect(2940, 3660, 1035, 375));
    row("OK", "決定", QRect(2940, 3240, 1035, 375));
  }
  void ControlLayout() {
    QFETCH(QString, name);
    QFETCH(QString, text);
    QFETCH(QRect, twips);
    qm::Folder dialog(QStringList{"/"}, QString());
    const qreal dpi = qm::LogicalDpi(&dialog);
    QWidget* control = dialog.findChild<QWidget*>(name);
    QVERIFY(control != nullptr);
    QCOMPARE(control->geometry(),
             qm::TwipsRect(twips.x(), twips.y(), twips.width(), twips.height(), dpi));
    if (auto* button = qobject_cast<QPushButton*>(control)) QCOMPARE(button->text(), text);
  }

  void WindowShape() {
    qm::Folder dialog(QStringList{"/"}, QString());
    const qreal dpi = qm::LogicalDpi(&dialog);
    QCOMPARE(dialog.objectName(), QString("Folder"));
    QCOMPARE(dialog.windowTitle(), QString::fromUtf8("ﾌｫﾙﾀﾞを指定してください"));
    const QSize client(qm::TwipsToPixels(4005, dpi), qm::TwipsToPixels(4095, dpi));
    QCOMPARE(dialog.minimumSize(), client);
    QCOMPARE(dialog.maximumSize(), client);
    QVERIFY(dialog.windowFlags().testFlag(Qt::Tool));
    QVERIFY(dialog.windowFlags().testFlag(Qt::MSWindowsFixedSizeDialogHint));
    QVERIFY(!dialog.windowFlags().testFlag(Qt::WindowMinMaxButtonsHint));
    QVERIFY(dialog.isModal());
    QVERIFY(!dialog.findChild<QComboBox*>("Drive")->isEditable());
    for (const char* name : {"OK", "CANCEL"}) {
      QVERIFY(!Button(dialog, name)->autoDefault());
      QVERIFY(!Button(dialog, name)->isDefault());
    }
  }

  void TabOrder() {
    qm::Folder dialog(QStringList{"/"}, QString());
    const QStringList wanted{"Drive", "DirSel", "CANCEL", "OK"};
    QStringList order;
    QWidget* widget = dialog.findChild<QWidget*>("Drive");
    for (int step = 0; step < 64 && order.size() < wanted.size(); ++step) {
      if (wanted.contains(widget->objectName()) && !order.contains(widget->objectName())) {
        order.append(widget->objectName());
      }
      widget = widget->nextInFocusChain();
    }
    QCOMPARE(order, wanted);
  }
};

int main(int argc, char** argv) {
  // A private runtime folder, so Qt does not complain about a shared one.
  qm::testing::TempDir runtime;
  qputenv("XDG_RUNTIME_DIR", QByteArray::fromStdString(runtime.path().string()));
#ifndef Q_OS_WIN
  // Windows has no offscreen platform: there the dialog opens on the desktop.
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
#endif
  QApplication app(argc, argv);
  const qm::JapaneseWindowTexts japanese;
  FolderTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "folder_test.moc"
