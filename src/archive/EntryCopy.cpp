#include "archive/EntryCopy.h"

#include <zip.h>

#include <memory>
#include <string>
#include <vector>

#include "archive/ArchiveFailure.h"
#include "archive/DecryptedAesStream.h"
#include "archive/LibzipError.h"

namespace qm {
namespace {

constexpr std::size_t kChunk = 1 << 16;

struct FileCloser {
  void operator()(zip_file_t* file) const { zip_fclose(file); }
};
using ZipFile = std::unique_ptr<zip_file_t, FileCloser>;

zip_stat_t StatOf(zip_t* archive, std::uint64_t index) {
  zip_stat_t stat;
  if (zip_stat_index(archive, index, 0, &stat) < 0) ThrowEntryError(zip_get_error(archive), index);
  return stat;
}

// libzip 1.7 leaks what it made for an entry whose encryption method it
// cannot decrypt (the "strong encryption" flag, a method it does not know):
// such an entry is refused before libzip is asked to open it.
void CheckEncryptionReadable(zip_t* archive, std::uint64_t index) {
  const zip_stat_t stat = StatOf(archive, index);
  if ((stat.valid & ZIP_STAT_ENCRYPTION_METHOD) != 0 && stat.encryption_method != ZIP_EM_NONE &&
      zip_encryption_method_supported(stat.encryption_method, 0) == 0) {
    throw ArchiveFailure(ArchiveProblem::kDamaged,
                         "entry " + std::to_string(index) + " is encrypted in a way not supported");
  }
}

ZipFile OpenFile(zip_t* archive, std::uint64_t index, const std::string& password) {
  CheckEncryptionReadable(archive, index);
  zip_file_t* file =
      zip_fopen_index_encrypted(archive, index, 0, password.empty() ? nullptr : password.c_str());
  if (file == nullptr) ThrowEntryError(zip_get_error(archive), index);
  return ZipFile(file);
}

bool IsAes(const zip_stat_t& stat) {
  return stat.encryption_method == ZIP_EM_AES_128 || stat.encryption_method == ZIP_EM_AES_192 ||
         stat.encryption_method == ZIP_EM_AES_256;
}

// WinZip's AE-2 stores no CRC (0) and relies on the authentication code.
// libzip 1.7 takes that 0 for a CRC of entries of 20 bytes or more, so a
// CRC error at their end says nothing about the data.
bool CrcMeaningless(const zip_stat_t& stat) {
  return IsAes(stat) && (stat.valid & ZIP_STAT_CRC) != 0 && stat.crc == 0;
}

// The error at the end of a read: thrown, unless it is the false CRC error
// of an AE-2 entry that delivered all its bytes. A compressed one then has
// its authentication code checked apart; a stored one's code, checked on
// the way, fails with the same error as the false CRC, so nothing but the
// password verifier vouches for its data.
void CheckEndError(zip_error_t* error, const zip_stat_t& stat, std::uint64_t copied,
                   std::uint64_t index) {
  if (zip_error_code_zip(error) == ZIP_ER_CRC && CrcMeaningless(stat) && copied == stat.size) {
    return;
  }
  ThrowEntryError(error, index);
}

// Through libzip's own reading: decompressed, decrypted, its CRC checked.
void ReadThroughLibzip(zip_t* archive, std::uint64_t index, const zip_stat_t& stat,
                       const std::string& password, const ChunkSink& sink) {
  ZipFile file = OpenFile(archive, index, password);
  std::vector<char> buffer(kChunk);
  std::uint64_t copied = 0;
  zip_int64_t read = 0;
  while ((read = zip_fread(file.get(), buffer.data(), buffer.size())) > 0) {
    copied += static_cast<std::uint64_t>(read);
    if (copied > stat.size) {
      ThrowEntryProblem(ArchiveProblem::kOverLimit, index,
                        "more data than its declared size of " + std::to_string(stat.size));
    }
    sink(buffer.data(), static_cast<std::size_t>(read));
  }
  if (read < 0) CheckEndError(zip_file_get_error(file.get()), stat, copied, index);
  if (copied != stat.size) {
    ThrowEntryProblem(ArchiveProblem::kDamaged, index, "less data than its declared size");
  }
  // The code of a compressed AES entry: libzip's decompressor stops short of it.
  if (IsAes(stat) && stat.comp_method != ZIP_CM_STORE) {
    CheckAuthenticationCode(archive, index, password);
  }
}

}  // namespace

void OpenEntryHeader(zip* archive, std::uint64_t index, const std::string& password) {
  OpenFile(archive, index, password);
}

bool DataCheckable(zip* archive, std::uint64_t index) {
  const zip_stat_t stat = StatOf(archive, index);
  return !(CrcMeaningless(stat) && stat.comp_method == ZIP_CM_STORE);
}

void CopyEntry(zip* archive, std::uint64_t index, const std::string& password,
               const ChunkSink& sink) {
  const zip_stat_t stat = StatOf(archive, index);
  if (IsAes(stat) && stat.comp_method == ZIP_CM_DEFLATE) {
    // One pass instead of libzip's reading and a second one for the code.
    InflateAesEntry(archive, index, password, stat.size, sink);
  } else {
    ReadThroughLibzip(archive, index, stat, password, sink);
  }
}

}  // namespace qm
