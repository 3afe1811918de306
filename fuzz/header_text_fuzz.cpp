// Feeds arbitrary bytes to the header decoders, the file-name sanitiser and
// the escaping of control characters. Every decoded text must be valid UTF-8,
// a safe name must be a single path component of at most 255 bytes, and an
// escaped text must hold no control or bidi character.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "base/Utf8Character.h"
#include "text/Charset.h"
#include "text/EscapedControls.h"
#include "text/HeaderText.h"
#include "text/SafeName.h"

namespace {

void Require(bool condition, const char* what) {
  if (condition) return;
  std::fprintf(stderr, "violated: %s\n", what);
  std::abort();
}

void CheckSafeName(std::string_view decoded) {
  const std::string name = qm::MakeSafeFileName(decoded, "fallback.bin");
  Require(qm::IsValidUtf8(name), "safe name is UTF-8");
  Require(name.find('/') == std::string::npos, "safe name has no '/'");
  Require(name.find('\\') == std::string::npos, "safe name has no '\\'");
  Require(name.find('\0') == std::string::npos, "safe name has no NUL");
  Require(name.size() <= 255, "safe name fits 255 bytes");
  Require(!name.empty() && name != "." && name != "..", "safe name is a file name");
}

void CheckEscaped(std::string_view text) {
  const std::string shown = qm::EscapeControls(text);
  Require(qm::IsValidUtf8(shown), "escaped text is UTF-8");
  for (std::size_t i = 0; i < shown.size(); ++i) {
    const auto c = static_cast<unsigned char>(shown[i]);
    Require(c >= 0x20 && c != 0x7F, "escaped text has no C0 control or DEL");
    const auto next = i + 1 < shown.size() ? static_cast<unsigned char>(shown[i + 1]) : 0;
    Require(!(c == 0xC2 && next >= 0x80 && next <= 0x9F), "escaped text has no C1 control");
  }
  for (const char* bidi :
       {"\u202A", "\u202B", "\u202C", "\u202D", "\u202E", "\u2066", "\u2067", "\u2068", "\u2069"}) {
    Require(shown.find(bidi) == std::string::npos, "escaped text has no bidi control");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);

  Require(qm::IsValidUtf8(qm::DecodeUnstructured(input)), "subject is UTF-8");

  const qm::Mailbox mailbox = qm::ParseFirstMailbox(input);
  Require(qm::IsValidUtf8(mailbox.name), "sender name is UTF-8");
  Require(qm::IsValidUtf8(mailbox.address), "sender address is UTF-8");
  const std::string shown = qm::SenderDisplayName(mailbox);
  Require(shown == mailbox.name || shown == mailbox.address, "sender shown by name or address");

  const auto filename = qm::DecodeParameter(input, "filename");
  if (filename) {
    Require(qm::IsValidUtf8(*filename), "file name is UTF-8");
    CheckSafeName(*filename);
  }
  CheckSafeName(input);
  CheckEscaped(input);

  // First line as a charset label, the rest as text in it.
  const size_t line_end = input.find('\n');
  if (line_end != std::string_view::npos && line_end <= 64) {
    const std::string text =
        qm::ConvertToUtf8(input.substr(line_end + 1), input.substr(0, line_end));
    Require(qm::IsValidUtf8(text), "converted text is UTF-8");
  }
  return 0;
}
