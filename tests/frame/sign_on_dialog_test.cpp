// Choosing the mailbox at sign-on on the offscreen platform: the dialog's
// controls, the Store values it builds, the round trip through the settings
// file, the fallback decision of the opener and the main window's menu entry.

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QThread>
#include <QTimer>
#include <QtTest>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>

#include "base/Failure.h"
#include "frame/MailForm.h"
#include "frame/ProfileOpener.h"
#include "frame/QtPlatform.h"
#include "frame/SignOnDialog.h"
#include "imap/ImapAccount.h"
#include "profile/ArchiveOptions.h"
#include "profile/MailProfile.h"
#include "settings/ConfigLocation.h"
#include "settings/RegFileRegistry.h"
#include "settings/Settings.h"
#include "tests/frame/WindowTestSupport.h"

namespace qm {
namespace {

using testing::AddCaptionColumns;
using testing::AddCaptionRow;
using testing::Control;
using testing::CountingStore;

std::filesystem::path MakeMaildir(const std::filesystem::path& folder) {
  for (const char* sub : {"cur", "new", "tmp"}) std::filesystem::create_directories(folder / sub);
  return folder;
}

// A text value of the mail profile as a fresh reader of the settings file sees it.
std::optional<std::string> StoredValue(const char* name) {
  RegFileRegistry registry(SettingsFilePath());
  RegistryKey key = 0;
  if (registry.OpenKey(RegistryRoot::CurrentUser, kMailProfileKey, &key) != kErrorSuccess) {
    return std::nullopt;
  }
  std::uint32_t type = 0;
  Bytes data;
  const long result = registry.QueryValue(key, name, &type, &data);
  registry.CloseKey(key);
  if (result != kErrorSuccess || type != kRegSz) return std::nullopt;
  return std::string(data.begin(), std::find(data.begin(), data.end(), std::uint8_t{0}));
}

// A value of the mail profile written as it is; "" writes nothing.
void StoreText(const char* name, const QString& text) {
  if (text.isEmpty()) return;
  RegFileRegistry registry(SettingsFilePath());
  RegistryKey key = 0;
  QCOMPARE(registry.CreateKey(RegistryRoot::CurrentUser, kMailProfileKey, &key), kErrorSuccess);
  const std::string value = text.toStdString();
  const Bytes data(value.c_str(), value.c_str() + value.size() + 1);
  QCOMPARE(registry.SetValue(key, name, kRegSz, data), kErrorSuccess);
  registry.CloseKey(key);
}

void StoreProfile(const MailProfileValues& values) {
  RegFileRegistry registry(SettingsFilePath());
  SaveMailProfile(registry, values);
}

// Runs `action` once on the sign-on dialog as soon as it is shown modally.
class OnDialog {
 public:
  explicit OnDialog(std::function<void(SignOnDialog&)> action) : action_(std::move(action)) {
    QObject::connect(&poll_, &QTimer::timeout, [this] {
      auto* dialog = qobject_cast<SignOnDialog*>(QApplication::activeModalWidget());
      if (dialog == nullptr || done_) return;
      done_ = true;
      action_(*dialog);
    });
    poll_.start(10);
  }
  bool done() const { return done_; }

 private:
  std::function<void(SignOnDialog&)> action_;
  QTimer poll_;
  bool done_ = false;
};

void ChooseMaildir(SignOnDialog& dialog, const std::filesystem::path& folder) {
  Control<QRadioButton>(dialog, "KindMaildir")->setChecked(true);
  Control<QLineEdit>(dialog, "MAILDIR")->setText(QString::fromStdString(folder.string()));
}

QString MessageOf(SignOnDialog& dialog) {
  return Control<QPlainTextEdit>(dialog, "Message")->toPlainText();
}

// The message with the failure's own text below it, as 詳細 shows it.
QString DetailedMessageOf(SignOnDialog& dialog) {
  auto* details = Control<QPushButton>(dialog, "DETAILS");
  if (!details->isChecked()) QTest::mouseClick(details, Qt::LeftButton);
  return MessageOf(dialog) + QStringLiteral("\n\n") +
         Control<QPlainTextEdit>(dialog, "Detail")->toPlainText();
}

// What a control shows, as text.
QString ShownText(QWidget* widget) {
  if (auto* box = qobject_cast<QComboBox*>(widget)) return box->currentText();
  if (auto* spin = qobject_cast<QSpinBox*>(widget)) return QString::number(spin->value());
  if (auto* radio = qobject_cast<QRadioButton*>(widget)) {
    return radio->isChecked() ? QStringLiteral("true") : QStringLiteral("false");
  }
  return widget->property("text").toString();
}

// A local port nobody listens on: bound once, then released.
int ClosedPort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  ::close(fd);
  return ntohs(address.sin_port);
}

SignOnDialog::Attempt Refusing() {
  return [](const MailProfileValues&) {
    throw Failure(FailureKind::SignOn, Cause::kLoginRefused, "refused");
  };
}

}  // namespace

