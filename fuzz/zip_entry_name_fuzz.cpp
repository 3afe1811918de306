// Feeds arbitrary bytes to the decoding of ZIP entry names: the first byte
// chooses the UTF-8 flag and whether the rest splits into a name and a
// Unicode Path field. Whatever the bytes, the path must be valid UTF-8,
// relative, free of empty, "." and ".." components, and decoding it again
// as a flagged UTF-8 name must give it back unchanged.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

#include "archive/ZipEntryName.h"
#include "base/Utf8Character.h"

namespace {

constexpr std::string_view kFallback = "fallback.bin";

void Require(bool condition, const char* what) {
  if (condition) return;
  std::fprintf(stderr, "violated: %s\n", what);
  std::abort();
}

void CheckPath(std::string_view path) {
  Require(!path.empty(), "a path is never empty");
  Require(qm::IsValidUtf8(path), "the path is UTF-8");
  Require(path.front() != '/', "the path is relative");
  Require(path.find('\\') == std::string_view::npos, "no backslash is left");
  std::size_t start = 0;
  while (start <= path.size()) {
    const std::size_t end = std::min(path.find('/', start), path.size());
    const std::string_view part = path.substr(start, end - start);
    Require(!part.empty() && part != "." && part != "..", "every component names something");
    Require(part.find(':') == std::string_view::npos, "no drive or stream is left");
    start = end + 1;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::string_view input(reinterpret_cast<const char*>(data) + 1, size - 1);
  qm::RawZipName name;
  name.utf8_flag = (data[0] & 1) != 0;
  name.bytes = input;
  if ((data[0] & 2) != 0) {
    const std::size_t split = input.size() / 2;
    name.bytes = input.substr(0, split);
    name.unicode_path_field = input.substr(split);
  }
  const std::string path = qm::DecodeZipEntryName(name, kFallback);
  CheckPath(path);
  const qm::RawZipName again{path, true, std::nullopt};
  Require(qm::DecodeZipEntryName(again, kFallback) == path, "a decoded path decodes to itself");
  return 0;
}
