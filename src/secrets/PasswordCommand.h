#pragma once
// The profile's "PasswordCommand": a command line run by /bin/sh -c (on
// Windows by cmd.exe /d /s /c, as typed at its prompt) whose first line of
// output (without its line ending) is the password, or for an OAuth 2.0
// mailbox the access token, e.g.
//   pass show mail/work
//   secret-tool lookup service imap user taro@example.co.jp
//   oauth2-helper --account work     (a token helper)
// What the line is, is for the caller to decide: the profile's
// "PasswordCommandGives" ("password" or "token", see MailProfile.h).

#include <chrono>
#include <string>

namespace qm {

class Cancellation;

inline constexpr std::chrono::seconds kPasswordCommandTimeLimit{30};

// The first line the command prints. Throws Failure(SignOn, kPasswordCommand)
// when it exits with a status other than 0, is ended by a signal, runs past
// `limit` (every process it started is then killed), prints nothing on that
// line or does not end that line within the first 64 KiB;
// the failure's text carries the start of its standard error, never its
// output. CancelledWhile() when `cancel` is requested meanwhile.
std::string RunPasswordCommand(const std::string& command,
                               std::chrono::milliseconds limit = kPasswordCommandTimeLimit,
                               const Cancellation* cancel = nullptr);

}  // namespace qm