class SignOnDialogTest : public QObject {
  Q_OBJECT

 private slots:
  void init() { folder_.emplace(); }
  void cleanup() { folder_.reset(); }

  void captionsAndNames_data();
  void captionsAndNames();
  void tabOrder();
  void fixedSmallDialog();
  void failureReasonWithDetailOnRequest();
  void imapStoreValue_data();
  void imapStoreValue();
  void imapFieldsMakeTheChoice_data();
  void imapFieldsMakeTheChoice();
  void portFollowsSecurity_data();
  void portFollowsSecurity();
  void prefilledFromProfile_data();
  void prefilledFromProfile();
  void savedPassword_data();
  void savedPassword();
  void maildirChoiceSignsOnAndIsSaved();
  void notAMaildirKeepsDialogOpen();
  void cancelIsUserCancelled();
  void failedImapTryHidesPassword();
  void fallbackOnlyForSignOnWithDisplay_data();
  void fallbackOnlyForSignOnWithDisplay();
  void contextMenuEntryOpensDialog();
  void dialogOpensOnTheWindowThreadDuringAScan();
  void archiveChoicesShownAndStored_data();
  void archiveChoicesShownAndStored();

 private:
  std::optional<testing::FreshHome> folder_;
};

void SignOnDialogTest::captionsAndNames_data() {
  AddCaptionColumns();
  AddCaptionRow("KindMaildir", "QRadioButton", QStringLiteral("ﾛｰｶﾙのMaildir"));
  AddCaptionRow("BROWSE", "QPushButton", QStringLiteral("参照"));
  AddCaptionRow("KindImap", "QRadioButton", QStringLiteral("IMAPｻｰﾊﾞｰ"));
  AddCaptionRow("LabelHost", "QLabel", QStringLiteral("ｻｰﾊﾞｰ"));
  AddCaptionRow("LabelPort", "QLabel", QStringLiteral("ﾎﾟｰﾄ"));
  AddCaptionRow("LabelSecurity", "QLabel", QStringLiteral("暗号化"));
  AddCaptionRow("LabelUser", "QLabel", QStringLiteral("ﾕｰｻﾞｰ"));
  AddCaptionRow("LabelPassword", "QLabel", QStringLiteral("ﾊﾟｽﾜｰﾄﾞ"));
  AddCaptionRow("LabelMailbox", "QLabel", QStringLiteral("ﾒｰﾙﾎﾞｯｸｽ"));
  AddCaptionRow("LabelCaFile", "QLabel", QStringLiteral("CAﾌｧｲﾙ"));
  AddCaptionRow("OK", "QPushButton", QStringLiteral("OK"));
  AddCaptionRow("CANCEL", "QPushButton", QStringLiteral("ｷｬﾝｾﾙ"));
  AddCaptionRow("DETAILS", "QPushButton", QStringLiteral("詳細"));
  AddCaptionRow("MAILBOX", "QLineEdit", QStringLiteral("INBOX"));
  AddCaptionRow("UnpackEncrypted", "QCheckBox", QStringLiteral("パスワード付きZIPを展開する"));
  AddCaptionRow("UnpackPlain", "QCheckBox", QStringLiteral("パスワードのないZIPも展開する"));
}

void SignOnDialogTest::captionsAndNames() {
  QFETCH(QString, name);
  QFETCH(QString, kind);
  QFETCH(QString, text);
  SignOnDialog dialog({}, false, QStringLiteral("why"), Refusing());
  QWidget* control = Control<QWidget>(dialog, name.toLatin1().constData());
  QVERIFY(control->inherits(kind.toLatin1().constData()));
  QCOMPARE(control->property("text").toString(), text);
  QVERIFY2(dialog.rect().contains(control->geometry()), "control outside the dialog");
  if (auto* label = qobject_cast<QLabel*>(control)) {  // 9 pt captions fit their boxes
    QVERIFY(label->fontMetrics().horizontalAdvance(text) <= label->width());
  }
  if (auto* box = qobject_cast<QCheckBox*>(control)) {
    QVERIFY(box->sizeHint().width() <= box->width());
  }
}

