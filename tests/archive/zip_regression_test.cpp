// Archives that once went wrong, each named after its cause: they must be
// refused or read as described, whatever the fuzzer found in them.

#include <gtest/gtest.h>

#include <string>

#include "archive/ArchiveFailure.h"
#include "archive/ZipArchive.h"
#include "base/FileSystem.h"
#include "base/UniqueFd.h"
#include "tests/support/ScratchFiles.h"

namespace qm {
namespace {

UniqueFd OpenData(const std::string& name) {
  return UniqueFd(fs::OpenForReading(fs::kNoFolder, std::string(QM_TEST_DATA) + "/" + name));
}

// An entry flagged with "strong encryption" (a method libzip 1.7 cannot
// decrypt), which libzip leaked its reading state for: refused as damaged
// before libzip opens it, and the archive's other entry still reads.
TEST(ZipRegression, UnsupportedEncryptionMethodIsRefused) {
  const UniqueFd input = OpenData("unsupported-encryption-method.zip");
  ASSERT_TRUE(input.valid());
  ZipArchive archive(input.get());
  ASSERT_EQ(archive.entries().size(), 2u);
  const UniqueFd out = testing::NewScratchFile();
  try {
    archive.WriteEntry(0, out.get(), "password");
    ADD_FAILURE() << "an entry in an unknown encryption was read";
  } catch (const ArchiveFailure& failure) {
    EXPECT_EQ(failure.problem(), ArchiveProblem::kDamaged);
  }
}

}  // namespace
}  // namespace qm
