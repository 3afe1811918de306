#pragma once
// Which passwords to try on an encrypted archive: those the text of a mail
// gives (text/PasswordCandidates.h) when the mail may be its password
// notice: sent by the archive's sender, or naming the archive, from an hour
// before the archive's mail to seven days after it. Never a guess: only
// what such a mail says, and no more than a bounded number of tries.

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qm {

using MailTime = std::chrono::system_clock::time_point;

// An encrypted archive as it came: its file name, who sent it and when.
struct EncryptedArchive {
  std::string file_name;
  std::string sender_address;
  std::optional<MailTime> sent;
};

// A mail that may tell the password.
struct PasswordMail {
  std::string sender_address;
  std::optional<MailTime> sent;
  std::string subject;
  std::string text;  // the body text (mime/MessageText)
};

inline constexpr std::chrono::hours kNoticeBefore{1};
inline constexpr std::chrono::hours kNoticeAfter{7 * 24};
inline constexpr std::size_t kMaxPasswordTries = 32;

// `text` with its ASCII letters lower-cased: mail addresses (and file name
// suffixes) compare so.
std::string AddressKey(std::string_view text);

// True when `name` ends in ".zip", in any letter case.
bool IsZipFileName(std::string_view name);

// True when `mail` may be `archive`'s password notice: the same sender
// (letter case aside) or a subject or text that names the archive (its file
// name, or that name without ".zip" when that is at least four bytes long),
// and sent within the window around the archive. A missing date on either
// side does not exclude the mail: its candidates are tried, not trusted.
bool MayTellPassword(const EncryptedArchive& archive, const PasswordMail& mail);

// What one mail says about one archive's password, worked out while the
// mail is at hand, so that many archives can share one reading of a mail.
struct PasswordNotice {
  bool names_archive = false;          // its subject or text names the archive
  MailTime::duration distance{};       // from the archive's mail; max when unknown
  std::vector<std::string> passwords;  // its candidates, in the order of its text
};

// The notice `mail` is for `archive`, given the candidates of its text
// (text/PasswordCandidates.h); nothing when it may not tell the password
// (MayTellPassword) or gives none.
std::optional<PasswordNotice> NoticeFor(const EncryptedArchive& archive, const PasswordMail& mail,
                                        const std::vector<std::string>& candidates);

// The passwords of `notices` in the order of PasswordsToTry.
std::vector<std::string> PasswordsInOrder(std::vector<PasswordNotice> notices);

// The passwords to try on `archive`, in order: from the mails that may tell
// it, nearest in time first (mails that name the archive before those that
// only share its sender), each password once, at most kMaxPasswordTries.
std::vector<std::string> PasswordsToTry(const EncryptedArchive& archive,
                                        const std::vector<PasswordMail>& mails);

}  // namespace qm
