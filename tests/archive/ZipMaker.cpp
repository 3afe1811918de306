#include "tests/archive/ZipMaker.h"

#include <gtest/gtest.h>
#include <zip.h>

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "base/FileSystem.h"

namespace qm::testing {
namespace {

void Require(bool ok, zip_t* archive, const std::string& what) {
  if (!ok) throw std::runtime_error(what + ": " + zip_strerror(archive));
}

zip_t* Create(const std::filesystem::path& archive) {
  int code = 0;
  zip_t* zip = zip_open(fs::NameOf(archive).c_str(), ZIP_CREATE | ZIP_TRUNCATE, &code);
  if (zip == nullptr) throw std::runtime_error("zip_open " + std::to_string(code));
  return zip;
}

void AddInput(zip_t* zip, const ZipInput& input) {
  const zip_flags_t mark = input.mark == NameMark::kUtf8 ? ZIP_FL_ENC_UTF_8 : ZIP_FL_ENC_GUESS;
  if (!input.name.empty() && input.name.back() == '/') {
    Require(zip_dir_add(zip, input.name.c_str(), mark) >= 0, zip, "zip_dir_add");
    return;
  }
  // libzip copies nothing: the input outlives zip_close.
  zip_source_t* source = zip_source_buffer(zip, input.data.data(), input.data.size(), 0);
  Require(source != nullptr, zip, "zip_source_buffer");
  const zip_int64_t index = zip_file_add(zip, input.name.c_str(), source, mark);
  if (index < 0) zip_source_free(source);
  Require(index >= 0, zip, "zip_file_add");
  if (input.stored) {
    Require(zip_set_file_compression(zip, static_cast<zip_uint64_t>(index), ZIP_CM_STORE, 0) == 0,
            zip, "zip_set_file_compression");
  }
}

struct Zeros {
  std::uint64_t size = 0;
  std::uint64_t given = 0;
};

zip_int64_t ZerosCallback(void* state, void* data, zip_uint64_t length, zip_source_cmd_t command) {
  auto* zeros = static_cast<Zeros*>(state);
  switch (command) {
    case ZIP_SOURCE_OPEN:
      zeros->given = 0;
      return 0;
    case ZIP_SOURCE_READ: {
      const zip_uint64_t count = std::min(length, zeros->size - zeros->given);
      std::memset(data, 0, count);
      zeros->given += count;
      return static_cast<zip_int64_t>(count);
    }
    case ZIP_SOURCE_STAT: {
      auto* stat = static_cast<zip_stat_t*>(data);
      zip_stat_init(stat);
      stat->size = zeros->size;
      stat->valid |= ZIP_STAT_SIZE;
      return sizeof(zip_stat_t);
    }
    case ZIP_SOURCE_SUPPORTS:
      return zip_source_make_command_bitmap(ZIP_SOURCE_OPEN, ZIP_SOURCE_READ, ZIP_SOURCE_CLOSE,
                                            ZIP_SOURCE_STAT, ZIP_SOURCE_ERROR, ZIP_SOURCE_FREE, -1);
    default:
      return 0;
  }
}

}  // namespace

void MakeZip(const std::filesystem::path& archive, const std::vector<ZipInput>& inputs) {
  zip_t* zip = Create(archive);
  try {
    for (const ZipInput& input : inputs) AddInput(zip, input);
  } catch (...) {
    zip_discard(zip);
    throw;
  }
  Require(zip_close(zip) == 0, zip, "zip_close");
}

void MakeZerosZip(const std::filesystem::path& archive, std::uint64_t size) {
  Zeros zeros{size, 0};
  zip_t* zip = Create(archive);
  zip_source_t* source = zip_source_function(zip, ZerosCallback, &zeros);
  const zip_int64_t index = zip_file_add(zip, "zeros.bin", source, 0);
  Require(index >= 0, zip, "zip_file_add");
  zip_set_file_compression(zip, static_cast<zip_uint64_t>(index), ZIP_CM_DEFLATE, 1);
  Require(zip_close(zip) == 0, zip, "zip_close");
}

}  // namespace qm::testing