// One Japanese sentence says what to do; the failure's own text opens below
// the buttons on 詳細 and goes again with the next message.
void SignOnDialogTest::failureReasonWithDetailOnRequest() {
  SignOnDialog dialog({}, false, QString(), Refusing());
  dialog.show();
  auto* details = Control<QPushButton>(dialog, "DETAILS");
  auto* detail = Control<QPlainTextEdit>(dialog, "Detail");
  QVERIFY(!details->isVisible());  // the first prompt has no detail
  const QSize small = dialog.size();

  dialog.ShowFailure(Failure(FailureKind::SignOn, Cause::kServerUnreachable,
                             "cannot connect to the mail server h:993: Connection refused"));
  QCOMPARE(
      MessageOf(dialog),
      QStringLiteral("メールサーバーに接続できません。サーバー名とポートを確認してください。"));
  QVERIFY(details->isVisible());
  QVERIFY(!detail->isVisible());
  QTest::mouseClick(details, Qt::LeftButton);
  QVERIFY(detail->isVisible());
  QCOMPARE(detail->toPlainText(),
           QStringLiteral("cannot connect to the mail server h:993: Connection refused"));
  QVERIFY(dialog.height() > small.height());
  QVERIFY2(dialog.rect().contains(detail->geometry()), "detail outside the dialog");
  QCOMPARE(dialog.minimumSize(), dialog.maximumSize());
  QTest::mouseClick(details, Qt::LeftButton);
  QVERIFY(!detail->isVisible());
  QCOMPARE(dialog.size(), small);

  QTest::mouseClick(details, Qt::LeftButton);
  dialog.ShowFailure(Failure(FailureKind::SignOn, Cause::kLoginRefused, "refused"));
  QVERIFY(!detail->isVisible());
  QCOMPARE(dialog.size(), small);
  QCOMPARE(MessageOf(dialog),
           QStringLiteral("メールサーバーがユーザー名またはパスワードを受け付けませんでした。"
                          "ユーザー名とパスワードを確認してください。"));

  // A server's words show what a terminal or the text's direction would act on.
  dialog.ShowFailure(Failure(FailureKind::SignOn, Cause::kLoginRefused,
                             "refused: \x1b[2J\xe2\x80\xae"
                             "exe.pdf"));
  QCOMPARE(detail->toPlainText(), QStringLiteral("refused: \\x1b[2J\\u202eexe.pdf"));
}

void SignOnDialogTest::tabOrder() {
  SignOnDialog dialog({}, false, QString(), Refusing());
  const QStringList expected = {
      "PROVIDER",    "KindMaildir",  "MAILDIR", "BROWSE",        "KindImap",   "HOST",
      "PORT",        "SECURITY",     "USER",    "PASSWORD",      "MAILBOX",    "CAFILE",
      "CLIENTID",    "CLIENTSECRET", "TENANT",  "SIGNINBROWSER", "SIGNINCODE", "UnpackEncrypted",
      "UnpackPlain", "OK",           "CANCEL",  "DETAILS"};
  QCOMPARE(testing::TabOrder(dialog, "PROVIDER"), expected);
}

void SignOnDialogTest::fixedSmallDialog() {
  SignOnDialog dialog({}, false, QStringLiteral("the reason"), Refusing());
  QCOMPARE(dialog.windowTitle(), QStringLiteral("ﾒｰﾙﾎﾞｯｸｽの設定"));
  QCOMPARE(dialog.minimumSize(), dialog.maximumSize());
  QVERIFY(!(dialog.windowFlags() & Qt::WindowMaximizeButtonHint));
  QVERIFY(!(dialog.windowFlags() & Qt::WindowMinimizeButtonHint));
  QCOMPARE(dialog.font().pointSize(), 9);
  QCOMPARE(Control<QLineEdit>(dialog, "PASSWORD")->echoMode(), QLineEdit::Password);
  QCOMPARE(MessageOf(dialog), QStringLiteral("the reason"));
  // Maildir is the default choice: the IMAP fields wait until it is chosen.
  QVERIFY(Control<QRadioButton>(dialog, "KindMaildir")->isChecked());
  QVERIFY(!Control<QWidget>(dialog, "HOST")->isEnabled());
  Control<QRadioButton>(dialog, "KindImap")->setChecked(true);
  QVERIFY(Control<QWidget>(dialog, "HOST")->isEnabled());
  QVERIFY(!Control<QWidget>(dialog, "MAILDIR")->isEnabled());
}

