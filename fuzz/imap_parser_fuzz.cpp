// Plays arbitrary bytes as a mail server's side of a connection: first to the
// response parser alone, then to an IMAP store that asks for compression
// (so that a stream the bytes agree to is inflated), lists the mailbox,
// fetches every message ahead and marks them read. Any failure must be a Failure of the mail
// store; a streamed message must never outlive its descriptor in the scratch
// folder; and nothing parsed may exceed the parser's bounds.
//
// The first input byte picks the receive piece size (low six bits, plus one)
// and whether the parser streams BODY[] literals to a sink (bit 0x40).

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "base/Failure.h"
#include "base/UniqueFd.h"
#include "imap/ImapParser.h"
#include "imap/ImapStore.h"

namespace {

constexpr std::size_t kMessagesOpened = 8;  // keeps each run short

void Require(bool condition, const char* what) {
  if (condition) return;
  std::fprintf(stderr, "violated: %s\n", what);
  std::abort();
}

class PlayedTransport : public qm::ImapTransport {
 public:
  PlayedTransport(std::string_view bytes, std::size_t piece) : bytes_(bytes), piece_(piece) {}
  void Send(std::string_view) override {}
  std::size_t Receive(char* buffer, std::size_t size) override {
    if (bytes_.empty()) {
      throw qm::Failure(qm::FailureKind::MailStore, qm::Cause::kMailServer, "end of stream");
    }
    const std::size_t n = std::min({size, piece_, bytes_.size()});
    std::copy_n(bytes_.data(), n, buffer);
    bytes_.remove_prefix(n);
    return n;
  }

 private:
  std::string_view bytes_;
  std::size_t piece_;
};

// Counts the bytes of each streamed literal, in order.
class CountingSink : public qm::LiteralSink {
 public:
  void Begin() override { sizes.push_back(0); }
  void Write(std::string_view bytes) override { sizes.back() += bytes.size(); }
  std::deque<std::uint64_t> sizes;
};

void CheckValue(const qm::ImapValue& value, CountingSink& sink) {
  const std::size_t bound = value.kind == qm::ImapValue::Kind::kRaw ? qm::ImapParser::kResponseLimit
                                                                    : qm::ImapParser::kLiteralLimit;
  Require(value.text.size() <= bound, "value within its bound");
  if (value.kind == qm::ImapValue::Kind::kStreamed) {
    Require(!sink.sizes.empty() && value.number == sink.sizes.front(),
            "streamed size matches the bytes written");
    sink.sizes.pop_front();
  }
  for (const qm::ImapValue& item : value.items) CheckValue(item, sink);
}

void ParseAll(std::string_view stream, std::size_t piece, bool streaming) {
  PlayedTransport transport(stream, piece);
  qm::ImapParser parser(transport);
  CountingSink sink;
  if (streaming) parser.StreamFetchItem("BODY[]", &sink);
  parser.KeepRawFetchItem("BODYSTRUCTURE");
  try {
    for (;;) {
      const qm::ImapResponse response = parser.Next();
      Require(response.text.find_first_of(std::string_view("\r\n\0", 3)) == std::string::npos,
              "status text is one line");
      Require(response.kind != qm::ImapResponse::Kind::kTagged || !response.tag.empty(),
              "a tagged response has a tag");
      for (const qm::ImapValue& value : response.data) CheckValue(value, sink);
      for (const qm::ImapFetchItem& item : response.fetch) {
        Require(!item.name.empty(), "attribute names are not empty");
        CheckValue(item.value, sink);
      }
      Require(sink.sizes.empty(), "every streamed literal is in the response");
    }
  } catch (const qm::Failure& failure) {
    Require(failure.kind() == qm::FailureKind::MailStore, "parser failures are mail failures");
  }
}

// One scratch folder for the whole run, removed when the process exits.
class ScratchFolder {
 public:
  ScratchFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "imap-fuzz-XXXXXX").string();
    Require(::mkdtemp(pattern.data()) != nullptr, "scratch folder created");
    path_ = pattern;
    fd_.Reset(::open(pattern.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    Require(fd_.valid(), "scratch folder opened");
  }
  ~ScratchFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  const std::filesystem::path& path() const { return path_; }
  int fd() const { return fd_.get(); }

 private:
  std::filesystem::path path_;
  qm::UniqueFd fd_;
};

const ScratchFolder& Scratch() {
  static const ScratchFolder folder;
  return folder;
}

void RunStore(std::string_view stream, std::size_t piece) {
  const ScratchFolder& scratch = Scratch();
  try {
    qm::ImapStore store(std::make_unique<PlayedTransport>(stream, piece), "INBOX");
    const std::size_t count = store.List();
    std::vector<std::size_t> all;
    for (std::size_t i = 0; i < count && i < kMessagesOpened; ++i) all.push_back(i);
    store.WillOpen(all);  // the fetches go out ahead, as in a scan
    for (std::size_t i = 0; i < count && i < kMessagesOpened; ++i) {
      store.Headers(i);
      store.IsRead(i);
      const qm::UniqueFd fd = store.OpenMessage(i, scratch.fd());
      Require(std::filesystem::is_empty(scratch.path()),
              "no message file left in the scratch folder");
      if (fd.valid()) Require(::lseek(fd.get(), 0, SEEK_CUR) == 0, "message file rewound");
      store.QueueReadMark(i);
    }
    store.CommitReadMarks();
  } catch (const qm::Failure& failure) {
    Require(failure.kind() == qm::FailureKind::MailStore, "store failures are mail failures");
  }
  Require(std::filesystem::is_empty(scratch.path()), "no message file left after a failure");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const std::size_t piece = 1 + (data[0] & 0x3f);
  const bool streaming = (data[0] & 0x40) != 0;
  const std::string_view stream(reinterpret_cast<const char*>(data) + 1, size - 1);
  ParseAll(stream, piece, streaming);
  RunStore(stream, piece);
  return 0;
}
