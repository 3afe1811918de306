// What a scan did, told when it ends, on the offscreen platform: the line in
// the main window (counts right, zeros left out) and its button that opens
// the destination, the line gone while the next scan runs, the one line on
// stdout and in the run log after a run with -a that ends by itself, and the
// scan thread's way to the window (the summary is shown before the program
// is told to end; the ZIP choices are read from the profile).

#include <QLabel>
#include <QThread>
#include <QTimer>
#include <QToolButton>
#include <QtTest>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "frame/ConsoleLanguage.h"
#include "frame/MailForm.h"
#include "frame/ScanSummaryText.h"
#include "frame/ScanThread.h"
#include "profile/ArchiveOptions.h"
#include "settings/RunLogLocation.h"
#include "settings/Settings.h"
#include "tests/frame/OutputCapture.h"
#include "tests/frame/WindowTestSupport.h"
#include "tests/support/FileBytes.h"

Q_DECLARE_METATYPE(qm::ScanSummary)

namespace qm {
namespace {

using testing::Control;
using testing::CountingStore;
using testing::MailboxLog;
using testing::ModalCloser;
using testing::OpenerFor;

// A window that records what the scan's thread had it do, in order, and on
// which thread.
class RecordingWindow : public ScanWindow {
 public:
  void StoreControls() override { Record("StoreControls"); }
  void SetScanEnabled(bool) override { Record("SetScanEnabled"); }
  void ScanFinished() override { Record("ScanFinished"); }
  void ShowSummary(const ScanSummary& summary) override {
    shown = summary;
    Record("ShowSummary");
  }
  void EndProgram() override { Record("EndProgram"); }

  std::vector<std::string> calls;
  std::vector<QThread*> threads;
  ScanSummary shown;

 private:
  void Record(const char* call) {
    calls.emplace_back(call);
    threads.push_back(QThread::currentThread());
  }
};

std::string RunLogText() {
  const std::filesystem::path log = RunLogPath();
  return std::filesystem::exists(log) ? testing::ReadFile(log) : std::string();
}

}  // namespace

class ScanSummaryTest : public QObject {
  Q_OBJECT

 private slots:
  void init() { folder_.emplace(); }
  void cleanup() { folder_.reset(); }

  void summaryLine_data();
  void summaryLine();
  void openFolderAsksTheOpener_data();
  void openFolderAsksTheOpener();
  void summaryGoesWhenTheNextScanStarts();
  void unattendedRunPrintsOneLine_data();
  void unattendedRunPrintsOneLine();
  void scanThreadShowsSummaryBeforeTheEnd();
  void scanThreadReadsArchiveChoices_data();
  void scanThreadReadsArchiveChoices();

