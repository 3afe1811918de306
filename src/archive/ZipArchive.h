#pragma once
// A ZIP archive read through libzip: its entries with safe names, whether a
// password opens it, and each entry's bytes written into a descriptor, all
// within ArchiveLimits. Traditional PKWARE encryption and WinZip AES are
// read; an archive inside is just an entry (nothing is unpacked twice).

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "archive/ArchiveLimits.h"

struct zip;

namespace qm {

struct ZipEntry {
  std::string name;                   // a safe relative path, '/'-separated (DecodeZipEntryName)
  std::uint64_t size = 0;             // uncompressed, as declared
  std::uint64_t compressed_size = 0;  // as declared
  bool encrypted = false;
  bool folder = false;
};

class ZipArchive {
 public:
  // Reads the central directory of the archive in `fd`, a seekable regular
  // file that stays the caller's (a duplicate is read; its offset moves).
  // Throws ArchiveFailure: kDamaged for what is no ZIP, kOverLimit beyond
  // `limits` (checked here, before anything is written).
  explicit ZipArchive(int fd, const ArchiveLimits& limits = {});
  ~ZipArchive();
  ZipArchive(const ZipArchive&) = delete;
  ZipArchive& operator=(const ZipArchive&) = delete;

  const std::vector<ZipEntry>& entries() const { return entries_; }
  bool encrypted() const;

  // True when `password` opens the archive: every encrypted entry's header
  // accepts it, and the smallest non-empty encrypted entry (preferably one
  // libzip can check: not a stored AE-2 entry) decrypts with a matching
  // CRC-32 (PKWARE) or authentication code (AES). Only that entry is read,
  // so a wrong password mostly costs one header. An entry with a password of
  // its own passes its header with odds of 1/256 (PKWARE) or 1/65,536 (AES),
  // and then fails in WriteEntry. Without encrypted entries: true.
  bool Accepts(const std::string& password);

  // Writes the bytes of entry `index` (a file; a folder writes nothing) into
  // `fd`, decrypted with `password` when encrypted (empty: none). Checks the
  // CRC-32 or authentication code at the end and never writes more than the
  // declared size; a stored WinZip AE-2 entry, which libzip 1.7 cannot
  // check, has only its password verifier. Throws ArchiveFailure or
  // FileFailure(FileWrite); the caller removes what was written. A wrong
  // password is kWrongPassword, or kCrcMismatch for the one in 256 (PKWARE)
  // or 65,536 (AES) that passes the header's check.
  void WriteEntry(std::size_t index, int fd, const std::string& password = {});

 private:
  struct Closer {
    void operator()(zip* archive) const;
  };
  void ReadEntries(const ArchiveLimits& limits);
  std::optional<std::size_t> EntryToVerify() const;

  std::unique_ptr<zip, Closer> archive_;
  std::vector<ZipEntry> entries_;
};

}  // namespace qm
