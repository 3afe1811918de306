// キャンセル against a mail server that has stopped answering: the scan runs
// on its own thread, and the cancel wakes its wait for the server at once,
// instead of after the idle timeout that ended the whole program before.
// A real server (the test's Dovecot) behind a relay that falls silent in
// the middle of a message; the window on the offscreen platform.

#include <QElapsedTimer>
#include <QPushButton>
#include <QtTest>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "frame/MailForm.h"
#include "frame/ScanProgressWindow.h"
#include "profile/MailProfile.h"
#include "settings/ConfigLocation.h"
#include "settings/RegFileRegistry.h"
#include "settings/Settings.h"
#include "tests/frame/WindowTestSupport.h"
#include "tests/support/CiSkip.h"
#include "tests/support/DovecotServer.h"
#include "tests/support/TcpRelay.h"

namespace qm {

namespace {

// One message with one attachment of `size` bytes, sent as base64.
std::string BigMessage(std::size_t size) {
  std::string lines;
  const std::string line(76, 'Q');
  for (std::size_t written = 0; written < size; written += 57) lines += line + "\r\n";
  return "From: a@example.com\r\nSubject: big\r\nMIME-Version: 1.0\r\n"
         "Content-Type: multipart/mixed; boundary=\"zz\"\r\n\r\n"
         "--zz\r\nContent-Type: text/plain\r\n\r\nHello.\r\n"
         "--zz\r\nContent-Type: application/octet-stream\r\n"
         "Content-Disposition: attachment; filename=\"big.bin\"\r\n"
         "Content-Transfer-Encoding: base64\r\n\r\n" +
         lines + "--zz--\r\n";
}

}  // namespace

class ScanCancelTest : public QObject {
  Q_OBJECT

 private slots:
  void cancelEndsAScanAgainstASilentServerAtOnce() {
    if (!testing::DovecotServer::Installed()) {
      QM_QSKIP_OUTSIDE_CI(testing::DovecotServer::NotInstalled());
    }
    testing::FreshHome home;
    testing::DovecotServer server;
    const std::string message = server.Deliver(BigMessage(30 << 20));
    testing::TcpRelayOptions options;
    options.cut_after_bytes_to_client = 4 << 20;  // inside the message's body
    options.silence_instead_of_cut = true;
    testing::TcpRelay relay(server.tls_port(), options);
    {
      RegFileRegistry registry(SettingsFilePath());
      SaveMailProfile(registry, {"imaps://tester@localhost:" + std::to_string(relay.port()),
                                 testing::DovecotServer::kPassword, server.certificate().string()});
    }
    std::filesystem::create_directories(home.path() / "files");
    Settings.Path = (home.path() / "files").string();
    Settings.Opt = {1, 0, 0};

    MailForm form;  // the mailbox of the profile, as the program opens it
    QVERIFY(form.Load() == std::nullopt);
    form.show();
    QTest::mouseClick(form.findChild<QWidget*>(QStringLiteral("GET")), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(relay.silent(), 20000);
    ScanProgressWindow* progress = nullptr;
    QTRY_VERIFY_WITH_TIMEOUT(
        (progress = form.findChild<ScanProgressWindow*>()) != nullptr && progress->isVisible(),
        5000);
    QVERIFY(form.Scanning());

    QElapsedTimer since_click;
    since_click.start();
    QTest::mouseClick(progress->findChild<QPushButton*>(QStringLiteral("CANCEL")), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(!form.Scanning(), 5000);
    const qint64 took = since_click.elapsed();
    QVERIFY2(took < 200,
             qPrintable(QStringLiteral("the scan ended %1 ms after the click").arg(took)));

    QVERIFY(!form.EndCode());  // a cancel is no failure
    QVERIFY(form.findChild<QWidget*>(QStringLiteral("GET"))->isEnabled());
    QVERIFY(!progress->isVisible());
    QCOMPARE(QString::fromStdString(server.Flags(message)), QString());  // nothing marked
    QVERIFY(std::filesystem::is_empty(home.path() / "files"));           // no part of a file
  }
};

}  // namespace qm

int main(int argc, char* argv[]) {
  return qm::testing::RunWindowTests<qm::ScanCancelTest>(argc, argv);
}

#include "scan_cancel_test.moc"