void SignOnDialogTest::imapStoreValue_data() {
  QTest::addColumn<bool>("tls");
  QTest::addColumn<QString>("user");
  QTest::addColumn<QString>("host");
  QTest::addColumn<int>("port");
  QTest::addColumn<QString>("mailbox");
  QTest::addColumn<QString>("expected");
  const auto row = [](const char* name, bool tls, const char* user, const char* host, int port,
                      const char* mailbox, const char* expected) {
    QTest::newRow(name) << tls << QString::fromUtf8(user) << QString::fromUtf8(host) << port
                        << QString::fromUtf8(mailbox) << QString::fromUtf8(expected);
  };
  row("imaps default port", true, "me", "mail.example.com", 993, "INBOX",
      "imaps://me@mail.example.com/INBOX");
  row("imap default port", false, "me", "mail.example.com", 143, "INBOX",
      "imap://me@mail.example.com/INBOX");
  row("imaps other port", true, "me", "127.0.0.1", 10993, "INBOX",
      "imaps://me@127.0.0.1:10993/INBOX");
  row("imap on 993 keeps it", false, "me", "h", 993, "INBOX", "imap://me@h:993/INBOX");
  row("at in user", true, "me@example.com", "h", 993, "INBOX", "imaps://me%40example.com@h/INBOX");
  row("colon and percent in user", true, "a:b%c", "h", 993, "INBOX", "imaps://a%3Ab%25c@h/INBOX");
  row("mailbox hierarchy", true, "me", "h", 993, "INBOX/請求 書",
      "imaps://me@h/INBOX/%E8%AB%8B%E6%B1%82%20%E6%9B%B8");
  row("mailbox with semicolon", true, "me", "h", 993, "a;b?c#d", "imaps://me@h/a%3Bb%3Fc%23d");
  row("bare IPv6 bracketed", true, "me", "::1", 993, "INBOX", "imaps://me@[::1]/INBOX");
}

// The value is also what the profile reader takes apart into the same parts.
void SignOnDialogTest::imapStoreValue() {
  QFETCH(bool, tls);
  QFETCH(QString, user);
  QFETCH(QString, host);
  QFETCH(int, port);
  QFETCH(QString, mailbox);
  QFETCH(QString, expected);
  ImapAccount account;
  account.security = tls ? ImapSecurity::kImplicitTls : ImapSecurity::kStartTls;
  account.user = user.toStdString();
  account.host = host.toStdString();
  account.port = port;
  account.mailbox = mailbox.toStdString();
  account.password = "never-in-the-value";
  const std::string value = ImapStoreValue(account);
  QCOMPARE(QString::fromStdString(value), expected);
  const ImapAccount parsed = ParseImapStore(value);
  QCOMPARE(parsed.security, account.security);
  QCOMPARE(QString::fromStdString(parsed.user), user);
  QCOMPARE(parsed.port, port);
  QCOMPARE(QString::fromStdString(parsed.mailbox), mailbox);
}

void SignOnDialogTest::imapFieldsMakeTheChoice_data() {
  QTest::addColumn<int>("security");  // list index: 0 TLS, 1 STARTTLS
  QTest::addColumn<QString>("host");
  QTest::addColumn<QString>("user");
  QTest::addColumn<QString>("mailbox");
  QTest::addColumn<QString>("store");  // empty: refused
  const auto row = [](const char* name, int security, const char* host, const char* user,
                      const char* mailbox, const char* store) {
    QTest::newRow(name) << security << QString(host) << QString(user) << QString(mailbox)
                        << QString(store);
  };
  row("tls", 0, " mail.example.com ", "me@example.com", "INBOX",
      "imaps://me%40example.com@mail.example.com/INBOX");
  row("starttls", 1, "mail.example.com", "me", "Archive", "imap://me@mail.example.com/Archive");
  row("empty mailbox is INBOX", 0, "h", "me", "", "imaps://me@h/INBOX");
  row("no host", 0, "  ", "me", "INBOX", "");
  row("no user", 0, "h", "", "INBOX", "");
}

void SignOnDialogTest::imapFieldsMakeTheChoice() {
  QFETCH(int, security);
  QFETCH(QString, host);
  QFETCH(QString, user);
  QFETCH(QString, mailbox);
  QFETCH(QString, store);
  SignOnDialog dialog({}, false, QString(), Refusing());
  Control<QRadioButton>(dialog, "KindImap")->setChecked(true);
  Control<QComboBox>(dialog, "SECURITY")->setCurrentIndex(security);
  Control<QLineEdit>(dialog, "HOST")->setText(host);
  Control<QLineEdit>(dialog, "USER")->setText(user);
  Control<QLineEdit>(dialog, "PASSWORD")->setText(QStringLiteral("pw"));
  Control<QLineEdit>(dialog, "MAILBOX")->setText(mailbox);
  Control<QLineEdit>(dialog, "CAFILE")->setText(QStringLiteral(" /etc/ca.pem "));
  if (store.isEmpty()) {
    QVERIFY_THROWS_EXCEPTION(Failure, dialog.Choice());
    return;
  }
  const MailProfileValues choice = dialog.Choice();
  QCOMPARE(QString::fromStdString(choice.store), store);
  QCOMPARE(QString::fromStdString(choice.password), QStringLiteral("pw"));
  QCOMPARE(QString::fromStdString(choice.ca_file), QStringLiteral("/etc/ca.pem"));
}

