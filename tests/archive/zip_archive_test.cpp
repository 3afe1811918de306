#include "archive/ZipArchive.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "archive/ArchiveFailure.h"
#include "base/FileSystem.h"
#include "base/UniqueFd.h"
#include "tests/archive/ToolArchive.h"
#include "tests/archive/ZipMaker.h"
#include "tests/support/CiSkip.h"
#include "tests/support/FileBytes.h"
#include "tests/support/TempDir.h"

namespace qm {
namespace {

using testing::ZipInput;
namespace stdfs = std::filesystem;

// 50,000 letters from a linear congruential generator: they compress, but not
// to nothing, so the middle of the compressed data is far from its headers.
std::string BigText() {
  std::string text;
  std::uint32_t state = 12345;
  for (int i = 0; i < 50'000; ++i) {
    state = state * 1103515245u + 12345u;
    text += static_cast<char>('a' + (state >> 16) % 26);
  }
  return text;
}
const std::string kBigText = BigText();
const std::string kCp932Name = "\x8c\xa9\x90\xcf\x8f\x91.txt";  // 見積書.txt

UniqueFd OpenArchive(const stdfs::path& path) {
  UniqueFd fd(fs::OpenForReading(fs::kNoFolder, fs::NameOf(path)));
  if (!fd.valid()) ADD_FAILURE() << "cannot open " << path;
  return fd;
}

ArchiveProblem ProblemOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const ArchiveFailure& failure) {
    return failure.problem();
  }
  ADD_FAILURE() << "no archive failure";
  return ArchiveProblem::kDamaged;
}

class ZipArchiveTest : public ::testing::Test {
 protected:
  stdfs::path Make(const std::vector<ZipInput>& inputs) {
    const stdfs::path path = dir_ / ("made" + std::to_string(++made_) + ".zip");
    testing::MakeZip(path, inputs);
    return path;
  }

  // Entry `index` unpacked into a file of its own, read back.
  std::string Unpack(ZipArchive& archive, std::size_t index, const std::string& password = {}) {
    const stdfs::path out = dir_ / ("out" + std::to_string(++unpacked_));
    UniqueFd fd(fs::CreateExclusive(fs::kNoFolder, fs::NameOf(out), 0600));
    archive.WriteEntry(index, fd.get(), password);
    return testing::ReadFile(out);
  }

  // 7z lists the entries in its own order.
  std::size_t IndexOf(const ZipArchive& archive, const std::string& name) {
    for (std::size_t index = 0; index < archive.entries().size(); ++index) {
      if (archive.entries()[index].name == name) return index;
    }
    ADD_FAILURE() << "no entry " << name;
    return 0;
  }

  std::vector<std::string> Names(const ZipArchive& archive) {
    std::vector<std::string> names;
    for (const ZipEntry& entry : archive.entries()) names.push_back(entry.name);
    return names;
  }

  testing::TempDir dir_;
  int made_ = 0;
  int unpacked_ = 0;
};

TEST_F(ZipArchiveTest, ListsDecodedNamesSizesAndFolders) {
  const stdfs::path path = Make({
      {kCp932Name, "cp932", testing::NameMark::kNone},
      {"請求書.pdf", "utf8", testing::NameMark::kUtf8},
      {"\xe3\x82\xab\xe3\x82\x99.txt", "nfd", testing::NameMark::kNone},
      {"資料/", "", testing::NameMark::kUtf8},
      {"資料/深い/中.txt", "nested", testing::NameMark::kUtf8},
      {"empty.txt", "", testing::NameMark::kNone},
      {"../../x", "escape", testing::NameMark::kNone},
      {"/etc/passwd", "absolute", testing::NameMark::kNone},
      {"\x83\x5c", "ends in 0x5C", testing::NameMark::kNone},  // ソ in CP932
  });
  UniqueFd fd = OpenArchive(path);
  ZipArchive archive(fd.get());
  EXPECT_EQ(Names(archive),
            (std::vector<std::string>{"見積書.txt", "請求書.pdf", "ガ.txt", "資料",
                                      "資料/深い/中.txt", "empty.txt", "x", "etc/passwd", "ソ"}));
  EXPECT_TRUE(archive.entries()[3].folder);
  EXPECT_FALSE(archive.entries()[4].folder);
  EXPECT_FALSE(archive.entries()[8].folder);
  EXPECT_EQ(archive.entries()[4].size, 6u);
  EXPECT_FALSE(archive.encrypted());
  EXPECT_EQ(Unpack(archive, 4), "nested");
  EXPECT_EQ(Unpack(archive, 5), "");
  EXPECT_EQ(Unpack(archive, 6), "escape");
}

