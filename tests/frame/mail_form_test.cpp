// The main window on the offscreen platform: controls, geometry, the binding
// between controls and settings through the real settings file, the load-time
// scan on an injected mailbox, and the folder round trip.

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRawFont>
#include <QScreen>
#include <QTimer>
#include <QtTest>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>

#include "base/Failure.h"
#include "frame/ConsoleLanguage.h"
#include "frame/MailForm.h"
#include "frame/QtPlatform.h"
#include "frame/ReportSetAside.h"
#include "frame/ScanLock.h"
#include "frame/ScanProgressWindow.h"
#include "resources/Twips.h"
#include "settings/Settings.h"
#include "store/MailStore.h"
#include "tests/frame/OutputCapture.h"
#include "tests/frame/WindowTestSupport.h"
#include "tests/support/FileBytes.h"

namespace qm {
namespace {

using testing::AddCaptionColumns;
using testing::AddCaptionRow;
using testing::Control;
using testing::CountingStore;
using testing::MailboxLog;
using testing::ModalCloser;
using testing::OpenerFor;

// Settings as the next start would see them.
SettingsRecord ReloadedSettings() {
  Settings = SettingsRecord{};
  LoadSettings();
  return Settings;
}

// GET, and the scan it starts on its own thread, to its end.
void ClickGetAndWait(MailForm& form) {
  QTest::mouseClick(Control<QWidget>(form, "GET"), Qt::LeftButton);
  QTRY_VERIFY_WITH_TIMEOUT(!form.Scanning(), 30000);
}

}  // namespace

class MailFormTest : public QObject {
  Q_OBJECT

 private slots:
  void init() { folder_.emplace(); }
  void cleanup() { folder_.reset(); }

  void captionsAndNames_data();
  void captionsAndNames();
  void windowIsAFixedDialog();
  void tabOrder();
  void geometry_data();
  void geometry();
  void checkBoxStates_data();
  void checkBoxStates();
  void firstRunDefaults();
  void loadAndUnloadThroughSettingsFile();
  void unreadableSettingsFileIsSetAsideAtUnload();
  void offScreenPositionMended_data();
  void offScreenPositionMended();
  void loadTimeScan_data();
  void loadTimeScan();
  void refusedDestinationKeepsWindowOpen();
  void scanRunningElsewhereKeepsWindowOpen();
  void mailboxFailureEndsProgram();
  void unreadableMessagesReportedOnceAfterTheScan_data();
  void unreadableMessagesReportedOnceAfterTheScan();
  void cancelledFolderDialogKeepsTypedPath();
  void captionsHaveJapaneseGlyphs();
  void captionsFitTheirBoxes();
  void closeDuringScanCancelsThenUnloads();
  void controlsAreDisabledWhileScanning();
  void slowScanShowsCancellableProgress();
  void platformChoice_data();
  void platformChoice();
  void progressWindowCancels_data();
  void progressWindowCancels();
  void progressBarAdvancesAndNamesSlowFiles();

