#include "frame/SignOnDialog.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QUrl>
#include <chrono>
#include <optional>
#include <string>
#include <utility>

#include "base/Failure.h"
#include "frame/CatchFailures.h"
#include "frame/FailureReason.h"
#include "frame/QtPlatform.h"
#include "frame/ReportFailure.h"
#include "frame/SignInTask.h"
#include "graph/GraphStoreValue.h"
#include "imap/ImapAccount.h"
#include "mapi/MapiStoreValue.h"
#include "mapi/OpenMapiStore.h"
#include "oauth/AuthorizationCodeFlow.h"
#include "oauth/DeviceFlow.h"
#include "profile/OAuthSignOn.h"
#include "resources/Twips.h"
#include "secrets/SecretStore.h"

namespace qm {
namespace {

constexpr int kClientWidth = 5400;  // twips
constexpr int kClientHeight = 7320;
constexpr int kDetailHeight = 1320;  // below the buttons, while 詳細 is down
constexpr int kImplicitTlsPort = 993;
constexpr int kStartTlsPort = 143;

// The security choices in the order of the list.
constexpr ImapSecurity kSecurities[] = {ImapSecurity::kImplicitTls, ImapSecurity::kStartTls};

// The provider choices in the order of the list, by their profile names;
// "imap" and "maildir" are no OAuth providers and store no "Provider".
// Microsoft 365 comes twice: through Microsoft Graph (first: many tenants
// switch IMAP off) and through IMAP.
constexpr const char* kProviders[] = {"gmail", "microsoft", "microsoft", "imap", "maildir"};
constexpr int kGraphChoice = 1;
constexpr int kMicrosoftImapChoice = 2;
constexpr int kPasswordImapChoice = 3;
constexpr int kMaildirChoice = 4;
// Outlook's own inbox: last, and only where it can be opened (Windows).
constexpr int kOutlookChoice = 5;

// The longest wait for the browser to come back.
constexpr std::chrono::minutes kBrowserLimit{5};

int DefaultPort(ImapSecurity security) {
  return security == ImapSecurity::kImplicitTls ? kImplicitTlsPort : kStartTlsPort;
}

Failure MissingField(const std::string& what) {
  return Failure(FailureKind::SignOn, Cause::kNoMailbox, what + " is empty");
}

std::string Trimmed(const QLineEdit* edit) { return edit->text().trimmed().toStdString(); }

// The wait cursor while a choice is tried: an IMAP sign-on may take seconds.
class WaitCursor {
 public:
  WaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
  ~WaitCursor() { QApplication::restoreOverrideCursor(); }
  WaitCursor(const WaitCursor&) = delete;
  WaitCursor& operator=(const WaitCursor&) = delete;
};

template <typename T>
T* Named(T* widget, const char* name) {
  widget->setObjectName(QString::fromLatin1(name));
  return widget;
}

QLabel* MakeLabel(const char* name, const QString& text, QWidget* parent) {
  auto* label = Named(new QLabel(text, parent), name);
  label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  return label;
}

// What the profile holds now. A damaged profile still lets the user choose
// anew: it then pre-fills nothing.
struct CurrentProfile {
  MailProfileValues values;
  bool password_stored = false;
};

CurrentProfile ReadCurrentProfile(Registry& registry) {
  try {
    return {ReadMailProfile(registry), HasStoredPassword(registry)};
  } catch (const Failure&) {
    return {};
  }
}

// The secret store for the sign-in buttons; none when it cannot be opened
// (the buttons then say so).
std::unique_ptr<SecretStore> OpenSecretsIfAny(Registry& registry) {
  try {
    return OpenSecretStore(registry);
  } catch (const Failure&) {
    return nullptr;
  }
}

}  // namespace

SignOnDialog::SignOnDialog(const MailProfileValues& current, bool password_stored,
                           const QString& reason, Attempt attempt, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::CustomizeWindowHint |
                          Qt::WindowTitleHint | Qt::WindowCloseButtonHint),
      attempt_(std::move(attempt)) {
  setObjectName(QStringLiteral("SignOnDialog"));
  setWindowTitle(tr("Mailbox settings"));
  setFont(WindowFont());
  setModal(true);
  CreateControls();
  CreateSignInControls();
  CreateArchiveControls();
  PlaceControls();
  Fill(current, password_stored);
  ShowMessage(reason.isEmpty() ? tr("Choose the mailbox to receive from.") : reason, QString());
}

// The password field's text is not left behind in the widget.
SignOnDialog::~SignOnDialog() {
  delete sign_in_;  // cancels a sign-in under way and waits for its thread
  password_->clear();
}

void SignOnDialog::CreateControls() {
  // Created in tab order, so the focus chain follows it.
  message_ = Named(new QPlainTextEdit(this), "Message");
  message_->setReadOnly(true);
  message_->setFocusPolicy(Qt::ClickFocus);  // selectable for copying, not a stop of Tab
  message_->setFrameShape(QFrame::NoFrame);
  message_->setBackgroundRole(QPalette::Window);
  message_->viewport()->setAutoFillBackground(false);

  kind_maildir_ = Named(new QRadioButton(tr("Local Maildir"), this), "KindMaildir");
  maildir_ = Named(new QLineEdit(this), "MAILDIR");
  browse_ = Named(new QPushButton(tr("Browse"), this), "BROWSE");
  browse_->setAutoDefault(false);
  kind_imap_ = Named(new QRadioButton(tr("IMAP server"), this), "KindImap");
  host_ = Named(new QLineEdit(this), "HOST");
  port_ = Named(new QSpinBox(this), "PORT");
  port_->setRange(1, 65535);
  port_->setValue(kImplicitTlsPort);
  security_ = Named(new QComboBox(this), "SECURITY");
  security_->addItems({QStringLiteral("TLS"), QStringLiteral("STARTTLS")});
  user_ = Named(new QLineEdit(this), "USER");
  password_ = Named(new QLineEdit(this), "PASSWORD");
  password_->setEchoMode(QLineEdit::Password);
  mailbox_ = Named(new QLineEdit(QStringLiteral("INBOX"), this), "MAILBOX");
  ca_file_ = Named(new QLineEdit(this), "CAFILE");
  ca_file_->setPlaceholderText(tr("Optional"));
  ok_ = Named(new QPushButton(tr("OK"), this), "OK");
  ok_->setDefault(true);
  cancel_ = Named(new QPushButton(tr("Cancel"), this), "CANCEL");
  cancel_->setAutoDefault(false);
  details_ = Named(new QPushButton(tr("Details"), this), "DETAILS");
  details_->setAutoDefault(false);
  details_->setCheckable(true);
  detail_ = Named(new QPlainTextEdit(this), "Detail");
  detail_->setReadOnly(true);
  detail_->setFocusPolicy(Qt::ClickFocus);
  detail_->hide();

  MakeLabel("LabelHost", tr("Server"), this);
  MakeLabel("LabelPort", tr("Port"), this);
  MakeLabel("LabelSecurity", tr("Encryption"), this);
  MakeLabel("LabelUser", tr("User"), this);
  MakeLabel("LabelPassword", tr("Password"), this);
  MakeLabel("LabelMailbox", tr("Mailbox"), this);
  MakeLabel("LabelCaFile", tr("CA file"), this);

  QWidget* order[] = {kind_maildir_, maildir_,  browse_,  kind_imap_, host_, port_,   security_,
                      user_,         password_, mailbox_, ca_file_,   ok_,   cancel_, details_};
  for (std::size_t i = 1; i < std::size(order); ++i) setTabOrder(order[i - 1], order[i]);

  connect(kind_maildir_, &QRadioButton::toggled, this, &SignOnDialog::UpdateEnabled);
  connect(security_, &QComboBox::currentIndexChanged, this, &SignOnDialog::OnSecurityChanged);
  connect(browse_, &QPushButton::clicked, this, &SignOnDialog::OnBrowse);
  connect(ok_, &QPushButton::clicked, this, &SignOnDialog::accept);
  connect(cancel_, &QPushButton::clicked, this, &SignOnDialog::reject);
  connect(details_, &QPushButton::toggled, this, &SignOnDialog::ShowDetail);
}

void SignOnDialog::CreateSignInControls() {
  provider_ = Named(new QComboBox(this), "PROVIDER");
  provider_->addItems({tr("Gmail / Google Workspace"), tr("Microsoft 365 / Outlook.com"),
                       tr("Microsoft 365 / Outlook.com (IMAP)"),
                       tr("Another IMAP server (password)"), tr("A local Maildir")});
  if (MapiStoreOffered()) provider_->addItem(tr("Outlook (mail on this PC)"));
  client_id_ = Named(new QLineEdit(this), "CLIENTID");
  client_secret_ = Named(new QLineEdit(this), "CLIENTSECRET");
  client_secret_->setPlaceholderText(tr("Google only"));
  tenant_ = Named(new QLineEdit(this), "TENANT");
  tenant_->setPlaceholderText(QStringLiteral("common"));
  sign_in_browser_ = Named(new QPushButton(tr("Sign in with the browser"), this), "SIGNINBROWSER");
  sign_in_browser_->setAutoDefault(false);
  sign_in_code_ = Named(new QPushButton(tr("Sign in with a code"), this), "SIGNINCODE");
  sign_in_code_->setAutoDefault(false);
  sign_in_ = new SignInTask(this);

  MakeLabel("LabelProvider", tr("Provider"), this);
  MakeLabel("LabelClientId", tr("Client ID"), this);
  MakeLabel("LabelClientSecret", tr("Client secret"), this);
  MakeLabel("LabelTenant", tr("Tenant"), this);

  setTabOrder(provider_, kind_maildir_);
  QWidget* order[] = {ca_file_,      client_id_, client_secret_, tenant_, sign_in_browser_,
                      sign_in_code_, ok_};
  for (std::size_t i = 1; i < std::size(order); ++i) setTabOrder(order[i - 1], order[i]);

  connect(provider_, &QComboBox::currentIndexChanged, this, &SignOnDialog::OnProviderChanged);
  connect(kind_imap_, &QRadioButton::toggled, this, &SignOnDialog::OnKindToggled);
  connect(sign_in_browser_, &QPushButton::clicked, this, &SignOnDialog::OnSignInWithBrowser);
  connect(sign_in_code_, &QPushButton::clicked, this, &SignOnDialog::OnSignInWithCode);
}

// The choices apply to every mailbox: they stay enabled whatever is chosen.
void SignOnDialog::CreateArchiveControls() {
  unpack_encrypted_ =
      Named(new QCheckBox(tr("Unpack ZIP archives with a password"), this), "UnpackEncrypted");
  unpack_plain_ =
      Named(new QCheckBox(tr("Unpack ZIP archives without a password too"), this), "UnpackPlain");
  ShowArchiveOptions({});
  QWidget* order[] = {sign_in_code_, unpack_encrypted_, unpack_plain_, ok_};
  for (std::size_t i = 1; i < std::size(order); ++i) setTabOrder(order[i - 1], order[i]);
}

void SignOnDialog::PlaceControls() {
  const qreal dpi = LogicalDpi(this);
  const auto place = [this, dpi](const char* name, int left, int top, int width, int height) {
    findChild<QWidget*>(QString::fromLatin1(name))
        ->setGeometry(TwipsRect(left, top, width, height, dpi));
  };
  setFixedSize(TwipsRect(0, 0, kClientWidth, kClientHeight, dpi).size());
  place("Message", 120, 60, 5160, 900);
  place("LabelProvider", 120, 1020, 1140, 300);
  place("PROVIDER", 1320, 1020, 3960, 300);
  place("KindMaildir", 120, 1380, 5160, 255);
  place("MAILDIR", 360, 1680, 4020, 300);
  place("BROWSE", 4485, 1680, 795, 315);
  place("KindImap", 120, 2100, 5160, 255);
  place("LabelHost", 360, 2400, 900, 300);
  place("HOST", 1320, 2400, 2400, 300);
  place("LabelPort", 3840, 2400, 420, 300);
  place("PORT", 4320, 2400, 960, 300);
  place("LabelSecurity", 360, 2760, 900, 300);
  place("SECURITY", 1320, 2760, 1560, 300);
  place("LabelUser", 360, 3120, 900, 300);
  place("USER", 1320, 3120, 3960, 300);
  place("LabelPassword", 360, 3480, 900, 300);
  place("PASSWORD", 1320, 3480, 3960, 300);
  place("LabelMailbox", 360, 3840, 900, 300);
  place("MAILBOX", 1320, 3840, 3960, 300);
  place("LabelCaFile", 360, 4200, 900, 300);
  place("CAFILE", 1320, 4200, 3960, 300);
  place("LabelClientId", 120, 4560, 1170, 300);
  place("CLIENTID", 1320, 4560, 3960, 300);
  place("LabelClientSecret", 120, 4920, 1170, 300);
  place("CLIENTSECRET", 1320, 4920, 3960, 300);
  place("LabelTenant", 120, 5280, 1170, 300);
  place("TENANT", 1320, 5280, 1560, 300);
  place("SIGNINBROWSER", 360, 5700, 2400, 345);
  place("SIGNINCODE", 2880, 5700, 2400, 345);
  place("UnpackEncrypted", 120, 6195, 5160, 255);
  place("UnpackPlain", 120, 6495, 5160, 255);
  place("OK", 3240, 6840, 975, 345);
  place("CANCEL", 4305, 6840, 975, 345);
  place("DETAILS", 120, 6840, 975, 345);
  place("Detail", 120, kClientHeight, 5160, kDetailHeight - 120);
}

// A stored value that is not a usable IMAP address leaves the IMAP fields at
// their defaults: the user sees the failure and types the server anew.
void SignOnDialog::Fill(const MailProfileValues& current, bool password_stored) {
  const bool graph = IsGraphStoreValue(current.store);
  const bool imap = IsImapStoreValue(current.store);
  if (IsMapiStoreValue(current.store)) outlook_store_ = current.store;
  (imap || graph ? kind_imap_ : kind_maildir_)->setChecked(true);
  maildir_->setText(QString::fromStdString(MaildirFolderOf(current.store)));
  ca_file_->setText(QString::fromStdString(current.ca_file));
  if (password_stored) password_->setPlaceholderText(tr("Leave empty to keep it"));
  endpoint_overrides_ = current.oauth;
  client_id_->setText(QString::fromStdString(current.oauth.client_id));
  client_secret_->setText(QString::fromStdString(current.oauth.client_secret));
  tenant_->setText(QString::fromStdString(current.oauth.tenant));
  int choice = imap ? kPasswordImapChoice : kMaildirChoice;
  if (imap && ProviderNamed(current.oauth.provider) == OAuthProvider::kGoogle) choice = 0;
  if (imap && ProviderNamed(current.oauth.provider) == OAuthProvider::kMicrosoft) {
    choice = kMicrosoftImapChoice;
  }
  if (graph) choice = kGraphChoice;
  if (!outlook_store_.empty() && MapiStoreOffered()) choice = kOutlookChoice;
  {
    const QSignalBlocker quiet(provider_);
    provider_->setCurrentIndex(choice);
  }
  UpdateEnabled();
  if (graph) FillSharedMailbox(current.store);
  if (!imap) return;
  try {
    const ImapAccount account = ParseImapStore(current.store);
    security_->setCurrentIndex(account.security == ImapSecurity::kImplicitTls ? 0 : 1);
    port_->setValue(account.port);
    host_->setText(QString::fromStdString(account.host));
    user_->setText(QString::fromStdString(account.user));
    mailbox_->setText(QString::fromStdString(account.mailbox));
  } catch (const Failure&) {
  }
}

// A damaged address is shown as it is stored, for the user to mend.
void SignOnDialog::FillSharedMailbox(const std::string& store) {
  mailbox_->setText(QString::fromStdString(store.substr(kGraphScheme.size())));
}

void SignOnDialog::UpdateEnabled() {
  const bool outlook = IsOutlookChoice();
  const bool graph = IsGraphChoice();
  const bool maildir = kind_maildir_->isChecked() && !outlook;
  const bool imap = !maildir && !outlook && !graph;
  for (QWidget* control :
       {static_cast<QWidget*>(kind_maildir_), static_cast<QWidget*>(kind_imap_)}) {
    control->setEnabled(!outlook);
  }
  for (QWidget* control : {static_cast<QWidget*>(maildir_), static_cast<QWidget*>(browse_)}) {
    control->setEnabled(maildir);
  }
  for (QWidget* control : std::initializer_list<QWidget*>{host_, port_, security_, user_, password_,
                                                          mailbox_, ca_file_}) {
    control->setEnabled(imap);
  }
  // Through Graph, the mailbox field names a shared mailbox (or none).
  mailbox_->setEnabled(imap || graph);
  ca_file_->setEnabled(imap || graph);
  const bool oauth = IsOAuthChoice();
  const bool signing_in = sign_in_ != nullptr && sign_in_->Running();
  password_->setEnabled(imap && !oauth);
  for (QWidget* control : std::initializer_list<QWidget*>{client_id_, client_secret_}) {
    control->setEnabled(oauth);
  }
  tenant_->setEnabled(provider_->currentIndex() == kGraphChoice ||
                      provider_->currentIndex() == kMicrosoftImapChoice);
  sign_in_browser_->setEnabled(oauth && !signing_in);
  sign_in_code_->setEnabled(oauth && !signing_in);
  ok_->setEnabled(!signing_in);
}

bool SignOnDialog::IsOutlookChoice() const {
  return provider_ != nullptr && provider_->currentIndex() == kOutlookChoice;
}

bool SignOnDialog::IsGraphChoice() const {
  return provider_ != nullptr && provider_->currentIndex() == kGraphChoice;
}

bool SignOnDialog::IsOAuthChoice() const {
  return provider_ != nullptr && provider_->currentIndex() < kPasswordImapChoice;
}

OAuthSettings SignOnDialog::OAuthChoice() const {
  if (!IsOAuthChoice()) return {};
  OAuthSettings settings = endpoint_overrides_;
  settings.provider = kProviders[provider_->currentIndex()];
  settings.client_id = Trimmed(client_id_);
  settings.client_secret = Trimmed(client_secret_);
  settings.tenant = settings.provider == std::string("microsoft") ? Trimmed(tenant_) : "";
  return settings;
}

// The provider's server goes into the IMAP fields; the Maildir choice checks
// the Maildir button.
void SignOnDialog::OnProviderChanged(int index) {
  if (index == kOutlookChoice) {
    ShowMessage(
        tr("Classic Outlook's inbox, signed on as Outlook is. The new Outlook lets no other "
           "program read its mail: choose Microsoft 365 there."));
    UpdateEnabled();
    return;
  }
  {
    const QSignalBlocker quiet(kind_imap_);
    (index == kMaildirChoice ? kind_maildir_ : kind_imap_)->setChecked(true);
  }
  ShowMailboxUse(index == kGraphChoice);
  if (index == 0 || index == kMicrosoftImapChoice) {
    const ProviderServer server = ProviderImapServer(*ProviderNamed(kProviders[index]));
    host_->setText(QString::fromStdString(server.host));
    security_->setCurrentIndex(0);
    port_->setValue(server.port);
  }
  UpdateEnabled();
}

// Through Graph the mailbox field takes a shared mailbox's address, empty for
// the user's own; through IMAP it names a folder, INBOX unless told.
void SignOnDialog::ShowMailboxUse(bool graph) {
  const QString inbox = QStringLiteral("INBOX");
  if (graph && mailbox_->text() == inbox) mailbox_->clear();
  if (!graph && mailbox_->text().isEmpty()) mailbox_->setText(inbox);
  mailbox_->setPlaceholderText(graph ? tr("Your own, or a shared one's address") : QString());
}

// The buttons of the older layout choose the provider list's entries too.
void SignOnDialog::OnKindToggled() {
  const QSignalBlocker quiet(provider_);
  if (kind_maildir_->isChecked()) provider_->setCurrentIndex(kMaildirChoice);
  if (kind_imap_->isChecked() && provider_->currentIndex() == kMaildirChoice) {
    ShowMailboxUse(false);
    provider_->setCurrentIndex(kPasswordImapChoice);
  }
  UpdateEnabled();
}

void SignOnDialog::OnSignInWithBrowser() {
  SignInTask* task = sign_in_;
  const std::string hint = user_->text().trimmed().toStdString();
  StartSignIn([this, task, hint](const OAuthAccess& access, const Cancellation& cancel) {
    const OpenBrowser open = [this, task](const std::string& url) {
      task->Post([this, task, url] {
        if (!QDesktopServices::openUrl(QUrl::fromEncoded(QByteArray::fromStdString(url)))) {
          ShowMessage(tr("No web browser could be opened. Use \"Sign in with a code\" instead."));
          browser_missing_ = true;
          task->Cancel();
        }
      });
      return true;
    };
    task->Post([this] { ShowMessage(tr("Sign in in the browser window that opens. Waiting...")); });
    return SignInWithBrowser(access.endpoints, access.client, hint, open, kBrowserLimit, &cancel);
  });
}

void SignOnDialog::OnSignInWithCode() {
  SignInTask* task = sign_in_;
  StartSignIn([this, task](const OAuthAccess& access, const Cancellation& cancel) {
    const DeviceCode code = StartDeviceAuthorization(access.endpoints, access.client, &cancel);
    const QString shown =
        tr("Open %1 on any device and enter the code %2. Waiting for the sign-in...")
            .arg(QString::fromStdString(code.verification_uri),
                 QString::fromStdString(code.user_code));
    task->Post([this, shown] { ShowMessage(shown); });
    return WaitForDeviceSignIn(access.endpoints, access.client, code, CancellableWait(&cancel),
                               &cancel);
  });
}

// The choice is read now, on the window's thread; the work runs on the
// task's thread and reads nothing of the dialog's but what it was given.
void SignOnDialog::StartSignIn(const SignInWork& work) {
  std::string store;
  OAuthAccess access;
  const bool ready = CatchFailures(
      [&] {
        store = Choice().store;
        access = AccessOf(OAuthChoice(), store);
        return true;
      },
      [this](const Failure& failure) {
        ShowMessage(FailureDetail(failure));
        return false;
      });
  if (!ready) return;
  if (secrets_ == nullptr) {
    ShowMessage(
        tr("The sign-in cannot be kept: neither the keyring nor the settings file can be"
           " used."));
    return;
  }
  sign_in_->Start([work, access](const Cancellation& cancel) { return work(access, cancel); },
                  [this, store](const TokenSet& tokens) { KeepSignedIn(store, tokens); },
                  [this](const Failure& failure) {
                    if (std::exchange(browser_missing_, false)) {
                      UpdateEnabled();  // the message says why already
                      return;
                    }
                    EndSignIn(failure.cause() == Cause::kCancelled
                                  ? tr("The sign-in was cancelled.")
                                  : FailureDetail(failure));
                  });
  UpdateEnabled();
}

void SignOnDialog::KeepSignedIn(const std::string& store, const TokenSet& tokens) {
  CatchFailures(
      [&] {
        KeepSignIn(*secrets_, store, tokens);
        EndSignIn(tr("Signed in. The sign-in is kept in %1. Press OK to open the mailbox.")
                      .arg(QString::fromStdString(secrets_->Where())));
        return true;
      },
      [this](const Failure& failure) {
        EndSignIn(FailureDetail(failure));
        return false;
      });
}

void SignOnDialog::EndSignIn(const QString& text) {
  ShowMessage(text);
  UpdateEnabled();
}

// A port still at the default of the other mode follows the mode.
void SignOnDialog::OnSecurityChanged(int index) {
  const ImapSecurity chosen = kSecurities[index == 1 ? 1 : 0];
  const ImapSecurity other = kSecurities[index == 1 ? 0 : 1];
  if (port_->value() == DefaultPort(other)) port_->setValue(DefaultPort(chosen));
}

void SignOnDialog::OnBrowse() {
  const QString folder =
      QFileDialog::getExistingDirectory(this, tr("Maildir folder"), maildir_->text());
  if (!folder.isEmpty()) maildir_->setText(folder);
}

MailProfileValues SignOnDialog::Choice() const {
  // A profile named in the stored value stays; else the default profile.
  if (IsOutlookChoice())
    return {outlook_store_.empty() ? MapiStoreValue("") : outlook_store_, "", ""};
  if (IsGraphChoice()) {
    const std::string store = GraphStoreValue(Trimmed(mailbox_));
    GraphMailboxOf(store);  // refuses what is no address
    return {store, "", Trimmed(ca_file_), OAuthChoice()};
  }
  if (kind_maildir_->isChecked()) {
    const std::string folder = Trimmed(maildir_);
    if (folder.empty()) throw MissingField("the Maildir folder");
    return {MaildirStoreValue(folder), "", ""};
  }
  ImapAccount account;
  account.security = kSecurities[security_->currentIndex() == 1 ? 1 : 0];
  account.host = Trimmed(host_);
  account.port = port_->value();
  account.user = user_->text().toStdString();
  account.mailbox = Trimmed(mailbox_);
  if (account.host.empty()) throw MissingField("the server");
  if (account.user.empty()) throw MissingField("the user name");
  if (account.mailbox.empty()) account.mailbox = "INBOX";
  if (IsOAuthChoice()) return {ImapStoreValue(account), "", Trimmed(ca_file_), OAuthChoice()};
  return {ImapStoreValue(account), password_->text().toStdString(), Trimmed(ca_file_)};
}

void SignOnDialog::ShowArchiveOptions(const ArchiveOptions& options) {
  unpack_encrypted_->setChecked(options.unpack_encrypted);
  unpack_plain_->setChecked(options.unpack_plain);
}

ArchiveOptions SignOnDialog::ArchiveChoice() const {
  return {unpack_encrypted_->isChecked(), unpack_plain_->isChecked()};
}

void SignOnDialog::accept() {
  const bool opened = CatchFailures(
      [this] {
        const WaitCursor wait;
        attempt_(Choice());
        return true;
      },
      [this](const Failure& failure) {
        if (failure.cause() == Cause::kSignInRequired) {
          ShowMessage(
              tr("Sign in first: press \"Sign in with the browser\" or \"Sign in with a"
                 " code\"."));
        } else {
          ShowFailure(failure);
        }
        return false;
      });
  if (opened) QDialog::accept();
}

void SignOnDialog::reject() {
  if (sign_in_->Running()) {
    sign_in_->Cancel();
    return;
  }
  QDialog::reject();
}

void SignOnDialog::ShowFailure(const Failure& failure) {
  ShowMessage(QCoreApplication::translate(kFailureReasonContext, FailureReasonSource(failure)),
              FailureDetail(failure));
}

// The detail stays hidden until asked for; a new message hides it again.
void SignOnDialog::ShowMessage(const QString& reason, const QString& detail) {
  message_->setPlainText(reason);
  detail_->setPlainText(detail);
  details_->setVisible(!detail.isEmpty());
  details_->setChecked(false);
}

// The detail opens below the buttons, as a message box's does: the dialog
// grows by its height and shrinks back when 詳細 is released.
void SignOnDialog::ShowDetail(bool shown) {
  const qreal dpi = LogicalDpi(this);
  detail_->setVisible(shown);
  const int height = kClientHeight + (shown ? kDetailHeight : 0);
  setFixedSize(TwipsRect(0, 0, kClientWidth, height, dpi).size());
}

namespace {

// Opens a chosen mailbox: the store to keep, or nothing (a test that closed it).
using ChoiceOpener = std::function<std::unique_ptr<MailStore>(const MailProfileValues&)>;

// The dialog on the stored profile and ZIP choices, showing `reason` when
// there is one. A choice is stored, with the ZIP choices, once `open`
// opened it. Nothing when cancelled; else what `open` gave for the choice
// that was stored.
std::optional<std::unique_ptr<MailStore>> ExecProfileDialog(Registry& registry,
                                                            const Failure* reason,
                                                            const ChoiceOpener& open,
                                                            QWidget* parent) {
  std::unique_ptr<MailStore> store;
  const SignOnDialog* shown = nullptr;  // the dialog below, once it exists
  const auto attempt = [&](const MailProfileValues& values) {
    std::unique_ptr<MailStore> opened = open(values);
    SaveMailProfile(registry, values);
    WriteArchiveOptions(registry, shown->ArchiveChoice());
    store = std::move(opened);
  };
  const CurrentProfile current = ReadCurrentProfile(registry);
  const std::unique_ptr<SecretStore> secrets = OpenSecretsIfAny(registry);
  SignOnDialog dialog(current.values, current.password_stored, QString(), attempt, parent);
  shown = &dialog;
  dialog.ShowArchiveOptions(ReadArchiveOptions(registry));
  dialog.SetSecretStore(secrets.get());
  if (reason != nullptr) dialog.ShowFailure(*reason);
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  return store;
}

}  // namespace

std::unique_ptr<MailStore> SignOnWithDialog(Registry& registry, const Failure& reason,
                                            QWidget* parent) {
  std::optional<std::unique_ptr<MailStore>> store = ExecProfileDialog(
      registry, &reason,
      [&registry](const MailProfileValues& values) { return OpenChosenStore(registry, values); },
      parent);
  if (!store || *store == nullptr) {
    throw Failure(FailureKind::SignOn, Cause::kCancelled, "sign-on cancelled");
  }
  return std::move(*store);
}

bool EditMailProfile(Registry& registry, QWidget* parent) {
  const auto test = [&registry](const MailProfileValues& values) {
    OpenChosenStore(registry, values);  // a test: the store closes again at once
    return std::unique_ptr<MailStore>();
  };
  return ExecProfileDialog(registry, nullptr, test, parent).has_value();
}

}  // namespace qm