void SignOnDialogTest::portFollowsSecurity_data() {
  QTest::addColumn<int>("port");
  QTest::addColumn<int>("security");
  QTest::addColumn<int>("expected");
  QTest::newRow("993 to starttls") << 993 << 1 << 143;
  QTest::newRow("own port stays") << 10143 << 1 << 10143;
  QTest::newRow("143 back to tls") << 143 << 0 << 993;
}

void SignOnDialogTest::portFollowsSecurity() {
  QFETCH(int, port);
  QFETCH(int, security);
  QFETCH(int, expected);
  SignOnDialog dialog({}, false, QString(), Refusing());
  auto* list = Control<QComboBox>(dialog, "SECURITY");
  list->setCurrentIndex(1 - security);
  Control<QSpinBox>(dialog, "PORT")->setValue(port);
  list->setCurrentIndex(security);
  QCOMPARE(Control<QSpinBox>(dialog, "PORT")->value(), expected);
}

void SignOnDialogTest::prefilledFromProfile_data() {
  QTest::addColumn<QString>("store");
  QTest::addColumn<QStringList>("shown");  // "control=text as shown"
  QTest::newRow("maildir") << "maildir:/srv/mail"
                           << QStringList{"KindMaildir=true", "MAILDIR=/srv/mail", "PASSWORD="};
  QTest::newRow("imap") << "imap://me%40example.com@mail.example.com:1143/Work"
                        << QStringList{"KindImap=true",       "HOST=mail.example.com",
                                       "USER=me@example.com", "PORT=1143",
                                       "SECURITY=STARTTLS",   "MAILBOX=Work",
                                       "CAFILE=/etc/ca.pem",  "PASSWORD="};
  QTest::newRow("damaged imap value") << "imaps://nouser" << QStringList{"HOST="};
}

// The stored password is never shown; the placeholder says it is kept.
void SignOnDialogTest::prefilledFromProfile() {
  QFETCH(QString, store);
  QFETCH(QStringList, shown);
  StoreProfile({store.toStdString(), "old-password", "/etc/ca.pem"});
  const std::unique_ptr<Registry> registry = OpenPlatformRegistry();
  QStringList seen;
  QString placeholder;
  OnDialog inspect([&](SignOnDialog& dialog) {
    for (const QString& expected : shown) {
      const QString name = expected.section('=', 0, 0);
      seen << name + "=" + ShownText(Control<QWidget>(dialog, name.toLatin1().constData()));
    }
    placeholder = Control<QLineEdit>(dialog, "PASSWORD")->placeholderText();
    dialog.reject();
  });
  QVERIFY(!EditMailProfile(*registry, nullptr));
  QVERIFY(inspect.done());
  QCOMPARE(seen, shown);
  QCOMPARE(placeholder, QStringLiteral("空欄なら変更しない"));
}

void SignOnDialogTest::savedPassword_data() {
  QTest::addColumn<QString>("store");
  QTest::addColumn<QString>("typed");
  QTest::addColumn<QString>("expected");
  QTest::newRow("empty keeps stored") << "imaps://me@h/INBOX"
                                      << ""
                                      << "old";
  QTest::newRow("typed replaces") << "imaps://me@h/INBOX"
                                  << "new"
                                  << "new";
  QTest::newRow("maildir keeps stored") << "maildir:/srv/mail"
                                        << ""
                                        << "old";
}

