// SHA-256 and random bytes from the system's implementation: the published
// test vectors, whole and fed in awkward pieces, and random bytes that differ.

#include <gtest/gtest.h>

#include <cstddef>
#include <set>
#include <string>
#include <vector>

#include "base/RandomBytes.h"
#include "base/Sha256.h"

namespace qm {
namespace {

std::string Hex(const Sha256::Digest& digest) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string hex;
  for (const unsigned char byte : digest) {
    hex += kDigits[byte >> 4];
    hex += kDigits[byte & 0xf];
  }
  return hex;
}

struct Vector {
  const char* name;
  std::string message;
  const char* digest;
};

const std::vector<Vector>& Vectors() {
  static const std::vector<Vector> vectors = {
      {"empty", "", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abc", "abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {"two blocks", "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
      {"million a", std::string(1000000, 'a'),
       "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
  };
  return vectors;
}

TEST(Sha256, KnownVectorsInOneGo) {
  for (const Vector& v : Vectors()) EXPECT_EQ(Hex(Sha256Of(v.message)), v.digest) << v.name;
}

// Pieces that end inside a block, on a block's edge (64 bytes) and just
// past it, and empty ones, must give the digest of the whole.
TEST(Sha256, KnownVectorsInAwkwardPieces) {
  for (const std::size_t piece : {1u, 3u, 55u, 56u, 63u, 64u, 65u, 4097u}) {
    for (const Vector& v : Vectors()) {
      if (piece == 1 && v.message.size() > 1000) continue;  // a million calls add nothing
      Sha256 sha;
      sha.Update("");
      for (std::size_t at = 0; at < v.message.size(); at += piece) {
        sha.Update(std::string_view(v.message).substr(at, piece));
      }
      sha.Update("");
      EXPECT_EQ(Hex(sha.Finish()), v.digest) << v.name << " in pieces of " << piece;
    }
  }
}

TEST(RandomBytes, GivesTheLengthAskedAndBytesThatDiffer) {
  for (const std::size_t length : {0u, 1u, 16u, 32u, 1000u, 70000u}) {
    EXPECT_EQ(RandomBytes(length).size(), length);
  }
  // 32 random bytes twice alike, or all zero, would be a broken generator.
  std::set<std::string> seen;
  for (int i = 0; i < 8; ++i) seen.insert(RandomBytes(32));
  EXPECT_EQ(seen.size(), 8u);
  EXPECT_EQ(seen.count(std::string(32, '\0')), 0u);
  // Across a long run every byte value turns up: no byte is stuck.
  const std::string many = RandomBytes(70000);
  EXPECT_EQ(std::set<char>(many.begin(), many.end()).size(), 256u);
}

}  // namespace
}  // namespace qm
