#include "base/CaBundle.h"

#include "base/Failure.h"
#include "base/ReadRegularFile.h"

namespace qm {
namespace {

constexpr char kSystemCaBundle[] = "/etc/ssl/certs/ca-certificates.crt";
// A CA file holds a few certificates; the system's bundle some hundreds.
constexpr std::size_t kCaFileLimit = 1024 * 1024;
constexpr std::size_t kSystemCaBundleLimit = 8 * 1024 * 1024;

Failure UnusableCaFile(const std::string& ca_file, const std::string& why) {
  return Failure(FailureKind::SignOn, Cause::kNoMailbox,
                 "the mail profile value \"CAFile\" (\"" + ca_file + "\") " + why);
}

// The profile's CA file: a regular file (a link to one is fine) of bounded size.
std::string ReadCaFile(const std::string& ca_file) {
  RegularFileContent file = ReadRegularFile(ca_file, kCaFileLimit, FinalLink::kFollow);
  switch (file.state) {
    case RegularFileState::kRead:
      return std::move(file.bytes);
    case RegularFileState::kNotRegular:
      throw UnusableCaFile(ca_file, "is not a regular file");
    case RegularFileState::kTooLarge:
      throw UnusableCaFile(ca_file, "is larger than " + std::to_string(kCaFileLimit / 1024) +
                                        " KiB, too large for a PEM certificate file");
    case RegularFileState::kMissing:
    case RegularFileState::kUnreadable:
      break;
  }
  throw UnusableCaFile(ca_file, "is not a readable PEM certificate file");
}

}  // namespace

std::string CaBundle(const std::string& ca_file) {
  const std::string own = ReadCaFile(ca_file);
  RegularFileContent system =
      ReadRegularFile(kSystemCaBundle, kSystemCaBundleLimit, FinalLink::kFollow);
  // Without a usable system bundle the profile's CA alone is trusted.
  if (system.state != RegularFileState::kRead) return own;
  return std::move(system.bytes) + "\n" + own;
}

}  // namespace qm