TEST_F(ZipArchiveTest, LeavesTheCallersDescriptorOpen) {
  const stdfs::path path = Make({{"a.txt", "a"}});
  UniqueFd fd = OpenArchive(path);
  { ZipArchive archive(fd.get()); }
  fs::EntryInfo info;
  EXPECT_EQ(fs::InfoOf(fd.get(), info), 0);
}

TEST_F(ZipArchiveTest, WritesANestedArchiveAsItsBytes) {
  const stdfs::path inner = Make({{"inner.txt", "inside"}});
  const std::string inner_bytes = testing::ReadFile(inner);
  UniqueFd fd = OpenArchive(Make({{"inner.zip", inner_bytes}}));
  ZipArchive archive(fd.get());
  ASSERT_EQ(archive.entries().size(), 1u);
  EXPECT_EQ(Unpack(archive, 0), inner_bytes);
}

TEST_F(ZipArchiveTest, TenThousandEntriesAreFine) {
  std::vector<ZipInput> inputs;
  for (int i = 0; i < 10'000; ++i) inputs.push_back({"f/" + std::to_string(i) + ".txt", "x"});
  UniqueFd fd = OpenArchive(Make(inputs));
  ZipArchive archive(fd.get());
  EXPECT_EQ(archive.entries().size(), 10'000u);
  EXPECT_EQ(archive.entries()[9'999].name, "f/9999.txt");
}

TEST_F(ZipArchiveTest, RefusesAGigabyteOfZerosBeforeWriting) {
  const stdfs::path path = dir_ / "bomb.zip";
  testing::MakeZerosZip(path, std::uint64_t{1} << 30);
  EXPECT_LT(stdfs::file_size(path), std::uintmax_t{10} << 20);
  UniqueFd fd = OpenArchive(path);
  EXPECT_EQ(ProblemOf([&] { ZipArchive archive(fd.get()); }), ArchiveProblem::kOverLimit);
}

struct LimitCase {
  const char* label;
  ArchiveLimits limits;
};
void PrintTo(const LimitCase& c, std::ostream* os) { *os << c.label; }

class ArchiveLimitTest : public ZipArchiveTest, public ::testing::WithParamInterface<LimitCase> {};

// Three entries: 2,000 bytes of 'a' (compressing to a few bytes), 10 bytes
// stored, the second at depth 3.
TEST_P(ArchiveLimitTest, RefusesOverTheLimit) {
  UniqueFd fd = OpenArchive(Make({{"a.txt", std::string(2000, 'a')},
                                  {"d1/d2/b.txt", "0123456789", testing::NameMark::kNone, true},
                                  {"c.txt", "c"}}));
  EXPECT_EQ(ProblemOf([&] { ZipArchive archive(fd.get(), GetParam().limits); }),
            ArchiveProblem::kOverLimit);
}

ArchiveLimits With(void (*change)(ArchiveLimits&)) {
  ArchiveLimits limits;
  change(limits);
  return limits;
}

INSTANTIATE_TEST_SUITE_P(
    Limits, ArchiveLimitTest,
    ::testing::Values(LimitCase{"entries", With([](ArchiveLimits& l) { l.max_entries = 2; })},
                      LimitCase{"total_size",
                                With([](ArchiveLimits& l) { l.max_total_size = 2010; })},
                      LimitCase{"ratio", With([](ArchiveLimits& l) {
                                  l.ratio_floor = 1000;
                                  l.max_ratio = 20;
                                })},
                      LimitCase{"depth", With([](ArchiveLimits& l) { l.max_depth = 2; })}));

TEST_F(ZipArchiveTest, AcceptsExactlyAtTheLimits) {
  UniqueFd fd = OpenArchive(Make({{"a.txt", std::string(2000, 'a')},
                                  {"d1/d2/b.txt", "0123456789", testing::NameMark::kNone, true},
                                  {"c.txt", "c"}}));
  ArchiveLimits limits;
  limits.max_entries = 3;
  limits.max_total_size = 2011;
  limits.max_depth = 3;
  limits.ratio_floor = 2011;  // the ratio applies only above the floor
  limits.max_ratio = 1;
  ZipArchive archive(fd.get(), limits);
  EXPECT_EQ(archive.entries().size(), 3u);
}

TEST_F(ZipArchiveTest, AWrongCrcFailsTheEntry) {
  const std::string payload = "PAYLOAD-TO-DAMAGE-0123456789";
  const stdfs::path path = Make({{"good.txt", "good", testing::NameMark::kNone, true},
                                 {"bad.txt", payload, testing::NameMark::kNone, true}});
  std::string bytes = testing::ReadFile(path);
  const std::size_t at = bytes.find(payload);
  ASSERT_NE(at, std::string::npos);
  bytes[at + 3] ^= 0x20;
  testing::WriteFile(path, bytes);
  UniqueFd fd = OpenArchive(path);
  ZipArchive archive(fd.get());
  EXPECT_EQ(Unpack(archive, 0), "good");
  EXPECT_EQ(ProblemOf([&] { Unpack(archive, 1); }), ArchiveProblem::kCrcMismatch);
}

// A central directory that declares 10 bytes for an entry of 100: nothing
// past the declared size is written.
TEST_F(ZipArchiveTest, StopsAtTheDeclaredSize) {
  const stdfs::path path =
      Make({{"lie.txt", std::string(100, 'x'), testing::NameMark::kNone, true}});
  std::string bytes = testing::ReadFile(path);
  const std::size_t central = bytes.find("PK\x01\x02");
  ASSERT_NE(central, std::string::npos);
  const std::size_t uncompressed_size = central + 24;
  ASSERT_EQ(bytes.substr(uncompressed_size, 4), std::string("\x64\0\0\0", 4));
  bytes[uncompressed_size] = 10;
  testing::WriteFile(path, bytes);
  UniqueFd fd = OpenArchive(path);
  ZipArchive archive(fd.get());
  ASSERT_EQ(archive.entries()[0].size, 10u);
  const stdfs::path out = dir_ / "lie.out";
  UniqueFd out_fd(fs::CreateExclusive(fs::kNoFolder, fs::NameOf(out), 0600));
  EXPECT_EQ(ProblemOf([&] { archive.WriteEntry(0, out_fd.get()); }), ArchiveProblem::kOverLimit);
  EXPECT_LE(stdfs::file_size(out), 10u);
}

TEST_F(ZipArchiveTest, RefusesWhatIsNoZip) {
  const stdfs::path path = dir_ / "not.zip";
  testing::WriteFile(path, "PK\x03\x04 but nothing more of a ZIP archive");
  UniqueFd fd = OpenArchive(path);
  EXPECT_EQ(ProblemOf([&] { ZipArchive archive(fd.get()); }), ArchiveProblem::kDamaged);
}

TEST_F(ZipArchiveTest, AWriteErrorIsAFileWriteFailure) {
  UniqueFd fd = OpenArchive(Make({{"a.txt", "a"}}));
  ZipArchive archive(fd.get());
  UniqueFd read_only(fs::OpenForReading(fs::kNoFolder, fs::NameOf(dir_ / "made1.zip")));
  try {
    archive.WriteEntry(0, read_only.get());
    ADD_FAILURE() << "no failure";
  } catch (const ArchiveFailure&) {
    ADD_FAILURE() << "an archive failure";
  } catch (const Failure& failure) {
    EXPECT_EQ(failure.kind(), FailureKind::FileWrite);
    EXPECT_EQ(failure.error(), EBADF);
  }
}

// ---------------------------------------------------------------- passwords

struct EncryptedCase {
  const char* label;
  const char* program;
  std::vector<std::string> args;  // before the archive's name
};
void PrintTo(const EncryptedCase& c, std::ostream* os) { *os << c.label; }

class EncryptedArchiveTest : public ZipArchiveTest,
                             public ::testing::WithParamInterface<EncryptedCase> {
 protected:
  // small.txt, then big.txt (compressible, deflated), then empty.txt; on
  // Windows the archive make_tool_archives.sh made as "<label>-<password>".
  bool MakeEncrypted(const stdfs::path& path, const std::string& password) {
    const stdfs::path folder = dir_ / ("in" + std::to_string(++made_));
    stdfs::create_directory(folder);
    std::vector<std::string> args = GetParam().args;
    for (std::string& arg : args) {
      if (arg == "PASSWORD") arg = password;
      if (arg == "-pPASSWORD") arg = "-p" + password;
    }
    const testing::ToolRun run{
        GetParam().program,
        args,
        {{"small.txt", "small secret text"}, {"big.txt", kBigText}, {"empty.txt", ""}}};
    return testing::ArchiveWithTools(std::string(GetParam().label) + "-" + password, {run}, folder,
                                     path);
  }
};

TEST_P(EncryptedArchiveTest, AcceptsOnlyTheRightPassword) {
  const stdfs::path path = dir_ / "secret.zip";
  if (!MakeEncrypted(path, "s3cret-Pass")) {
    QM_SKIP_OUTSIDE_CI(std::string(GetParam().program) + " is missing");
  }
  UniqueFd fd = OpenArchive(path);
  ZipArchive archive(fd.get());
  EXPECT_TRUE(archive.encrypted());
  EXPECT_TRUE(archive.Accepts("s3cret-Pass"));
  for (const char* wrong : {"", "s3cret", "S3CRET-パス", "s3cret-Pass "}) {
    EXPECT_FALSE(archive.Accepts(wrong)) << "'" << wrong << "'";
  }
}

TEST_P(EncryptedArchiveTest, WritesWithTheRightPasswordOnly) {
  const stdfs::path path = dir_ / "secret.zip";
  if (!MakeEncrypted(path, "right")) {
    QM_SKIP_OUTSIDE_CI(std::string(GetParam().program) + " is missing");
  }
  UniqueFd fd = OpenArchive(path);
  ZipArchive archive(fd.get());
  ASSERT_EQ(archive.entries().size(), 3u);
  const std::size_t big = IndexOf(archive, "big.txt");
  EXPECT_EQ(Unpack(archive, IndexOf(archive, "small.txt"), "right"), "small secret text");
  EXPECT_TRUE(Unpack(archive, big, "right") == kBigText) << "big.txt differs";
  EXPECT_EQ(Unpack(archive, IndexOf(archive, "empty.txt"), "right"), "");
  // PKWARE's header tells a wrong password with odds of 255 in 256; past
  // it, the data fails.
  const ArchiveProblem wrong = ProblemOf([&] { Unpack(archive, big, "wrong"); });
  EXPECT_TRUE(wrong == ArchiveProblem::kWrongPassword || wrong == ArchiveProblem::kCrcMismatch)
      << static_cast<int>(wrong);
  EXPECT_EQ(ProblemOf([&] { Unpack(archive, big, ""); }), ArchiveProblem::kWrongPassword);
}

// The archives whose entries libzip can check: all but stored AE-2 ones.
class DamagedEncryptedArchiveTest : public EncryptedArchiveTest {};

// Where big.txt's data starts: after its local header (the first place its
// name appears), its name and its extra fields.
std::size_t DataStartOfBig(const std::string& bytes) {
  const std::size_t header = bytes.find("big.txt") - 30;
  const auto field = [&](std::size_t at) {
    return static_cast<unsigned char>(bytes[at]) | static_cast<unsigned char>(bytes[at + 1]) << 8;
  };
  EXPECT_EQ(bytes.substr(header, 4), "PK\x03\x04");
  return header + 30 + field(header + 26) + field(header + 28);
}

// One byte of big.txt's data changed: in the middle, and the last one (for
// AES the authentication code, which nothing else covers).
TEST_P(DamagedEncryptedArchiveTest, FindsDamageBehindTheRightPassword) {
  for (const bool last_byte : {false, true}) {
    SCOPED_TRACE(last_byte ? "last byte" : "middle");
    const stdfs::path path = dir_ / (last_byte ? "last.zip" : "middle.zip");
    if (!MakeEncrypted(path, "right")) {
      QM_SKIP_OUTSIDE_CI(std::string(GetParam().program) + " is missing");
    }
    std::uint64_t compressed = 0;
    {
      UniqueFd probe = OpenArchive(path);
      ZipArchive archive(probe.get());
      compressed = archive.entries()[IndexOf(archive, "big.txt")].compressed_size;
    }
    std::string bytes = testing::ReadFile(path);
    bytes[DataStartOfBig(bytes) + (last_byte ? compressed - 1 : compressed / 2)] ^= 0x01;
    testing::WriteFile(path, bytes);
    UniqueFd fd = OpenArchive(path);
    ZipArchive archive(fd.get());
    EXPECT_EQ(Unpack(archive, IndexOf(archive, "small.txt"), "right"), "small secret text");
    // A damaged last deflate block may also run past the declared size.
    const ArchiveProblem problem =
        ProblemOf([&] { Unpack(archive, IndexOf(archive, "big.txt"), "right"); });
    EXPECT_TRUE(problem == ArchiveProblem::kCrcMismatch ||
                (last_byte && problem == ArchiveProblem::kOverLimit))
        << static_cast<int>(problem);
  }
}

// The same commands and labels as in make_tool_archives.sh.
const EncryptedCase kPkware{"pkware_zip", "zip", {"-q", "-P", "PASSWORD"}};
const EncryptedCase kAes256{"aes256_7z", "7z", {"a", "-tzip", "-mem=AES256", "-pPASSWORD"}};
const EncryptedCase kAes128{"aes128_7z", "7z", {"a", "-tzip", "-mem=AES128", "-pPASSWORD"}};
const EncryptedCase kPkwareStored{"pkware_stored_zip", "zip", {"-q", "-0", "-P", "PASSWORD"}};
const EncryptedCase kAes256Stored{
    "aes256_stored_7z", "7z", {"a", "-tzip", "-mx0", "-mem=AES256", "-pPASSWORD"}};

INSTANTIATE_TEST_SUITE_P(Tools, EncryptedArchiveTest,
                         ::testing::Values(kPkware, kAes256, kAes128, kPkwareStored,
                                           kAes256Stored));
INSTANTIATE_TEST_SUITE_P(Tools, DamagedEncryptedArchiveTest,
                         ::testing::Values(kPkware, kAes256, kAes128, kPkwareStored));

// Entries with passwords of their own: the archive counts as opened only
// when the password opens every encrypted entry. AES, whose header tells a
// wrong password with odds of 65,535 in 65,536.
TEST_F(ZipArchiveTest, DifferentPasswordsOpenNoArchive) {
  const stdfs::path path = dir_ / "mixed.zip";
  const stdfs::path folder = dir_ / "mixed";
  stdfs::create_directory(folder);
  const std::vector<ZipInput> first = {{"a.txt", "first entry's text"}};
  const std::vector<ZipInput> second = {{"b.txt", "the second entry's text, somewhat longer"}};
  const bool made =
      testing::ArchiveWithTools("mixed",
                                {{"7z", {"a", "-tzip", "-mem=AES256", "-pfirst"}, first},
                                 {"7z", {"a", "-tzip", "-mem=AES256", "-psecond"}, second}},
                                folder, path);
  if (!made) QM_SKIP_OUTSIDE_CI("7z is missing");
  UniqueFd fd = OpenArchive(path);
  ZipArchive archive(fd.get());
  ASSERT_EQ(archive.entries().size(), 2u);
  EXPECT_FALSE(archive.Accepts("first"));
  EXPECT_FALSE(archive.Accepts("second"));
  EXPECT_EQ(Unpack(archive, 0, "first"), "first entry's text");
  EXPECT_EQ(Unpack(archive, 1, "second"), "the second entry's text, somewhat longer");
}

TEST_F(ZipArchiveTest, AnArchiveWithoutEncryptionAcceptsAnyPassword) {
  UniqueFd fd = OpenArchive(Make({{"a.txt", "a"}}));
  ZipArchive archive(fd.get());
  EXPECT_FALSE(archive.encrypted());
  EXPECT_TRUE(archive.Accepts("anything"));
}

}  // namespace
}  // namespace qm
