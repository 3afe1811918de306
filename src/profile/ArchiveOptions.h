#pragma once
// Which ZIP archives a scan unpacks, kept with the mailbox's values of the
// mail profile: "UnpackEncryptedZip" and "UnpackPlainZip", text "1" or "0".
// An archive is always saved as it came; these only say whether its files
// are also unpacked beside it.

#include <string>

namespace qm {

class Registry;

inline constexpr char kUnpackEncryptedValue[] = "UnpackEncryptedZip";
inline constexpr char kUnpackPlainValue[] = "UnpackPlainZip";

struct ArchiveOptions {
  // An encrypted archive whose password a mail gives.
  bool unpack_encrypted = true;
  // An archive without a password.
  bool unpack_plain = false;
};

// The stored choices; a value that is absent or neither "1" nor "0" keeps
// its default. Never throws: a damaged value is no reason to stop a scan.
ArchiveOptions ReadArchiveOptions(Registry& registry);
ArchiveOptions ReadArchiveOptions();  // from the platform's registry

// Throws Failure(SignOn, kNoMailbox) when the store refuses.
void WriteArchiveOptions(Registry& registry, const ArchiveOptions& options);
void WriteArchiveOptions(const ArchiveOptions& options);

}  // namespace qm