 private:
  std::optional<testing::FreshHome> folder_;
};

void ScanSummaryTest::summaryLine_data() {
  QTest::addColumn<ScanSummary>("summary");
  QTest::addColumn<QString>("japanese");
  QTest::addColumn<QString>("english");
  QTest::newRow("nothing found") << ScanSummary{} << QStringLiteral("保存0件")
                                 << QStringLiteral("files saved: 0");
  QTest::newRow("files only") << ScanSummary{12, 0, 0, 0, 0} << QStringLiteral("保存12件")
                              << QStringLiteral("files saved: 12");
  QTest::newRow("unpacked and waiting")
      << ScanSummary{12, 2, 1, 0, 0} << QStringLiteral("保存12件・展開2件・パスワード待ち1件")
      << QStringLiteral("files saved: 12, ZIP unpacked: 2, ZIP waiting for a password: 1");
  QTest::newRow("zeros between left out")
      << ScanSummary{3, 0, 4, 0, 0} << QStringLiteral("保存3件・パスワード待ち4件")
      << QStringLiteral("files saved: 3, ZIP waiting for a password: 4");
  QTest::newRow("skipped, nothing saved")
      << ScanSummary{0, 0, 0, 0, 2} << QStringLiteral("保存0件・未読のまま2通")
      << QStringLiteral("files saved: 0, messages left unread: 2");
  QTest::newRow("every part")
      << ScanSummary{1234, 5, 6, 7, 8}
      << QStringLiteral("保存1234件・展開5件・パスワード待ち6件・展開できず7件・未読のまま8通")
      << QStringLiteral(
             "files saved: 1234, ZIP unpacked: 5, ZIP waiting for a password: 6, ZIP left packed: "
             "7, messages left unread: 8");
}

// The window speaks Japanese whatever the locale; the line is cut short only
// where the window is too narrow, and its tool tip holds all of it.
void ScanSummaryTest::summaryLine() {
  QFETCH(ScanSummary, summary);
  QFETCH(QString, japanese);
  QFETCH(QString, english);
  MailForm form(OpenerFor());
  QVERIFY(form.Load() == std::nullopt);
  auto* line = Control<QLabel>(form, "Summary");
  QVERIFY(line->text().isEmpty());
  form.ShowSummary(summary);
  QCOMPARE(line->toolTip(), japanese);
  if (line->fontMetrics().horizontalAdvance(japanese) <= line->width()) {
    QCOMPARE(line->text(), japanese);
  } else {
    QVERIFY2(line->text().endsWith(QChar(0x2026)), qPrintable(line->text()));
  }
  QVERIFY(line->fontMetrics().horizontalAdvance(line->text()) <= line->width());
  const ConsoleLanguage in_english(false);
  QCOMPARE(QString::fromStdString(ConsoleSummaryLine(summary, in_english)),
           QStringLiteral("quillmar: ") + english);
  const ConsoleLanguage in_japanese(true);
  QCOMPARE(QString::fromStdString(ConsoleSummaryLine(summary, in_japanese)),
           QStringLiteral("quillmar: ") + japanese);
}

void ScanSummaryTest::openFolderAsksTheOpener_data() {
  QTest::addColumn<bool>("opens");
  QTest::addColumn<int>("boxes");  // the warning when the folder could not be opened
  QTest::newRow("opened") << true << 0;
  QTest::newRow("refused") << false << 1;
}

// The button opens the destination of the scan the line tells of, even when
// the path typed since is another.
void ScanSummaryTest::openFolderAsksTheOpener() {
  QFETCH(bool, opens);
  QFETCH(int, boxes);
  const std::filesystem::path files = folder_->path() / "受信 files";
  std::filesystem::create_directories(files);
  Settings.Path = files.string();
  MailForm form(OpenerFor());
  std::vector<QUrl> asked;
  form.SetFolderOpener([&asked, opens](const QUrl& folder) {
    asked.push_back(folder);
    return opens;
  });
  QVERIFY(form.Load() == std::nullopt);
  form.show();
  auto* button = Control<QToolButton>(form, "OpenFolder");
  QVERIFY(!button->isVisible());  // nothing to open before a scan
  form.ShowSummary(ScanSummary{3, 0, 0, 0, 0});
  QVERIFY(button->isVisible());
  QVERIFY(!button->toolTip().isEmpty());
  Control<QWidget>(form, "PATH")->setProperty("text", QStringLiteral("/elsewhere"));
  ModalCloser closer;
  QTest::mouseClick(button, Qt::LeftButton);
  QCOMPARE(asked.size(), std::size_t{1});
  QCOMPARE(asked[0], QUrl::fromLocalFile(QString::fromStdString(files.string())));
  QTRY_COMPARE(closer.closed(), boxes);
}

void ScanSummaryTest::summaryGoesWhenTheNextScanStarts() {
  auto log = std::make_shared<MailboxLog>();
  log->messages = 5;
  log->read_flag_delay_ms = 100;
  std::filesystem::create_directories(folder_->path() / "files");
  Settings.Path = (folder_->path() / "files").string();
  Settings.Opt[0] = 1;
  MailForm form(OpenerFor(log));
  QVERIFY(form.Load() == std::nullopt);
  form.show();
  form.ShowSummary(ScanSummary{7, 0, 0, 0, 0});
  auto* line = Control<QLabel>(form, "Summary");
  QCOMPARE(line->text(), QStringLiteral("保存7件"));
  QTest::mouseClick(Control<QWidget>(form, "GET"), Qt::LeftButton);
  QVERIFY(form.Scanning());
  QVERIFY(line->text().isEmpty());
  QVERIFY(line->toolTip().isEmpty());
  QVERIFY(!Control<QWidget>(form, "OpenFolder")->isVisible());
  QTRY_VERIFY_WITH_TIMEOUT(!form.Scanning(), 10000);
}

void ScanSummaryTest::unattendedRunPrintsOneLine_data() {
  QTest::addColumn<bool>("autoRun");
  QTest::addColumn<int>("autoExit");  // Opt(2)
  QTest::addColumn<QString>("locale");
  QTest::addColumn<QString>("expected");  // "" prints nothing
  const QString english = QStringLiteral("quillmar: files saved: 4, ZIP left packed: 1\n");
  const QString japanese = QStringLiteral("quillmar: 保存4件・展開できず1件\n");
  QTest::newRow("-a, ends, English") << true << 1 << QStringLiteral("C.UTF-8") << english;
  QTest::newRow("-a, ends, Japanese") << true << 1 << QStringLiteral("ja_JP.UTF-8") << japanese;
  QTest::newRow("-a, window stays") << true << 0 << QStringLiteral("C.UTF-8") << QString();
  QTest::newRow("-a, grayed exit box") << true << 2 << QStringLiteral("C.UTF-8") << QString();
  QTest::newRow("GET with the exit box") << false << 1 << QStringLiteral("C.UTF-8") << QString();
}

// Only a run that nobody sees end prints the line; the run log takes it too.
void ScanSummaryTest::unattendedRunPrintsOneLine() {
  QFETCH(bool, autoRun);
  QFETCH(int, autoExit);
  QFETCH(QString, locale);
  QFETCH(QString, expected);
  const testing::QtEnvOverride language("LC_ALL", locale.toStdString());
  MailForm form(OpenerFor());
  QVERIFY(form.Load() == std::nullopt);
  Settings.AutoRun = autoRun;
  Settings.Opt[2] = autoExit;
  std::string printed;
  {
    testing::OutputCapture stdout_capture(stdout);
    form.ShowSummary(ScanSummary{4, 0, 0, 1, 0});
    printed = stdout_capture.Text();
  }
  QCOMPARE(QString::fromStdString(printed), expected);
  const std::string logged = RunLogText();
  QVERIFY2(expected.isEmpty() == logged.empty(), logged.c_str());
  if (!expected.isEmpty()) {
    QVERIFY2(logged.find(expected.toStdString()) != std::string::npos, logged.c_str());
  }
}

// The scan waits while the window shows the summary: a program that ends
// after the scan has printed it by then.
void ScanSummaryTest::scanThreadShowsSummaryBeforeTheEnd() {
  QObject context;
  RecordingWindow window;
  Cancellation cancel;
  ScanThread scan(&context, window, cancel);
  bool finished = false;
  scan.Start(
      [](ScanHost& host) {
        host.ScanFinished();
        host.ShowSummary(ScanSummary{9, 1, 2, 3, 4});
        host.EndProgram();
      },
      [&finished](const std::optional<Failure>& failure) {
        QVERIFY(!failure);
        finished = true;
      });
  QTRY_VERIFY_WITH_TIMEOUT(finished, 10000);
  const std::vector<std::string> expected = {"ScanFinished", "ShowSummary", "EndProgram"};
  QCOMPARE(window.calls, expected);
  for (QThread* thread : window.threads) QCOMPARE(thread, QThread::currentThread());
  const ScanSummary& shown = window.shown;
  const std::vector<std::int64_t> counts = {shown.files_saved, shown.archives_unpacked,
                                            shown.archives_waiting, shown.archives_kept,
                                            shown.messages_skipped};
  QCOMPARE(counts, (std::vector<std::int64_t>{9, 1, 2, 3, 4}));
}

void ScanSummaryTest::scanThreadReadsArchiveChoices_data() {
  QTest::addColumn<bool>("stored");
  QTest::addColumn<bool>("encrypted");
  QTest::addColumn<bool>("plain");
  QTest::newRow("nothing stored: the defaults") << false << true << false;
  QTest::newRow("both") << true << true << true;
  QTest::newRow("neither") << true << false << false;
  QTest::newRow("plain only") << true << false << true;
}

void ScanSummaryTest::scanThreadReadsArchiveChoices() {
  QFETCH(bool, stored);
  QFETCH(bool, encrypted);
  QFETCH(bool, plain);
  if (stored) WriteArchiveOptions(ArchiveOptions{encrypted, plain});
  QObject context;
  RecordingWindow window;
  Cancellation cancel;
  ScanThread scan(&context, window, cancel);
  std::optional<ArchiveOptions> read;
  scan.Start([&read](ScanHost& host) { read = host.ArchiveChoices(); },
             [](const std::optional<Failure>&) {});
  QTRY_VERIFY_WITH_TIMEOUT(!scan.Running(), 10000);
  QVERIFY(read.has_value());
  QCOMPARE(read->unpack_encrypted, encrypted);
  QCOMPARE(read->unpack_plain, plain);
}

}  // namespace qm

int main(int argc, char* argv[]) {
  return qm::testing::RunWindowTests<qm::ScanSummaryTest>(argc, argv);
}

#include "scan_summary_test.moc"
