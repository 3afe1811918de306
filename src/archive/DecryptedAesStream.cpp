#include "archive/DecryptedAesStream.h"

#include <zip.h>
#include <zlib.h>

#include <memory>
#include <vector>

#include "archive/LibzipError.h"

namespace qm {
namespace {

constexpr std::size_t kChunk = 1 << 16;

struct SourceFreer {
  // Closes an open source, too.
  void operator()(zip_source_t* source) const { zip_source_free(source); }
};
using ZipSource = std::unique_ptr<zip_source_t, SourceFreer>;

// libzip hands out the compressed data of an entry (decrypted) when asked
// for all of it through a source; the password is the archive's default
// for as long as the source is made.
ZipSource OpenDecrypted(zip_t* archive, std::uint64_t index, const std::string& password) {
  if (zip_set_default_password(archive, password.empty() ? nullptr : password.c_str()) < 0) {
    ThrowEntryError(zip_get_error(archive), index);
  }
  ZipSource source(zip_source_zip(archive, archive, index, 0, 0, 0));
  zip_set_default_password(archive, nullptr);
  if (!source) ThrowEntryError(zip_get_error(archive), index);
  if (zip_source_open(source.get()) < 0) ThrowEntryError(zip_source_error(source.get()), index);
  return source;
}

// The next chunk of `source` into `buffer`: its size, 0 at the end (where
// the authentication code has matched).
std::size_t ReadChunk(zip_source_t* source, std::vector<char>& buffer, std::uint64_t index) {
  const zip_int64_t read = zip_source_read(source, buffer.data(), buffer.size());
  if (read < 0) ThrowEntryError(zip_source_error(source), index);
  return static_cast<std::size_t>(read);
}

class Inflater {
 public:
  explicit Inflater(std::uint64_t index) : index_(index) {
    // Raw deflate: a ZIP entry has no zlib header.
    if (inflateInit2(&stream_, -MAX_WBITS) != Z_OK) {
      ThrowEntryProblem(ArchiveProblem::kDamaged, index, "zlib cannot start");
    }
  }
  ~Inflater() { inflateEnd(&stream_); }
  Inflater(const Inflater&) = delete;
  Inflater& operator=(const Inflater&) = delete;

  bool ended() const { return ended_; }

  // Inflates `size` bytes of `data` into `sink`, at most `limit` bytes in all.
  void Feed(char* data, std::size_t size, std::uint64_t limit, const ChunkSink& sink) {
    stream_.next_in = reinterpret_cast<Bytef*>(data);
    stream_.avail_in = static_cast<uInt>(size);
    do {
      stream_.next_out = reinterpret_cast<Bytef*>(out_.data());
      stream_.avail_out = static_cast<uInt>(out_.size());
      const int result = inflate(&stream_, Z_NO_FLUSH);
      if (result == Z_STREAM_END) ended_ = true;
      if (result != Z_OK && result != Z_STREAM_END && result != Z_BUF_ERROR) {
        ThrowEntryProblem(ArchiveProblem::kCrcMismatch, index_, "compressed data invalid");
      }
      const std::size_t produced = out_.size() - stream_.avail_out;
      produced_ += produced;
      if (produced_ > limit) {
        ThrowEntryProblem(ArchiveProblem::kOverLimit, index_,
                          "more data than its declared size of " + std::to_string(limit));
      }
      if (produced > 0) sink(out_.data(), produced);
    } while (stream_.avail_out == 0 && !ended_);
  }

  std::uint64_t produced() const { return produced_; }

 private:
  std::uint64_t index_;
  z_stream stream_{};
  std::vector<char> out_ = std::vector<char>(kChunk);
  std::uint64_t produced_ = 0;
  bool ended_ = false;
};

}  // namespace

void CheckAuthenticationCode(zip* archive, std::uint64_t index, const std::string& password) {
  ZipSource source = OpenDecrypted(archive, index, password);
  std::vector<char> buffer(kChunk);
  while (ReadChunk(source.get(), buffer, index) > 0) {
  }
}

void InflateAesEntry(zip* archive, std::uint64_t index, const std::string& password,
                     std::uint64_t declared_size, const ChunkSink& sink) {
  ZipSource source = OpenDecrypted(archive, index, password);
  Inflater inflater(index);
  std::vector<char> buffer(kChunk);
  // Read to the end even past the deflate stream's: the code comes there.
  while (const std::size_t size = ReadChunk(source.get(), buffer, index)) {
    if (!inflater.ended()) inflater.Feed(buffer.data(), size, declared_size, sink);
  }
  if (!inflater.ended()) {
    ThrowEntryProblem(ArchiveProblem::kCrcMismatch, index, "compressed data cut short");
  }
  if (inflater.produced() != declared_size) {
    ThrowEntryProblem(ArchiveProblem::kDamaged, index, "less data than its declared size");
  }
}

}  // namespace qm
