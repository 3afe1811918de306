#include "mail/ArchivePasswords.h"

#include <algorithm>
#include <cctype>
#include <string_view>

#include "text/PasswordCandidates.h"

namespace qm {
namespace {

constexpr std::string_view kZipSuffix = ".zip";
constexpr std::size_t kMinStemBytes = 4;

bool EndsWithZip(std::string_view name) {
  return name.size() > kZipSuffix.size() &&
         AddressKey(name.substr(name.size() - kZipSuffix.size())) == kZipSuffix;
}

bool Names(const PasswordMail& mail, const std::string& name) {
  if (name.empty()) return false;
  return mail.subject.find(name) != std::string::npos || mail.text.find(name) != std::string::npos;
}

bool NamesArchive(const EncryptedArchive& archive, const PasswordMail& mail) {
  if (Names(mail, archive.file_name)) return true;
  if (!EndsWithZip(archive.file_name)) return false;
  const std::string stem =
      archive.file_name.substr(0, archive.file_name.size() - kZipSuffix.size());
  return stem.size() >= kMinStemBytes && Names(mail, stem);
}

bool SameSender(const EncryptedArchive& archive, const PasswordMail& mail) {
  return !archive.sender_address.empty() &&
         AddressKey(archive.sender_address) == AddressKey(mail.sender_address);
}

bool InWindow(const EncryptedArchive& archive, const PasswordMail& mail) {
  if (!archive.sent || !mail.sent) return true;
  return *mail.sent >= *archive.sent - kNoticeBefore && *mail.sent <= *archive.sent + kNoticeAfter;
}

// How far the mail is from the archive in time; unknown counts as far.
MailTime::duration Distance(const EncryptedArchive& archive, const PasswordMail& mail) {
  if (!archive.sent || !mail.sent) return MailTime::duration::max();
  const auto difference = *mail.sent - *archive.sent;
  return difference < MailTime::duration::zero() ? -difference : difference;
}

}  // namespace

std::string AddressKey(std::string_view text) {
  std::string lowered(text);
  for (char& c : lowered) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return lowered;
}

bool IsZipFileName(std::string_view name) { return EndsWithZip(name); }

bool MayTellPassword(const EncryptedArchive& archive, const PasswordMail& mail) {
  return (SameSender(archive, mail) || NamesArchive(archive, mail)) && InWindow(archive, mail);
}

std::optional<PasswordNotice> NoticeFor(const EncryptedArchive& archive, const PasswordMail& mail,
                                        const std::vector<std::string>& candidates) {
  if (candidates.empty() || !InWindow(archive, mail)) return std::nullopt;
  // Naming the archive means searching a text of up to a megabyte: once.
  const bool names_archive = NamesArchive(archive, mail);
  if (!names_archive && !SameSender(archive, mail)) return std::nullopt;
  return PasswordNotice{names_archive, Distance(archive, mail), candidates};
}

std::vector<std::string> PasswordsInOrder(std::vector<PasswordNotice> notices) {
  std::stable_sort(notices.begin(), notices.end(),
                   [](const PasswordNotice& a, const PasswordNotice& b) {
                     if (a.names_archive != b.names_archive) return a.names_archive;
                     return a.distance < b.distance;
                   });
  std::vector<std::string> passwords;
  for (PasswordNotice& notice : notices) {
    for (std::string& candidate : notice.passwords) {
      if (passwords.size() == kMaxPasswordTries) return passwords;
      if (std::find(passwords.begin(), passwords.end(), candidate) == passwords.end()) {
        passwords.push_back(std::move(candidate));
      }
    }
  }
  return passwords;
}

std::vector<std::string> PasswordsToTry(const EncryptedArchive& archive,
                                        const std::vector<PasswordMail>& mails) {
  std::vector<PasswordNotice> notices;
  for (const PasswordMail& mail : mails) {
    if (auto notice = NoticeFor(archive, mail, PasswordCandidates(mail.text))) {
      notices.push_back(std::move(*notice));
    }
  }
  return PasswordsInOrder(std::move(notices));
}

}  // namespace qm
