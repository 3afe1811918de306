#pragma once
// The dialog that chooses the mailbox: a local Maildir folder, an IMAP
// server signed on to with a password, the IMAP mailbox of Gmail or
// Microsoft 365, signed in to with the browser or with a code, or (on
// Windows) classic Outlook's own inbox; and which ZIP archives a scan
// unpacks, stored with the mailbox. It shows why it was opened (the
// failure of the last sign-on), tries the choice when the user confirms it and stays open, showing
// the failure, until a choice works or the user cancels.

#include <QDialog>
#include <functional>
#include <memory>

#include "profile/ArchiveOptions.h"
#include "profile/MailProfile.h"
#include "profile/OAuthSettings.h"
#include "settings/Registry.h"
#include "store/MailStore.h"

class QCheckBox;
class QComboBox;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QRadioButton;
class QSpinBox;

namespace qm {

class Cancellation;
class Failure;
class SecretStore;
class SignInTask;
struct OAuthAccess;
struct TokenSet;

class SignOnDialog : public QDialog {
  Q_OBJECT

 public:
  // Tries a choice; a Failure it throws keeps the dialog open.
  using Attempt = std::function<void(const MailProfileValues&)>;

  // Pre-filled from `current` (its password is not shown); with
  // `password_stored`, an empty password field keeps the stored one.
  SignOnDialog(const MailProfileValues& current, bool password_stored, const QString& reason,
               Attempt attempt, QWidget* parent = nullptr);
  ~SignOnDialog() override;

  // The profile values the controls describe. Throws Failure(SignOn) when a
  // required field is empty.
  MailProfileValues Choice() const;

  // The ZIP check boxes: shown from `options`, read back as the user left them.
  void ShowArchiveOptions(const ArchiveOptions& options);
  ArchiveOptions ArchiveChoice() const;

  // Tries the choice; closes on success, shows the failure otherwise.
  void accept() override;
  // Cancels a sign-in that is under way, or else closes the dialog.
  void reject() override;

  // Where the sign-in buttons keep what they get; without one they only say
  // that no sign-in can be kept.
  void SetSecretStore(SecretStore* secrets) { secrets_ = secrets; }

  // Shows why the last try failed: a short sentence, the failure's own text
  // behind the 詳細 button.
  void ShowFailure(const Failure& failure);

 private:
  void CreateControls();
  void PlaceControls();
  void Fill(const MailProfileValues& current, bool password_stored);
  void FillSharedMailbox(const std::string& store);
  void ShowMailboxUse(bool graph);
  void UpdateEnabled();
  bool IsOutlookChoice() const;
  void OnSecurityChanged(int index);
  void OnBrowse();
  void ShowMessage(const QString& reason, const QString& detail = QString());
  void ShowDetail(bool shown);
  void CreateSignInControls();
  void CreateArchiveControls();
  void OnProviderChanged(int index);
  void OnKindToggled();
  void OnSignInWithBrowser();
  void OnSignInWithCode();
  // A sign-in's work on the task's thread, given what the dialog chose.
  using SignInWork = std::function<TokenSet(const OAuthAccess& access, const Cancellation& cancel)>;
  void StartSignIn(const SignInWork& work);
  void KeepSignedIn(const std::string& store, const TokenSet& tokens);
  void EndSignIn(const QString& text);
  bool IsGraphChoice() const;
  bool IsOAuthChoice() const;
  OAuthSettings OAuthChoice() const;

  Attempt attempt_;
  QPlainTextEdit* message_ = nullptr;
  QPlainTextEdit* detail_ = nullptr;
  QRadioButton* kind_maildir_ = nullptr;
  QLineEdit* maildir_ = nullptr;
  QPushButton* browse_ = nullptr;
  QRadioButton* kind_imap_ = nullptr;
  QLineEdit* host_ = nullptr;
  QSpinBox* port_ = nullptr;
  QComboBox* security_ = nullptr;
  QLineEdit* user_ = nullptr;
  QLineEdit* password_ = nullptr;
  QLineEdit* mailbox_ = nullptr;
  QLineEdit* ca_file_ = nullptr;
  QPushButton* ok_ = nullptr;
  QPushButton* cancel_ = nullptr;
  QPushButton* details_ = nullptr;
  QComboBox* provider_ = nullptr;
  QLineEdit* client_id_ = nullptr;
  QLineEdit* client_secret_ = nullptr;
  QLineEdit* tenant_ = nullptr;
  QPushButton* sign_in_browser_ = nullptr;
  QPushButton* sign_in_code_ = nullptr;
  QCheckBox* unpack_encrypted_ = nullptr;
  QCheckBox* unpack_plain_ = nullptr;
  SecretStore* secrets_ = nullptr;
  OAuthSettings endpoint_overrides_;  // the profile's, kept as they are
  std::string outlook_store_;         // the stored "mapi:" value, naming its profile
  SignInTask* sign_in_ = nullptr;
  bool browser_missing_ = false;  // the running sign-in found no browser
};

// Sign-on through the dialog: shows why (`reason`), opens the chosen mailbox, stores
// the choice and the ZIP choices in the profile once it opened and returns the open store.
// Cancel throws Failure(SignOn, kUserCancelled, "sign-on cancelled").
std::unique_ptr<MailStore> SignOnWithDialog(Registry& registry, const Failure& reason,
                                            QWidget* parent);

// Changing the mailbox later: the dialog pre-filled with the stored values;
// the choice is opened once as a test and stored with the ZIP choices. False
// when cancelled.
bool EditMailProfile(Registry& registry, QWidget* parent);

}  // namespace qm
