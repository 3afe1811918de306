#include "imap/DeflateTransport.h"

#include <zlib.h>

#include <utility>
#include <vector>

#include "base/Failure.h"

namespace qm {
namespace {

constexpr int kRawDeflate = -15;  // window bits: no zlib header, as RFC 4978 asks
constexpr std::size_t kChunk = 64 * 1024;

Failure Broken(const char* what) {
  return Failure(FailureKind::MailStore, Cause::kMailServer,
                 std::string("the compressed stream from the mail server ") + what);
}

}  // namespace

struct DeflateTransport::Streams {
  z_stream out{};  // to the server
  z_stream in{};   // from the server

  Streams() {
    if (deflateInit2(&out, Z_DEFAULT_COMPRESSION, Z_DEFLATED, kRawDeflate, 8, Z_DEFAULT_STRATEGY) !=
        Z_OK) {
      throw Failure(FailureKind::Internal, Cause::kInternal, "zlib cannot compress");
    }
    if (inflateInit2(&in, kRawDeflate) != Z_OK) {
      deflateEnd(&out);
      throw Failure(FailureKind::Internal, Cause::kInternal, "zlib cannot decompress");
    }
  }
  ~Streams() {
    deflateEnd(&out);
    inflateEnd(&in);
  }
  Streams(const Streams&) = delete;
  Streams& operator=(const Streams&) = delete;
};

DeflateTransport::DeflateTransport(std::unique_ptr<ImapTransport> inner, std::string received)
    : inner_(std::move(inner)),
      streams_(std::make_unique<Streams>()),
      input_(std::move(received)) {}

DeflateTransport::~DeflateTransport() = default;

void DeflateTransport::Send(std::string_view bytes) {
  z_stream& z = streams_->out;
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.data()));
  z.avail_in = static_cast<uInt>(bytes.size());
  std::vector<char> out(kChunk);
  do {
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = static_cast<uInt>(out.size());
    if (deflate(&z, Z_SYNC_FLUSH) == Z_STREAM_ERROR) {
      throw Failure(FailureKind::Internal, Cause::kInternal, "zlib failed to compress");
    }
    const std::size_t made = out.size() - z.avail_out;
    if (made > 0) inner_->Send(std::string_view(out.data(), made));
  } while (z.avail_out == 0);  // a full buffer: there may be more to flush
}

std::size_t DeflateTransport::Receive(char* buffer, std::size_t size) {
  z_stream& z = streams_->in;
  for (;;) {
    if (input_at_ == input_.size()) {
      input_.resize(kChunk);
      input_.resize(inner_->Receive(input_.data(), input_.size()));
      input_at_ = 0;
    }
    z.next_in = reinterpret_cast<Bytef*>(input_.data() + input_at_);
    z.avail_in = static_cast<uInt>(input_.size() - input_at_);
    z.next_out = reinterpret_cast<Bytef*>(buffer);
    z.avail_out = static_cast<uInt>(size);
    const int result = inflate(&z, Z_SYNC_FLUSH);
    input_at_ = input_.size() - z.avail_in;
    if (result == Z_STREAM_END) throw Broken("ended");
    if (result != Z_OK && result != Z_BUF_ERROR) throw Broken("cannot be decompressed");
    const std::size_t made = size - z.avail_out;
    if (made > 0) return made;
  }
}

}  // namespace qm
