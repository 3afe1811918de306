// The sign-on dialog's sign-in for Gmail and Microsoft 365 on the offscreen
// platform, against the test authorization server: the provider list and
// the fields it enables, the browser sign-in with a test "browser" installed
// as the URL handler, the sign-in with a code and its キャンセル, and what
// the dialog keeps and says.

#include <QComboBox>
#include <QDesktopServices>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QUrl>
#include <QtTest>
#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "base/Failure.h"
#include "frame/SignOnDialog.h"
#include "profile/OAuthSignOn.h"
#include "tests/frame/WindowTestSupport.h"
#include "tests/support/MemorySecretStore.h"
#include "tests/support/OAuthTestServer.h"
#include "tests/support/TestBrowser.h"

namespace qm {
namespace {

using testing::Control;
using testing::MemorySecretStore;
using testing::OAuthTestServer;
using testing::TestBrowser;

constexpr char kStore[] = "imaps://tester%40example.com@imap.gmail.com/INBOX";

QString MessageOf(SignOnDialog& dialog) {
  return Control<QPlainTextEdit>(dialog, "Message")->toPlainText();
}

void Click(SignOnDialog& dialog, const char* button) {
  QTest::mouseClick(Control<QPushButton>(dialog, button), Qt::LeftButton);
}

}  // namespace

// Stands in for the desktop's browser: QDesktopServices hands it the address.
class BrowserHandler : public QObject {
  Q_OBJECT

 public:
  TestBrowser browser;
  int opened = 0;

 public slots:
  void open(const QUrl& url) {
    ++opened;
    browser.Open(url.toString(QUrl::FullyEncoded).toStdString());
  }
};

class OAuthSignInTest : public QObject {
  Q_OBJECT

 private slots:
  void init() {
    server_.emplace();
    secrets_.emplace();
    handler_ = std::make_unique<BrowserHandler>();
    QDesktopServices::setUrlHandler(QStringLiteral("http"), handler_.get(), "open");
  }
  void cleanup() {
    QDesktopServices::unsetUrlHandler(QStringLiteral("http"));
    handler_.reset();
    secrets_.reset();
    server_.reset();
  }

  void newCaptionsFitTheirBoxes();
  void providerChoiceSetsTheFields_data();
  void providerChoiceSetsTheFields();
  void graphChoiceTakesASharedMailbox();
  void signInAsksForTheScopeOfTheChoice();
  void browserSignInIsKeptAndOpens();
  void signInWithACodeShowsTheCode();
  void cancelEndsTheSignInNotTheDialog();
  void okBeforeSigningInSaysToSignIn();

 private:
  // A Gmail profile whose endpoints are the test server's.
  MailProfileValues Profile(const std::string& store = kStore,
                            const std::string& provider = "gmail") const {
    MailProfileValues values{store, "", ""};
    values.oauth.provider = provider;
    values.oauth.client_id = OAuthTestServer::kClientId;
    values.oauth.authorization_endpoint = server_->Url("/authorize");
    values.oauth.token_endpoint = server_->Url("/token");
    values.oauth.device_endpoint = server_->Url("/device");
    return values;
  }

  // The dialog's OK opens nothing: it asks for the access token the store
  // would sign on with.
  SignOnDialog::Attempt TokenAttempt() {
    return [this](const MailProfileValues& values) {
      token_ = CurrentAccessToken(values.oauth, values.store, *secrets_);
    };
  }

