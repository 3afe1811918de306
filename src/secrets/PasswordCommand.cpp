#include "secrets/PasswordCommand.h"

#include <algorithm>
#include <cctype>
#include <string_view>

#include "base/Failure.h"
#include "secrets/ShellCommand.h"

namespace qm {
namespace {

// Enough for any password or token; more output is dropped unread.
constexpr std::size_t kOutputLimit = 64 * 1024;
// The part of the command's standard error a failure carries.
constexpr std::size_t kErrorTextLimit = 1000;

// The command's own words, on one line: control characters become spaces
// and the blanks at both ends go.
std::string ErrorText(std::string_view err) {
  std::string text(err.substr(0, kErrorTextLimit));
  std::replace_if(
      text.begin(), text.end(), [](char c) { return std::iscntrl(static_cast<unsigned char>(c)); },
      ' ');
  const auto first = text.find_first_not_of(' ');
  if (first == std::string::npos) return "";
  return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

Failure CommandFailure(const std::string& what, const ShellCommandResult& result) {
  std::string text = "the password command (\"PasswordCommand\" of the mail profile) " + what;
  const std::string err = ErrorText(result.err);
  if (!err.empty()) text += ": " + err;
  return Failure(FailureKind::SignOn, Cause::kPasswordCommand, text);
}

std::string Seconds(std::chrono::milliseconds limit) {
  return std::to_string(std::chrono::ceil<std::chrono::seconds>(limit).count());
}

}  // namespace

std::string RunPasswordCommand(const std::string& command, std::chrono::milliseconds limit,
                               const Cancellation* cancel) {
  const ShellCommandResult result =
      RunShellCommand(command, {limit, kOutputLimit, kErrorTextLimit}, cancel);
  if (result.timed_out) {
    throw CommandFailure("did not finish within " + Seconds(limit) + " seconds", result);
  }
  if (result.signal != 0) {
    throw CommandFailure("was ended by signal " + SignalName(result.signal), result);
  }
  if (result.exit_code != 0) {
    throw CommandFailure("failed with exit status " + std::to_string(result.exit_code), result);
  }
  std::string_view line(result.out);
  const std::size_t end = line.find('\n');
  if (end == std::string_view::npos && result.out_overflowed) {
    throw CommandFailure("printed more than " + std::to_string(kOutputLimit / 1024) +
                             " KiB without ending its first line",
                         result);
  }
  line = line.substr(0, end);
  if (line.ends_with('\r')) line.remove_suffix(1);
  if (line.empty()) throw CommandFailure("printed no password on its first line", result);
  return std::string(line);
}

}  // namespace qm