 private:
  std::optional<testing::FreshHome> folder_;
};

void MailFormTest::captionsAndNames_data() {
  AddCaptionColumns();
  AddCaptionRow("GET", "qm::GetButton", QStringLiteral("GET!"));
  AddCaptionRow("REF", "QPushButton", QStringLiteral("参照"));
  AddCaptionRow("Label1", "QLabel", QStringLiteral("ﾌｧｲﾙの保存先"));
  AddCaptionRow("Label2", "QLabel", QStringLiteral("に"));
  AddCaptionRow("Label3", "QLabel", QStringLiteral("を含む"));
  AddCaptionRow("Opt(0)", "QCheckBox", QStringLiteral("受信ﾄﾚｲにあるﾒｰﾙすべてが対象"));
  AddCaptionRow("Opt(1)", "QCheckBox", QStringLiteral("未読ﾒｰﾙのみが対象"));
  AddCaptionRow("Opt(2)", "QCheckBox", QStringLiteral("自動終了"));
}

void MailFormTest::captionsAndNames() {
  QFETCH(QString, name);
  QFETCH(QString, kind);
  QFETCH(QString, text);
  MailForm form(OpenerFor());
  QWidget* control = Control<QWidget>(form, name.toLatin1().constData());
  QVERIFY(control->inherits(kind.toLatin1().constData()));
  QCOMPARE(control->property("text").toString(), text);
}

void MailFormTest::windowIsAFixedDialog() {
  MailForm form(OpenerFor());
  QCOMPARE(form.objectName(), QStringLiteral("MailForm"));
  QCOMPARE(form.windowTitle(), QStringLiteral("Quillmar"));
  const Qt::WindowFlags flags = form.windowFlags();
  QVERIFY(!(flags & Qt::WindowMinimizeButtonHint));
  QVERIFY(!(flags & Qt::WindowMaximizeButtonHint));
  QVERIFY(flags & Qt::WindowCloseButtonHint);
  QCOMPARE(form.windowType(), Qt::Window);  // a top-level window of its own, in the taskbar
  QCOMPARE(form.minimumSize(), form.maximumSize());
  QCOMPARE(form.size(), TwipsRect(0, 0, 4125, 2370, LogicalDpi(&form)).size());
  QVERIFY(!form.windowIcon().isNull());
  QCOMPARE(form.windowIcon().availableSizes().value(0), QSize(32, 32));
  for (const QPushButton* button : form.findChildren<QPushButton*>()) {  // Enter never scans
    QVERIFY2(!button->isDefault() && !button->autoDefault(), qPrintable(button->objectName()));
  }
}

void MailFormTest::tabOrder() {
  MailForm form(OpenerFor());
  const QStringList expected = {"GET",    "REF",    "PATH",   "Sel",       "KEYWORD",
                                "Opt(0)", "Opt(1)", "Opt(2)", "OpenFolder"};
  QCOMPARE(testing::TabOrder(form, "GET"), expected);
}

void MailFormTest::geometry_data() {
  QTest::addColumn<QString>("name");
  QTest::addColumn<QRect>("twips");
  const auto row = [](const char* name, int left, int top, int width, int height) {
    QTest::newRow(name) << QString::fromLatin1(name) << QRect(left, top, width, height);
  };
  row("GET", 3240, 1200, 795, 735);
  row("REF", 3240, 300, 795, 315);
  row("PATH", 120, 300, 3015, 270);
  row("Label1", 120, 60, 1140, 180);
  row("Sel", 120, 660, 1035, 300);
  row("Label2", 1200, 720, 165, 180);
  row("KEYWORD", 1440, 660, 1695, 315);
  row("Label3", 3300, 720, 510, 180);
  row("Opt(0)", 120, 1080, 2955, 255);
  row("Opt(1)", 120, 1380, 2955, 255);
  row("Opt(2)", 120, 1680, 2955, 255);
  row("Summary", 120, 2055, 3495, 255);
  row("OpenFolder", 3735, 2025, 300, 300);
}

// Labels may grow to the right when their caption's ink needs it, never
// over another control.
void MailFormTest::geometry() {
  QFETCH(QString, name);
  QFETCH(QRect, twips);
  MailForm form(OpenerFor());
  const qreal dpi = LogicalDpi(&form);
  const QRect expected = TwipsRect(twips.x(), twips.y(), twips.width(), twips.height(), dpi);
  const QWidget* control = Control<QWidget>(form, name.toLatin1().constData());
  const QRect shown = control->geometry();
  if (!control->inherits("QLabel")) {
    QCOMPARE(shown, expected);
    return;
  }
  QCOMPARE(shown.topLeft(), expected.topLeft());
  QCOMPARE(shown.height(), expected.height());
  QVERIFY(shown.width() >= expected.width());
  QVERIFY(form.rect().contains(shown));
  for (const QWidget* other : form.findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
    if (other != control)
      QVERIFY2(!other->geometry().intersects(shown), qPrintable(other->objectName()));
  }
}

void MailFormTest::checkBoxStates_data() {
  QTest::addColumn<int>("stored");
  QTest::addColumn<int>("shown");  // Qt::CheckState
  QTest::addColumn<int>("afterClick");
  QTest::addColumn<int>("afterSecondClick");
  QTest::newRow("unchecked") << 0 << int(Qt::Unchecked) << 1 << 0;
  QTest::newRow("checked") << 1 << int(Qt::Checked) << 0 << 1;
  QTest::newRow("grayed") << 2 << int(Qt::PartiallyChecked) << 1 << 0;
}

void MailFormTest::checkBoxStates() {
  QFETCH(int, stored);
  QFETCH(int, shown);
  QFETCH(int, afterClick);
  QFETCH(int, afterSecondClick);
  for (int i = 0; i < 3; ++i) {
    Settings = SettingsRecord{};
    Settings.Opt[i] = stored;
    MailForm form(OpenerFor());
    QVERIFY(form.Load() == std::nullopt);
    form.show();
    auto* box = Control<QCheckBox>(form, qPrintable(QStringLiteral("Opt(%1)").arg(i)));
    QCOMPARE(int(box->checkState()), shown);
    form.StoreControls();
    QCOMPARE(Settings.Opt[i], stored);

    box->click();
    form.StoreControls();
    QCOMPARE(Settings.Opt[i], afterClick);
    box->click();
    form.StoreControls();
    QCOMPARE(Settings.Opt[i], afterSecondClick);
    QCOMPARE(Settings.Opt[(i + 1) % 3], 0);
  }
}

void MailFormTest::firstRunDefaults() {
  LoadSettings();
  MailForm form(OpenerFor());
  QVERIFY(form.Load() == std::nullopt);
  QCOMPARE(Control<QLineEdit>(form, "PATH")->text(), QString());
  QCOMPARE(Control<QLineEdit>(form, "KEYWORD")->text(), QString());
  QCOMPARE(Control<QComboBox>(form, "Sel")->currentText(), QStringLiteral("件名"));
  const QStringList items = {QStringLiteral("件名"), QStringLiteral("差出人"),
                             QStringLiteral("ｱﾄﾞﾚｽ")};
  QStringList shown;
  for (int i = 0; i < Control<QComboBox>(form, "Sel")->count(); ++i) {
    shown << Control<QComboBox>(form, "Sel")->itemText(i);
  }
  QCOMPARE(shown, items);
  for (const QCheckBox* box : form.findChildren<QCheckBox*>()) {
    QCOMPARE(box->checkState(), Qt::Unchecked);
  }
  QCOMPARE(form.pos(), QGuiApplication::primaryScreen()->geometry().topLeft());
}

// Typed text and the moved window reach the settings file at close, without a scan.
void MailFormTest::loadAndUnloadThroughSettingsFile() {
  const qreal dpi = QGuiApplication::primaryScreen()->logicalDotsPerInchX();
  Settings.Path = "/srv/受信/files";
  Settings.Keyword = "請求書";
  Settings.Item = 2;
  Settings.Opt = {1, 2, 0};
  Settings.Left = PixelsToTwips(100, dpi);
  Settings.Top = PixelsToTwips(50, dpi);
  SaveSettings();
  const SettingsRecord stored = ReloadedSettings();

  auto log = std::make_shared<MailboxLog>();
  {
    MailForm form(OpenerFor(log));
    QVERIFY(form.Load() == std::nullopt);
    QCOMPARE(Control<QLineEdit>(form, "PATH")->text(), QStringLiteral("/srv/受信/files"));
    QCOMPARE(Control<QLineEdit>(form, "KEYWORD")->text(), QStringLiteral("請求書"));
    QCOMPARE(Control<QComboBox>(form, "Sel")->currentIndex(), 2);
    QCOMPARE(Control<QCheckBox>(form, "Opt(0)")->checkState(), Qt::Checked);
    QCOMPARE(Control<QCheckBox>(form, "Opt(1)")->checkState(), Qt::PartiallyChecked);
    QCOMPARE(Control<QCheckBox>(form, "Opt(2)")->checkState(), Qt::Unchecked);
    QCOMPARE(form.pos(), QPoint(100, 50));
    form.show();
    QTest::keyClicks(Control<QLineEdit>(form, "KEYWORD"), QStringLiteral(" May"));
    Control<QComboBox>(form, "Sel")->setCurrentIndex(1);
    form.move(213, 87);
    QVERIFY(form.close());
  }
  const SettingsRecord saved = ReloadedSettings();
  QCOMPARE(saved.Path, stored.Path);
  QCOMPARE(saved.Keyword, std::string("請求書 May"));
  QCOMPARE(saved.Item, std::int16_t{1});
  QVERIFY(saved.Opt == stored.Opt);
  QCOMPARE(saved.Left, PixelsToTwips(213, dpi));
  QCOMPARE(saved.Top, PixelsToTwips(87, dpi));
  QCOMPARE(log->lists.load(), 0);
}

// A settings file that is no text is kept under another name, and the user
// is told where, once; the unload then writes a new file.
void MailFormTest::unreadableSettingsFileIsSetAsideAtUnload() {
#ifdef Q_OS_WIN
  QSKIP("the settings are kept in the registry on Windows: there is no settings file");
#endif
  const std::filesystem::path folder = folder_->path() / "config" / "Vantrel";
  std::filesystem::create_directories(folder);
  const std::string garbage(
      "\x7f"
      "ELF\0\0\x01",
      7);
  testing::WriteFile(folder / "Quillmar.reg", garbage);
  std::filesystem::permissions(folder / "Quillmar.reg", std::filesystem::perms(0644));
  ModalCloser closer;  // the message box, on a real display
  const testing::QtEnvOverride english("LC_ALL", "C.UTF-8");
  testing::OutputCapture captured(stderr);
  {
    MailForm form(OpenerFor());
    QVERIFY(form.Load() == std::nullopt);
    form.show();
    Control<QLineEdit>(form, "PATH")->setText(QStringLiteral("/srv/files"));
    QVERIFY(form.close());
  }
  const std::string stderr_text = captured.Text();
  const testing::Listing files = testing::ListFolder(folder);
  QCOMPARE(files.size(), std::size_t{2});
  const auto aside =
      files.begin()->first == "Quillmar.reg" ? std::next(files.begin()) : files.begin();
  QVERIFY(aside->first.starts_with("Quillmar.reg.unreadable-"));
  QCOMPARE(aside->second, garbage);
  // It may hold a password: set aside, it is still the user's alone.
  QCOMPARE(std::filesystem::status(folder / aside->first).permissions(),
           std::filesystem::perms(0600));
  QCOMPARE(stderr_text, SetAsideLine(folder / aside->first, ConsoleLanguage(false)) + "\n");
  QCOMPARE(ReloadedSettings().Path, std::string("/srv/files"));
}

void MailFormTest::offScreenPositionMended_data() {
  const QRect screen = QGuiApplication::primaryScreen()->geometry();
  const qreal dpi = QGuiApplication::primaryScreen()->logicalDotsPerInchX();
  const auto twips = [dpi](int pixels) { return PixelsToTwips(pixels, dpi); };
  QTest::addColumn<int>("left");
  QTest::addColumn<int>("top");
  QTest::addColumn<QPoint>("expected");
  QTest::newRow("on screen") << twips(40) << twips(30) << QPoint(40, 30);
  QTest::newRow("partly visible") << twips(screen.right() - 10) << twips(20)
                                  << QPoint(screen.right() - 10, 20);
  QTest::newRow("far right") << twips(screen.right() + 500) << 0 << screen.topLeft();
  QTest::newRow("far below") << 0 << twips(screen.bottom() + 500) << screen.topLeft();
  QTest::newRow("left of every screen") << -1440 * 100 << twips(10) << screen.topLeft();
  QTest::newRow("above every screen") << twips(10) << -1440 * 100 << screen.topLeft();
}

void MailFormTest::offScreenPositionMended() {
  QFETCH(int, left);
  QFETCH(int, top);
  QFETCH(QPoint, expected);
  Settings.Left = left;
  Settings.Top = top;
  MailForm form(OpenerFor());
  QVERIFY(form.Load() == std::nullopt);
  QCOMPARE(form.pos(), expected);
}

void MailFormTest::loadTimeScan_data() {
  QTest::addColumn<bool>("autoRun");
  QTest::addColumn<int>("autoExit");  // Opt(2)
  QTest::addColumn<bool>("destination");
  QTest::addColumn<int>("lists");
  QTest::addColumn<int>("endCode");  // -1: the window opens
  QTest::newRow("no switch") << false << 1 << true << 0 << -1;
  QTest::newRow("scan and stay") << true << 0 << true << 1 << -1;
  QTest::newRow("scan, grayed exit box stays") << true << 2 << true << 1 << -1;
  QTest::newRow("scan and end") << true << 1 << true << 1 << 0;
  QTest::newRow("no destination ends") << true << 0 << false << 0 << 3;
}

// With "-a" the scan runs inside the load; when it ends the program or fails,
// the window is never shown and the settings file stays as it was.
void MailFormTest::loadTimeScan() {
  QFETCH(bool, autoRun);
  QFETCH(int, autoExit);
  QFETCH(bool, destination);
  QFETCH(int, lists);
  QFETCH(int, endCode);
  const std::filesystem::path files = folder_->path() / "files";
  std::filesystem::create_directories(files);
  Settings.Path = destination ? files.string() : std::string();
  Settings.Keyword = "before";
  Settings.Opt[2] = autoExit;
  SaveSettings();
  Settings.AutoRun = autoRun;

  auto log = std::make_shared<MailboxLog>();
  MailForm form(OpenerFor(log));
  ModalCloser closer;  // a failure's message box, on a real display
  const std::optional<int> ended = form.Load();
  QCOMPARE(ended.value_or(-1), endCode);
  QCOMPARE(log->lists.load(), lists);
  QVERIFY(!form.isVisible());
  QVERIFY(Control<QWidget>(form, "GET")->isEnabled());  // refused before it was disabled
  if (ended) {
    Control<QLineEdit>(form, "KEYWORD")->setText(QStringLiteral("after"));
    form.close();  // a program that is ending saves nothing
    QCOMPARE(ReloadedSettings().Keyword, std::string("before"));
  }
}

void MailFormTest::refusedDestinationKeepsWindowOpen() {
  ModalCloser closer;
  auto log = std::make_shared<MailboxLog>();
  MailForm form(OpenerFor(log));
  QVERIFY(form.Load() == std::nullopt);
  form.show();
  const std::string not_a_folder = (folder_->path() / "plain-file").string();
  { std::ofstream(not_a_folder) << "x"; }
  const QStringList refused = {QString(), QString::fromStdString(not_a_folder)};
  for (const QString& path : refused) {
    Control<QLineEdit>(form, "PATH")->setText(path);
    ClickGetAndWait(form);
    QVERIFY(!form.EndCode());
    QVERIFY(Control<QWidget>(form, "GET")->isEnabled());
    QCOMPARE(log->lists.load(), 0);
  }
  // A usable folder afterwards scans as usual.
  std::filesystem::create_directories(folder_->path() / "files");
  Control<QLineEdit>(form, "PATH")
      ->setText(QString::fromStdString((folder_->path() / "files").string()));
  ClickGetAndWait(form);
  QCOMPARE(log->lists.load(), 1);
  QCOMPARE(log->commits.load(), 1);
  QVERIFY(Control<QWidget>(form, "GET")->isEnabled());
}

// While another scan with the same settings holds the lock, GET signs on to
// nothing and the window stays; once that scan has ended, GET scans.
void MailFormTest::scanRunningElsewhereKeepsWindowOpen() {
  auto log = std::make_shared<MailboxLog>();
  std::filesystem::create_directories(folder_->path() / "files");
  Settings.Path = (folder_->path() / "files").string();
  MailForm form(OpenerFor(log));
  QVERIFY(form.Load() == std::nullopt);
  form.show();
  {
    const ScanLock elsewhere;
    testing::OutputCapture report(stderr);
    ClickGetAndWait(form);
    QVERIFY(!form.EndCode());
    QVERIFY(Control<QWidget>(form, "GET")->isEnabled());
    QCOMPARE(log->lists.load(), 0);
    QVERIFY(report.Text().starts_with("quillmar: error 55: "));
  }
  ClickGetAndWait(form);
  QVERIFY(!form.EndCode());
  QCOMPARE(log->lists.load(), 1);
}

void MailFormTest::mailboxFailureEndsProgram() {
  auto log = std::make_shared<MailboxLog>();
  log->fail_listing = true;
  std::filesystem::create_directories(folder_->path() / "files");
  Settings.Path = (folder_->path() / "files").string();
  MailForm form(OpenerFor(log));
  QVERIFY(form.Load() == std::nullopt);
  form.show();
  ModalCloser closer;
  ClickGetAndWait(form);
  QCOMPARE(form.EndCode().value_or(-1), int(FailureKind::MailStore));
  QCOMPARE(log->commits.load(), 0);  // discarded, no marks applied
  form.close();
  // Nothing saved: the folder holds at most the scan's lock file.
  QVERIFY(!std::filesystem::exists(folder_->path() / "config/Vantrel/Quillmar.reg"));
}

void MailFormTest::unreadableMessagesReportedOnceAfterTheScan_data() {
  QTest::addColumn<int>("auto_exit");
  QTest::newRow("window stays") << 0;
  QTest::newRow("auto exit") << 1;
}

// One box for all of them, once the scan is done; a window that someone sees
// stays open unless the scan was to end the program anyway.
void MailFormTest::unreadableMessagesReportedOnceAfterTheScan() {
  QFETCH(int, auto_exit);
  auto log = std::make_shared<MailboxLog>();
  log->messages = 5;
  log->unreadable = 3;
  std::filesystem::create_directories(folder_->path() / "files");
  Settings.Path = (folder_->path() / "files").string();
  Settings.Opt = {1, 0, auto_exit};
  MailForm form(OpenerFor(log));
  QVERIFY(form.Load() == std::nullopt);
  form.show();
  ModalCloser closer;
  // A form of an earlier test that ended the program told the event loops
  // to quit, which makes a message box return before it shows; running the
  // application's loop once clears that.
  QTimer::singleShot(0, qApp, [] { QCoreApplication::exit(0); });
  QCoreApplication::exec();
  ClickGetAndWait(form);
  QCOMPARE(log->commits.load(), 1);  // the readable messages were collected and marked
  if (auto_exit == 0 && HasDisplay()) {
    QVERIFY(!form.EndCode());
    QVERIFY(Control<QWidget>(form, "GET")->isEnabled());
  } else {
    QCOMPARE(form.EndCode().value_or(-1), int(FailureKind::Unreadable));
  }
  QTRY_COMPARE(closer.closed(), HasDisplay() ? 1 : 0);
}

void MailFormTest::cancelledFolderDialogKeepsTypedPath() {
  MailForm form(OpenerFor());
  QVERIFY(form.Load() == std::nullopt);
  form.show();
  const QString typed = QString::fromStdString((folder_->path() / "no such folder").string());
  QTest::keyClicks(Control<QLineEdit>(form, "PATH"), typed);
  ModalCloser closer;
  QTest::mouseClick(Control<QPushButton>(form, "REF"), Qt::LeftButton);
  QCOMPARE(Control<QLineEdit>(form, "PATH")->text(), typed);
  QCOMPARE(QString::fromStdString(Settings.Path), typed);
  QVERIFY(!form.EndCode());
}

// Without a Japanese font every caption renders as boxes.
void MailFormTest::captionsHaveJapaneseGlyphs() {
  MailForm form(OpenerFor());
  QVERIFY(form.Load() == std::nullopt);
  QStringList captions;
  for (const char* name : {"REF", "Label1", "Label2", "Label3", "Opt(0)", "Opt(1)", "Opt(2)"}) {
    captions << Control<QWidget>(form, name)->property("text").toString();
  }
  const auto* sel = Control<QComboBox>(form, "Sel");
  for (int i = 0; i < sel->count(); ++i) captions << sel->itemText(i);
  const QRawFont font = QRawFont::fromFont(form.font(), QFontDatabase::Japanese);
  QVERIFY(font.isValid());
  for (const QString& caption : captions) {
    for (const char32_t c : caption.toUcs4()) {
      QVERIFY2(font.supportsCharacter(c), qPrintable(caption + " in " + font.familyName()));
    }
  }
}

// The boxes are fixed; the 9 pt window font is what makes the captions fit.
void MailFormTest::captionsFitTheirBoxes() {
  MailForm form(OpenerFor());
  for (const char* name : {"Label1", "Label2", "Label3"}) {
    const auto* label = Control<QLabel>(form, name);
    const QRect ink = label->fontMetrics().tightBoundingRect(label->text());
    QVERIFY2(ink.right() < label->width(), qPrintable(QStringLiteral("%1: ink %2..%3 in %4 px")
                                                          .arg(name)
                                                          .arg(ink.left())
                                                          .arg(ink.right())
                                                          .arg(label->width())));
    QVERIFY2(ink.height() <= label->height(), name);
  }
  for (const QCheckBox* box : form.findChildren<QCheckBox*>()) {
    QVERIFY2(box->sizeHint().width() <= box->width(), qPrintable(box->objectName()));
  }
  const auto* get = Control<QWidget>(form, "GET");
  QVERIFY(32 + get->fontMetrics().height() <= get->height());
  QVERIFY(get->fontMetrics().horizontalAdvance(QStringLiteral("GET!")) < get->width());
}

// Closing the window during a scan asks the scan to stop, waits for it to
// end, then unloads as usual: the settings typed are saved.
void MailFormTest::closeDuringScanCancelsThenUnloads() {
  auto log = std::make_shared<MailboxLog>();
  log->messages = 20;
  log->read_flag_delay_ms = 100;
  std::filesystem::create_directories(folder_->path() / "files");
  Settings.Path = (folder_->path() / "files").string();
  Settings.Opt[0] = 1;  // every message is a candidate
  MailForm form(OpenerFor(log));
  QVERIFY(form.Load() == std::nullopt);
  form.show();
  Control<QLineEdit>(form, "KEYWORD")->setText(QStringLiteral("typed"));
  QTest::mouseClick(Control<QWidget>(form, "GET"), Qt::LeftButton);
  QTRY_VERIFY(log->read_flags > 0);
  QVERIFY(form.Scanning());
  QVERIFY(!form.close());  // refused for now: the scan first ends
  QTRY_VERIFY_WITH_TIMEOUT(!form.isVisible(), 10000);
  QVERIFY(!form.Scanning());
  QVERIFY(log->read_flags < 20);     // it stopped
  QCOMPARE(log->commits.load(), 1);  // signed off as usual
  QVERIFY(!form.EndCode());
  QCOMPARE(ReloadedSettings().Keyword, std::string("typed"));
}

// During a scan its values are the ones taken at its start: the controls
// and the mailbox settings cannot be used until it has ended.
void MailFormTest::controlsAreDisabledWhileScanning() {
  auto log = std::make_shared<MailboxLog>();
  log->messages = 5;
  log->read_flag_delay_ms = 100;
  std::filesystem::create_directories(folder_->path() / "files");
  Settings.Path = (folder_->path() / "files").string();
  Settings.Opt[0] = 1;
  MailForm form(OpenerFor(log));
  QVERIFY(form.Load() == std::nullopt);
  form.show();
  const char* controls[] = {"GET", "REF", "PATH", "Sel", "KEYWORD", "Opt(0)", "Opt(1)", "Opt(2)"};
  QTest::mouseClick(Control<QWidget>(form, "GET"), Qt::LeftButton);
  QTRY_VERIFY(log->read_flags > 0);
  for (const char* name : controls) QVERIFY2(!Control<QWidget>(form, name)->isEnabled(), name);
  for (const QAction* action : form.actions()) QVERIFY(!action->isEnabled());
  QTRY_VERIFY_WITH_TIMEOUT(!form.Scanning(), 10000);
  for (const char* name : controls) QVERIFY2(Control<QWidget>(form, name)->isEnabled(), name);
  for (const QAction* action : form.actions()) QVERIFY(action->isEnabled());
}

// The progress window appears once a scan has run for a second, beside the
// shown main window; its bar follows the messages checked, and its cancel
// stops the scan after the current message.
void MailFormTest::slowScanShowsCancellableProgress() {
  auto log = std::make_shared<MailboxLog>();
  log->messages = 6;
  log->read_flag_delay_ms = 400;
  std::filesystem::create_directories(folder_->path() / "files");
  Settings.Path = (folder_->path() / "files").string();
  Settings.Opt[0] = 1;
  MailForm form(OpenerFor(log));
  QVERIFY(form.Load() == std::nullopt);
  form.show();
  QTest::mouseClick(Control<QWidget>(form, "GET"), Qt::LeftButton);
  ScanProgressWindow* progress = nullptr;
  QTRY_VERIFY_WITH_TIMEOUT(
      (progress = form.findChild<ScanProgressWindow*>()) != nullptr && progress->isVisible(), 5000);
  auto* bar = progress->findChild<QProgressBar*>(QStringLiteral("ProgressBar"));
  QVERIFY(bar != nullptr);
  QTRY_COMPARE(bar->maximum(), 6);
  QTRY_VERIFY(bar->value() >= 2);  // two messages at 400 ms each, a second in
  QTest::mouseClick(progress->findChild<QPushButton*>(QStringLiteral("CANCEL")), Qt::LeftButton);
  QTRY_VERIFY_WITH_TIMEOUT(!form.Scanning(), 5000);
  QVERIFY(log->read_flags >= 3 && log->read_flags < 6);
  QCOMPARE(log->commits.load(), 1);
  QVERIFY(!progress->isVisible());
  QVERIFY(Control<QWidget>(form, "GET")->isEnabled());
}

void MailFormTest::platformChoice_data() {
  QTest::addColumn<QString>("qpa");  // "-": unset
  QTest::addColumn<QString>("display");
  QTest::addColumn<QString>("wayland");
  QTest::addColumn<QString>("chosen");  // "-": left to Qt
  QTest::addColumn<bool>("mayShow");
  const auto row = [](const char* name, const char* qpa, const char* display, const char* wayland,
                      const char* chosen, bool may_show) {
    QTest::newRow(name) << QString(qpa) << QString(display) << QString(wayland) << QString(chosen)
                        << may_show;
  };
#ifdef Q_OS_WIN
  // The desktop is always there: Qt keeps its own platform, DISPLAY means nothing.
  row("nothing", "-", "-", "-", "-", true);
  row("DISPLAY set", "-", ":0", "-", "-", true);
  row("explicit windows", "windows", "-", "-", "-", true);
#else
  row("nothing", "-", "-", "-", "offscreen", false);
  row("X11", "-", ":0", "-", "xcb;offscreen", true);
  row("X11 and Wayland", "-", ":0", "wayland-0", "xcb;offscreen", true);
  row("Wayland only", "-", "-", "wayland-0", "-", true);
  row("explicit xcb", "xcb", "-", "-", "-", true);
#endif
  row("explicit offscreen", "offscreen", ":0", "-", "-", false);
  row("explicit minimal", "minimal:x=1", ":0", "-", "-", false);
}

void MailFormTest::platformChoice() {
  QFETCH(QString, qpa);
  QFETCH(QString, display);
  QFETCH(QString, wayland);
  QFETCH(QString, chosen);
  QFETCH(bool, mayShow);
  const auto value = [](const QString& text) {
    return text == "-" ? std::nullopt : std::optional<std::string>(text.toStdString());
  };
  const PlatformChoice choice = ChooseQtPlatform({value(qpa), value(display), value(wayland)});
  QCOMPARE(choice.platform, value(chosen));
  QCOMPARE(choice.may_have_display, mayShow);
}

// The bar counts the messages checked out of all listed (to and fro while
// the listing is not there), and a file that takes longer than a second is
// named below the counts.
void MailFormTest::progressBarAdvancesAndNamesSlowFiles() {
  using std::chrono::seconds;
  using std::chrono::steady_clock;
  ScanProgressWindow window;
  auto* bar = window.findChild<QProgressBar*>(QStringLiteral("ProgressBar"));
  auto* file = window.findChild<QLabel*>(QStringLiteral("ProgressFile"));
  QVERIFY(bar != nullptr && file != nullptr);
  window.Show({0, 0, 0});
  QCOMPARE(bar->maximum(), 0);
  const QSize size = window.size();
  for (int examined = 0; examined <= 4; ++examined) {
    window.Show({examined, 4, 2 * examined});
    QCOMPARE(bar->maximum(), 4);
    QCOMPARE(bar->value(), examined);
  }
  QCOMPARE(window.findChild<QLabel*>(QStringLiteral("ProgressText"))->text(),
           QStringLiteral("確認済み 4 / 4 件　保存 8 個"));
  QCOMPARE(file->text(), QString());

  const steady_clock::time_point now = steady_clock::now();
  const struct {
    const char* name;
    steady_clock::time_point started;
    QString shown;
  } cases[] = {
      {"請求書.pdf", now - seconds(2), QStringLiteral("保存中: 請求書.pdf")},
      {"quick.txt", now, QString()},
      {"a\x1b[2J\xe2\x80\xae"
       "b.pdf",
       now - seconds(2), QStringLiteral("保存中: a\\x1b[2J\\u202eb.pdf")},
      {"", now - seconds(5), QString()},
  };
  for (const auto& c : cases) {
    ScanProgress progress{3, 4, 5};
    progress.current_file = c.name;
    progress.file_started = c.started;
    window.Show(progress);
    QCOMPARE(file->text(), c.shown);
  }
  // A name longer than the window is shortened in the middle, whole in the tip.
  ScanProgress long_name{3, 4, 5};
  long_name.current_file = std::string(300, 'x') + ".pdf";
  long_name.file_started = now - seconds(2);
  window.Show(long_name);
  QVERIFY(file->text().endsWith(QStringLiteral(".pdf")));
  QVERIFY(file->text().size() < 300);
  QCOMPARE(file->toolTip(),
           QStringLiteral("保存中: ") + QString::fromStdString(long_name.current_file));
  QCOMPARE(window.size(), size);
}

void MailFormTest::progressWindowCancels_data() {
  QTest::addColumn<int>("how");
  QTest::newRow("button") << 0;
  QTest::newRow("window closed") << 1;
  QTest::newRow("Esc") << 2;
}

// A cancel asks the scan to stop but leaves the window up until the scan has
// signed off; the next scan starts uncancelled.
void MailFormTest::progressWindowCancels() {
  QFETCH(int, how);
  ScanProgressWindow window;
  window.Show({3, 10, 1});
  QVERIFY(!window.CancelRequested());
  QCOMPARE(window.findChild<QLabel*>()->text(), QStringLiteral("確認済み 3 / 10 件　保存 1 個"));
  if (how == 0) window.findChild<QPushButton*>(QStringLiteral("CANCEL"))->click();
  if (how == 1) window.close();
  if (how == 2) QTest::keyClick(&window, Qt::Key_Escape);
  QVERIFY(window.CancelRequested());
  QVERIFY(window.isVisible());
  window.hide();
  window.Show({0, 5, 0});
  QVERIFY(!window.CancelRequested());
}

}  // namespace qm

int main(int argc, char* argv[]) {
  return qm::testing::RunWindowTests<qm::MailFormTest>(argc, argv);
}

#include "mail_form_test.moc"