  std::optional<OAuthTestServer> server_;
  std::optional<MemorySecretStore> secrets_;
  std::unique_ptr<BrowserHandler> handler_;
  std::string token_;
};

void OAuthSignInTest::newCaptionsFitTheirBoxes() {
  SignOnDialog dialog({}, false, QString(), TokenAttempt());
  for (const char* name : {"LabelProvider", "LabelClientId", "LabelClientSecret", "LabelTenant",
                           "SIGNINBROWSER", "SIGNINCODE", "PROVIDER", "TENANT"}) {
    QWidget* control = Control<QWidget>(dialog, name);
    QVERIFY2(dialog.rect().contains(control->geometry()), name);
    const QString text = control->property("text").toString();
    QVERIFY2(control->fontMetrics().horizontalAdvance(text) <= control->width(), name);
  }
}

void OAuthSignInTest::providerChoiceSetsTheFields_data() {
  QTest::addColumn<int>("index");
  QTest::addColumn<QString>("host");
  QTest::addColumn<bool>("password");
  QTest::addColumn<bool>("client");
  QTest::addColumn<bool>("tenant");
  QTest::addColumn<bool>("maildir");
  QTest::addColumn<QString>("provider");
  QTest::addColumn<QString>("store");
  const QString imap = QStringLiteral("imaps://me%40example.com@imap.example.com/INBOX");
  QTest::newRow("gmail") << 0 << "imap.gmail.com" << false << true << false << false << "gmail"
                         << imap;
  QTest::newRow("microsoft through graph")
      << 1 << "" << false << true << true << false << "microsoft"
      << "graph:";
  QTest::newRow("microsoft through imap")
      << 2 << "outlook.office365.com" << false << true << true << false << "microsoft" << imap;
  QTest::newRow("password") << 3 << "" << true << false << false << false << "" << imap;
  QTest::newRow("maildir") << 4 << "" << false << false << false << true << ""
                           << "";
}

void OAuthSignInTest::providerChoiceSetsTheFields() {
  QFETCH(int, index);
  QFETCH(QString, host);
  QFETCH(bool, password);
  QFETCH(bool, client);
  QFETCH(bool, tenant);
  QFETCH(bool, maildir);
  QFETCH(QString, provider);
  QFETCH(QString, store);
  SignOnDialog dialog({}, false, QString(), TokenAttempt());
  Control<QComboBox>(dialog, "PROVIDER")->setCurrentIndex(index);
  QCOMPARE(Control<QLineEdit>(dialog, "HOST")->text(), host);
  QCOMPARE(Control<QLineEdit>(dialog, "PASSWORD")->isEnabled(), password);
  QCOMPARE(Control<QLineEdit>(dialog, "CLIENTID")->isEnabled(), client);
  QCOMPARE(Control<QPushButton>(dialog, "SIGNINBROWSER")->isEnabled(), client);
  QCOMPARE(Control<QLineEdit>(dialog, "TENANT")->isEnabled(), tenant);
  QCOMPARE(Control<QRadioButton>(dialog, "KindMaildir")->isChecked(), maildir);
  if (maildir) return;
  Control<QLineEdit>(dialog, "USER")->setText(QStringLiteral("me@example.com"));
  Control<QLineEdit>(dialog, "CLIENTID")->setText(QStringLiteral(" app-id "));
  Control<QLineEdit>(dialog, "TENANT")->setText(QStringLiteral("contoso.com"));
  Control<QLineEdit>(dialog, "HOST")->setText(QStringLiteral("imap.example.com"));
  const MailProfileValues choice = dialog.Choice();
  QCOMPARE(QString::fromStdString(choice.oauth.provider), provider);
  QCOMPARE(choice.oauth.client_id, std::string(client ? "app-id" : ""));
  QCOMPARE(choice.oauth.tenant, std::string(tenant ? "contoso.com" : ""));
  QCOMPARE(QString::fromStdString(choice.store), store);
  // The older buttons choose in the list too.
  Control<QRadioButton>(dialog, "KindMaildir")->setChecked(true);
  QCOMPARE(Control<QComboBox>(dialog, "PROVIDER")->currentIndex(), 4);
  Control<QRadioButton>(dialog, "KindImap")->setChecked(true);
  QCOMPARE(Control<QComboBox>(dialog, "PROVIDER")->currentIndex(), 3);
}

// Through Graph the mailbox field names a shared mailbox: empty for the
// user's own; an address is kept in the store value and shown again.
void OAuthSignInTest::graphChoiceTakesASharedMailbox() {
  SignOnDialog dialog({}, false, QString(), TokenAttempt());
  Control<QComboBox>(dialog, "PROVIDER")->setCurrentIndex(1);
  auto* mailbox = Control<QLineEdit>(dialog, "MAILBOX");
  QVERIFY(mailbox->isEnabled());
  QCOMPARE(mailbox->text(), QString());
  mailbox->setText(QStringLiteral("invoices@contoso.example"));
  const MailProfileValues choice = dialog.Choice();
  QCOMPARE(choice.store, std::string("graph:invoices@contoso.example"));
  mailbox->setText(QStringLiteral("not an address"));
  QVERIFY_THROWS_EXCEPTION(Failure, dialog.Choice());
  MailProfileValues stored{"graph:invoices@contoso.example", "", ""};
  stored.oauth.provider = "microsoft";
  SignOnDialog again(stored, false, QString(), TokenAttempt());
  QCOMPARE(Control<QComboBox>(again, "PROVIDER")->currentIndex(), 1);
  QCOMPARE(Control<QLineEdit>(again, "MAILBOX")->text(),
           QStringLiteral("invoices@contoso.example"));
  Control<QComboBox>(again, "PROVIDER")->setCurrentIndex(3);
  Control<QLineEdit>(again, "MAILBOX")->clear();
  Control<QComboBox>(again, "PROVIDER")->setCurrentIndex(2);
  QCOMPARE(Control<QLineEdit>(again, "MAILBOX")->text(), QStringLiteral("INBOX"));
}

// Each choice asks the provider for what its mailbox needs: Gmail's mail
// scope, Microsoft's IMAP scope, or Graph's mail scopes (with the shared
// mailboxes' for a shared one).
void OAuthSignInTest::signInAsksForTheScopeOfTheChoice() {
  const struct {
    std::string store;
    const char* provider;
    std::vector<std::string> scopes;
  } cases[] = {
      {kStore, "gmail", {"https://mail.google.com/"}},
      {"imaps://me%40contoso.example@outlook.office365.com/INBOX",
       "microsoft",
       {"https://outlook.office.com/IMAP.AccessAsUser.All", "offline_access"}},
      {"graph:", "microsoft", {"https://graph.microsoft.com/Mail.ReadWrite", "offline_access"}},
      {"graph:invoices@contoso.example",
       "microsoft",
       {"https://graph.microsoft.com/Mail.ReadWrite",
        "https://graph.microsoft.com/Mail.ReadWrite.Shared", "offline_access"}},
  };
  for (const auto& c : cases) {
    SignOnDialog dialog(Profile(c.store, c.provider), false, QString(), TokenAttempt());
    dialog.SetSecretStore(&*secrets_);
    dialog.show();
    Click(dialog, "SIGNINBROWSER");
    QTRY_VERIFY_WITH_TIMEOUT(MessageOf(dialog).contains(QStringLiteral("サインインしました")),
                             10000);
    const std::string scope = server_->LastFields("/authorize").at("scope");
    for (const std::string& wanted : c.scopes) {
      QVERIFY2(scope.find(wanted) != std::string::npos, (c.store + ": " + scope).c_str());
    }
    QCOMPARE(scope.find("Shared") != std::string::npos, c.scopes.size() == 3);
    QVERIFY(secrets_->Read(SecretKind::kRefreshToken, c.store).has_value());
  }
}

void OAuthSignInTest::browserSignInIsKeptAndOpens() {
  SignOnDialog dialog(Profile(), false, QString(), TokenAttempt());
  dialog.SetSecretStore(&*secrets_);
  dialog.show();
  QCOMPARE(Control<QComboBox>(dialog, "PROVIDER")->currentIndex(), 0);
  Click(dialog, "SIGNINBROWSER");
  QTRY_VERIFY_WITH_TIMEOUT(MessageOf(dialog).contains(QStringLiteral("サインインしました")), 10000);
  QVERIFY2(MessageOf(dialog).contains(QStringLiteral("memory")), qPrintable(MessageOf(dialog)));
  QCOMPARE(handler_->opened, 1);
  QCOMPARE(server_->counts().code_grants, 1);
  QVERIFY(secrets_->Read(SecretKind::kRefreshToken, kStore).has_value());
  QVERIFY(Control<QPushButton>(dialog, "OK")->isEnabled());
  Click(dialog, "OK");
  QCOMPARE(dialog.result(), int(QDialog::Accepted));
  QVERIFY(token_.starts_with("at-"));
  QCOMPARE(server_->counts().refresh_grants, 0);  // the fresh access token served
}

void OAuthSignInTest::signInWithACodeShowsTheCode() {
  server_->ScriptDevicePolls({"authorization_pending"});
  SignOnDialog dialog(Profile(), false, QString(), TokenAttempt());
  dialog.SetSecretStore(&*secrets_);
  dialog.show();
  Click(dialog, "SIGNINCODE");
  QTRY_VERIFY_WITH_TIMEOUT(MessageOf(dialog).contains(QStringLiteral("WDJB-MJHT")), 5000);
  QVERIFY(MessageOf(dialog).contains(QString::fromStdString(server_->Url("/activate"))));
  QVERIFY(!Control<QPushButton>(dialog, "SIGNINBROWSER")->isEnabled());
  QTRY_VERIFY_WITH_TIMEOUT(MessageOf(dialog).contains(QStringLiteral("サインインしました")), 10000);
  QCOMPARE(server_->counts().device_grants, 2);
  QCOMPARE(handler_->opened, 0);
  QVERIFY(secrets_->Read(SecretKind::kAccessToken, kStore).has_value());
}

void OAuthSignInTest::cancelEndsTheSignInNotTheDialog() {
  server_->ScriptDevicePolls(std::deque<std::string>(100, "authorization_pending"));
  SignOnDialog dialog(Profile(), false, QString(), TokenAttempt());
  dialog.SetSecretStore(&*secrets_);
  dialog.show();
  Click(dialog, "SIGNINCODE");
  QTRY_VERIFY_WITH_TIMEOUT(MessageOf(dialog).contains(QStringLiteral("WDJB-MJHT")), 5000);
  Click(dialog, "CANCEL");
  QTRY_VERIFY_WITH_TIMEOUT(MessageOf(dialog).contains(QStringLiteral("キャンセルされました")),
                           3000);
  QVERIFY(dialog.isVisible());
  QVERIFY(Control<QPushButton>(dialog, "SIGNINCODE")->isEnabled());
  QCOMPARE(secrets_->writes(), 0);
  Click(dialog, "CANCEL");
  QVERIFY(!dialog.isVisible());
  QCOMPARE(dialog.result(), int(QDialog::Rejected));
}

void OAuthSignInTest::okBeforeSigningInSaysToSignIn() {
  SignOnDialog dialog(Profile(), false, QString(), TokenAttempt());
  dialog.SetSecretStore(&*secrets_);
  dialog.show();
  Click(dialog, "OK");
  QVERIFY(dialog.isVisible());
  QVERIFY2(MessageOf(dialog).contains(QStringLiteral("先にサインインしてください")),
           qPrintable(MessageOf(dialog)));
  QCOMPARE(server_->counts().refresh_grants, 0);
}

}  // namespace qm

int main(int argc, char* argv[]) {
  return qm::testing::RunWindowTests<qm::OAuthSignInTest>(argc, argv);
}

#include "oauth_sign_in_test.moc"
