#pragma once
// The dialog that chooses the mailbox: a local Maildir folder or an IMAP
// server. It shows why it was opened (the failure of the last sign-on), tries
// the choice when the user confirms it and stays open, showing the failure,
// until a choice works or the user cancels.

#include <QDialog>
#include <functional>
#include <memory>

#include "frame/settings/Registry.h"
#include "mail/MailProfile.h"
#include "mail/store/MailStore.h"

class QComboBox;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QRadioButton;
class QSpinBox;

namespace qm {

class Failure;

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

  // Tries the choice; closes on success, shows the failure otherwise.
  void accept() override;

  // Shows why the last try failed: a short sentence, the failure's own text
  // behind the 詳細 button.
  void ShowFailure(const Failure& failure);

 private:
  void CreateControls();
  void PlaceControls();
  void Fill(const MailProfileValues& current, bool password_stored);
  void UpdateEnabled();
  void OnSecurityChanged(int index);
  void OnBrowse();
  void ShowMessage(const QString& reason, const QString& detail);
  void ShowDetail(bool shown);

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
};

// Sign-on through the dialog: shows why (`reason`), opens the chosen mailbox, stores
// the choice in the profile once it opened and returns the open store.
// Cancel throws Failure(SignOn, kUserCancelled, "sign-on cancelled").
std::unique_ptr<MailStore> SignOnWithDialog(Registry& registry, const Failure& reason,
                                            QWidget* parent);

// Changing the mailbox later: the dialog pre-filled with the stored values;
// the choice is opened once as a test and stored. False when cancelled.
bool EditMailProfile(Registry& registry, QWidget* parent);

}  // namespace qm