void SignOnDialogTest::savedPassword() {
  QFETCH(QString, store);
  QFETCH(QString, typed);
  QFETCH(QString, expected);
  StoreProfile({"imaps://me@h/INBOX", "old", ""});
  StoreProfile({store.toStdString(), typed.toStdString(), ""});
  QCOMPARE(QString::fromStdString(StoredValue(kMailPasswordValue).value_or("<none>")), expected);
  QCOMPARE(QString::fromStdString(StoredValue(kMailStoreValue).value_or("<none>")), store);
  QCOMPARE(std::filesystem::status(SettingsFilePath()).permissions() & std::filesystem::perms::all,
           std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
}

// The choice is opened before it is stored, and the open store is what the
// scan goes on with.
void SignOnDialogTest::maildirChoiceSignsOnAndIsSaved() {
  const std::filesystem::path maildir = MakeMaildir(folder_->path() / "Mail box");
  const std::unique_ptr<Registry> registry = OpenPlatformRegistry();
  QString reason_shown;
  OnDialog choose([&](SignOnDialog& dialog) {
    reason_shown = DetailedMessageOf(dialog);
    ChooseMaildir(dialog, maildir);
    QTest::mouseClick(Control<QPushButton>(dialog, "OK"), Qt::LeftButton);
  });
  const Failure reason(FailureKind::SignOn, Cause::kNoMailbox, "no mailbox configured");
  const std::unique_ptr<MailStore> store = SignOnWithDialog(*registry, reason, nullptr);
  QVERIFY(store != nullptr);
  QCOMPARE(store->List(), std::size_t{0});
  QCOMPARE(reason_shown, QStringLiteral("メールボックスが設定されていないか、設定に誤りがあります。"
                                        "メールボックスの設定を確認してください。\n\n"
                                        "no mailbox configured"));
  QCOMPARE(StoredValue(kMailStoreValue).value_or(""), "maildir:" + maildir.string());
  // The ZIP choices are stored with it, as the boxes showed them (the defaults).
  QCOMPARE(StoredValue(kUnpackEncryptedValue).value_or(""), std::string("1"));
  QCOMPARE(StoredValue(kUnpackPlainValue).value_or(""), std::string("0"));
  QVERIFY(OpenProfileStore(*registry) != nullptr);  // the next start signs on by itself
}

void SignOnDialogTest::notAMaildirKeepsDialogOpen() {
  const std::filesystem::path plain = folder_->path() / "plain";
  std::filesystem::create_directories(plain);
  const std::filesystem::path maildir = MakeMaildir(folder_->path() / "Maildir2");
  const std::unique_ptr<Registry> registry = OpenPlatformRegistry();
  QString first_message;
  bool stayed_open = false;
  OnDialog choose([&](SignOnDialog& dialog) {
    ChooseMaildir(dialog, plain);
    QTest::mouseClick(Control<QPushButton>(dialog, "OK"), Qt::LeftButton);
    first_message = DetailedMessageOf(dialog);
    stayed_open = dialog.isVisible() && !StoredValue(kMailStoreValue);
    ChooseMaildir(dialog, maildir);
    QTest::mouseClick(Control<QPushButton>(dialog, "OK"), Qt::LeftButton);
  });
  const Failure reason(FailureKind::SignOn, Cause::kLoginRefused, "refused");
  QVERIFY(SignOnWithDialog(*registry, reason, nullptr) != nullptr);
  QVERIFY(stayed_open);
  QVERIFY2(first_message.contains(QStringLiteral("not a Maildir")), qPrintable(first_message));
  QCOMPARE(StoredValue(kMailStoreValue).value_or(""), "maildir:" + maildir.string());
}

void SignOnDialogTest::cancelIsUserCancelled() {
  StoreProfile({"maildir:/srv/mail", "", ""});
  const std::unique_ptr<Registry> registry = OpenPlatformRegistry();
  OnDialog cancel([](SignOnDialog& dialog) {
    ChooseMaildir(dialog, "/somewhere/else");
    QTest::mouseClick(Control<QPushButton>(dialog, "CANCEL"), Qt::LeftButton);
  });
  const Failure reason(FailureKind::SignOn, Cause::kNoMailbox, "not a Maildir");
  try {
    SignOnWithDialog(*registry, reason, nullptr);
    QFAIL("cancel returned a store");
  } catch (const Failure& failure) {
    QCOMPARE(failure.kind(), FailureKind::SignOn);
    QCOMPARE(failure.cause(), Cause::kCancelled);
    QCOMPARE(QString::fromStdString(failure.what()), QStringLiteral("sign-on cancelled"));
  }
  QCOMPARE(StoredValue(kMailStoreValue).value_or(""), std::string("maildir:/srv/mail"));
}

void SignOnDialogTest::failedImapTryHidesPassword() {
  const std::unique_ptr<Registry> registry = OpenPlatformRegistry();
  const QString password = QStringLiteral("Zq7-very-secret");
  QString message;
  OnDialog attempt([&](SignOnDialog& dialog) {
    Control<QRadioButton>(dialog, "KindImap")->setChecked(true);
    Control<QLineEdit>(dialog, "HOST")->setText(QStringLiteral("127.0.0.1"));
    Control<QSpinBox>(dialog, "PORT")->setValue(ClosedPort());
    Control<QLineEdit>(dialog, "USER")->setText(QStringLiteral("me"));
    Control<QLineEdit>(dialog, "PASSWORD")->setText(password);
    QTest::mouseClick(Control<QPushButton>(dialog, "OK"), Qt::LeftButton);
    message = DetailedMessageOf(dialog);
    dialog.reject();
  });
  const Failure reason(FailureKind::SignOn, Cause::kNoMailbox, "no mailbox configured");
  QVERIFY_THROWS_EXCEPTION(Failure, SignOnWithDialog(*registry, reason, nullptr));
  QVERIFY2(message.contains(QStringLiteral("127.0.0.1")), qPrintable(message));
  QVERIFY(!message.contains(password));
  QVERIFY(!StoredValue(kMailPasswordValue));
  QVERIFY(!StoredValue(kMailStoreValue));
}

void SignOnDialogTest::fallbackOnlyForSignOnWithDisplay_data() {
  QTest::addColumn<bool>("display");
  QTest::addColumn<int>("kind");  // 0: the profile opens
  QTest::addColumn<bool>("asked");
  QTest::addColumn<int>("result");  // 0 a store, else the exit code of the failure
  const int sign_on = int(FailureKind::SignOn);
  const int mail = int(FailureKind::MailStore);
  QTest::newRow("profile opens") << true << 0 << false << 0;
  QTest::newRow("sign-on failure, display") << true << sign_on << true << 0;
  QTest::newRow("sign-on failure, headless") << false << sign_on << false << sign_on;
  QTest::newRow("other failure, display") << true << mail << false << mail;
  QTest::newRow("internal, display") << true << int(FailureKind::Internal) << false << 1;
}

void SignOnDialogTest::fallbackOnlyForSignOnWithDisplay() {
  QFETCH(bool, display);
  QFETCH(int, kind);
  QFETCH(bool, asked);
  QFETCH(int, result);
  const auto from_profile = [kind](const SignOnRequest&) -> std::unique_ptr<MailStore> {
    if (kind != 0) throw Failure(FailureKind(kind), Cause::kNoMailbox, "profile");
    return std::make_unique<CountingStore>();
  };
  bool was_asked = false;
  const auto fallback = [&was_asked](const Failure& reason) -> std::unique_ptr<MailStore> {
    was_asked = true;
    if (std::string(reason.what()) != "profile") return nullptr;
    return std::make_unique<CountingStore>();
  };
  const StoreOpener opener = WithSignOnFallback(display, from_profile, fallback);
  int outcome = -1;
  try {
    outcome = opener({}) != nullptr ? 0 : -1;
  } catch (const Failure& failure) {
    outcome = failure.ExitCode();
  }
  QCOMPARE(was_asked, asked);
  QCOMPARE(outcome, result);
}

// Right click on the window offers the entry; it opens the dialog with the
// stored choice and stores a new one without signing on.
void SignOnDialogTest::contextMenuEntryOpensDialog() {
  StoreProfile({"maildir:/srv/old", "", ""});
  const std::filesystem::path maildir = MakeMaildir(folder_->path() / "NewBox");
  int sign_ons = 0;
  MailForm form([&sign_ons](const SignOnRequest&) {
    ++sign_ons;
    return std::make_unique<CountingStore>();
  });
  QVERIFY(form.Load() == std::nullopt);
  QCOMPARE(form.contextMenuPolicy(), Qt::ActionsContextMenu);
  QVERIFY(Control<QWidget>(form, "GET")->toolTip().contains(QStringLiteral("右ｸﾘｯｸ")));
  QAction* entry = form.findChild<QAction*>(QStringLiteral("MailboxSettings"));
  QVERIFY(entry != nullptr);
  QVERIFY(form.actions().contains(entry));
  QCOMPARE(entry->text(), QStringLiteral("ﾒｰﾙﾎﾞｯｸｽの設定..."));
  QString prefilled;
  OnDialog choose([&](SignOnDialog& dialog) {
    prefilled = Control<QLineEdit>(dialog, "MAILDIR")->text();
    ChooseMaildir(dialog, maildir);
    QTest::mouseClick(Control<QPushButton>(dialog, "OK"), Qt::LeftButton);
  });
  entry->trigger();
  QVERIFY(choose.done());
  QCOMPARE(prefilled, QStringLiteral("/srv/old"));
  QCOMPARE(StoredValue(kMailStoreValue).value_or(""), "maildir:" + maildir.string());
  QCOMPARE(sign_ons, 0);
  QVERIFY(!form.EndCode());
}

// The scan runs on a thread of its own; a sign-on that fails there opens the
// dialog on the window's thread, the scan waits for the choice and goes on
// with the mailbox chosen.
void SignOnDialogTest::dialogOpensOnTheWindowThreadDuringAScan() {
  const std::filesystem::path maildir = MakeMaildir(folder_->path() / "Chosen");
  std::filesystem::create_directories(folder_->path() / "files");
  Settings.Path = (folder_->path() / "files").string();
  QWidget window_thread_owner;  // the dialog's parent, on the window's thread
  MailForm form(ProfileOpener(true, &window_thread_owner, nullptr));  // nothing configured
  QVERIFY(form.Load() == std::nullopt);
  form.show();
  QThread* dialog_thread = nullptr;
  OnDialog choose([&](SignOnDialog& dialog) {
    dialog_thread = dialog.thread();
    ChooseMaildir(dialog, maildir);
    QTest::mouseClick(Control<QPushButton>(dialog, "OK"), Qt::LeftButton);
  });
  QTest::mouseClick(Control<QWidget>(form, "GET"), Qt::LeftButton);
  QTRY_VERIFY_WITH_TIMEOUT(choose.done(), 10000);
  QTRY_VERIFY_WITH_TIMEOUT(!form.Scanning(), 10000);
  QCOMPARE(dialog_thread, QThread::currentThread());
  QVERIFY(!form.EndCode());
  QCOMPARE(StoredValue(kMailStoreValue).value_or(""), "maildir:" + maildir.string());
}

void SignOnDialogTest::archiveChoicesShownAndStored_data() {
  QTest::addColumn<QString>("storedEncrypted");  // "" when absent
  QTest::addColumn<QString>("storedPlain");
  QTest::addColumn<bool>("shownEncrypted");
  QTest::addColumn<bool>("shownPlain");
  QTest::addColumn<bool>("chosenEncrypted");
  QTest::addColumn<bool>("chosenPlain");
  QTest::addColumn<bool>("confirmed");          // OK, or else Cancel
  QTest::addColumn<QString>("savedEncrypted");  // "" when absent
  QTest::addColumn<QString>("savedPlain");
  const QString none;
  const QString on = QStringLiteral("1");
  const QString off = QStringLiteral("0");
  QTest::newRow("defaults kept") << none << none << true << false << true << false << true << on
                                 << off;
  QTest::newRow("defaults turned round")
      << none << none << true << false << false << true << true << off << on;
  QTest::newRow("stored shown, both on")
      << off << on << false << true << true << true << true << on << on;
  QTest::newRow("damaged value shows default")
      << QStringLiteral("yes") << off << true << false << false << false << true << off << off;
  QTest::newRow("cancel stores nothing")
      << none << none << true << false << false << true << false << none << none;
}

// The boxes show the profile's choices and are stored with the mailbox once
// it opened; a cancelled dialog leaves them as they were.
void SignOnDialogTest::archiveChoicesShownAndStored() {
  QFETCH(QString, storedEncrypted);
  QFETCH(QString, storedPlain);
  QFETCH(bool, shownEncrypted);
  QFETCH(bool, shownPlain);
  QFETCH(bool, chosenEncrypted);
  QFETCH(bool, chosenPlain);
  QFETCH(bool, confirmed);
  QFETCH(QString, savedEncrypted);
  QFETCH(QString, savedPlain);
  StoreText(kUnpackEncryptedValue, storedEncrypted);
  StoreText(kUnpackPlainValue, storedPlain);
  const std::filesystem::path maildir = MakeMaildir(folder_->path() / "Box");
  std::optional<bool> encrypted_shown;
  std::optional<bool> plain_shown;
  OnDialog choose([&](SignOnDialog& dialog) {
    auto* encrypted = Control<QCheckBox>(dialog, "UnpackEncrypted");
    auto* plain = Control<QCheckBox>(dialog, "UnpackPlain");
    encrypted_shown = encrypted->isChecked();
    plain_shown = plain->isChecked();
    encrypted->setChecked(chosenEncrypted);
    plain->setChecked(chosenPlain);
    ChooseMaildir(dialog, maildir);
    QTest::mouseClick(Control<QPushButton>(dialog, confirmed ? "OK" : "CANCEL"), Qt::LeftButton);
  });
  const std::unique_ptr<Registry> registry = OpenPlatformRegistry();
  QCOMPARE(EditMailProfile(*registry, nullptr), confirmed);
  QVERIFY(choose.done());
  QCOMPARE(encrypted_shown, std::optional<bool>(shownEncrypted));
  QCOMPARE(plain_shown, std::optional<bool>(shownPlain));
  const auto saved = [](const char* name) {
    return QString::fromStdString(StoredValue(name).value_or(""));
  };
  QCOMPARE(saved(kUnpackEncryptedValue), savedEncrypted);
  QCOMPARE(saved(kUnpackPlainValue), savedPlain);
  const ArchiveOptions read = ReadArchiveOptions(*registry);
  QCOMPARE(read.unpack_encrypted, confirmed ? chosenEncrypted : shownEncrypted);
  QCOMPARE(read.unpack_plain, confirmed ? chosenPlain : shownPlain);
}

}  // namespace qm

int main(int argc, char* argv[]) {
  return qm::testing::RunWindowTests<qm::SignOnDialogTest>(argc, argv);
}

#include "sign_on_dialog_test.moc"
