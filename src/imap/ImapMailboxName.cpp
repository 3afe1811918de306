#include "imap/ImapMailboxName.h"

#include <cstdint>
#include <vector>

#include "base/Failure.h"
#include "base/Utf8Character.h"

namespace qm {
namespace {

constexpr char kBase64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+,";

bool IsDirect(unsigned char c) { return c >= 0x20 && c <= 0x7e && c != '&'; }

// Decodes one code point of valid UTF-8 starting at `at`, advancing `at`.
std::uint32_t NextCodePoint(std::string_view utf8, std::size_t& at) {
  const auto lead = static_cast<unsigned char>(utf8[at++]);
  int extra = lead >= 0xf0 ? 3 : lead >= 0xe0 ? 2 : lead >= 0xc0 ? 1 : 0;
  std::uint32_t code = extra == 3 ? lead & 0x07 : extra == 2 ? lead & 0x0f : lead & 0x1f;
  if (extra == 0) code = lead;
  for (; extra > 0; --extra) code = (code << 6) | (static_cast<unsigned char>(utf8[at++]) & 0x3f);
  return code;
}

void AppendUtf16(std::uint32_t code, std::vector<std::uint16_t>& units) {
  if (code < 0x10000) {
    units.push_back(static_cast<std::uint16_t>(code));
    return;
  }
  code -= 0x10000;
  units.push_back(static_cast<std::uint16_t>(0xd800 | (code >> 10)));
  units.push_back(static_cast<std::uint16_t>(0xdc00 | (code & 0x3ff)));
}

// "&" + modified base64 of the UTF-16BE units, without padding, + "-".
std::string ShiftedRun(const std::vector<std::uint16_t>& units) {
  std::vector<unsigned char> bytes;
  for (const std::uint16_t unit : units) {
    bytes.push_back(static_cast<unsigned char>(unit >> 8));
    bytes.push_back(static_cast<unsigned char>(unit & 0xff));
  }
  std::string out = "&";
  std::uint32_t bits = 0;
  int count = 0;
  for (const unsigned char byte : bytes) {
    bits = ((bits << 8) | byte) & 0xffff;  // at most 13 bits are pending
    count += 8;
    while (count >= 6) {
      count -= 6;
      out += kBase64[(bits >> count) & 0x3f];
    }
  }
  if (count > 0) out += kBase64[(bits << (6 - count)) & 0x3f];
  return out + '-';
}

}  // namespace

std::string EncodeMailboxName(std::string_view utf8) {
  if (!IsValidUtf8(utf8)) {
    throw Failure(FailureKind::MailStore, Cause::kMailServer,
                  "the mailbox name is not valid UTF-8");
  }
  std::string out;
  std::vector<std::uint16_t> run;  // characters waiting to be written shifted
  for (std::size_t at = 0; at < utf8.size();) {
    const auto c = static_cast<unsigned char>(utf8[at]);
    if (IsDirect(c) || c == '&') {
      if (!run.empty()) out += ShiftedRun(run);
      run.clear();
      out += c == '&' ? std::string("&-") : std::string(1, static_cast<char>(c));
      ++at;
    } else {
      AppendUtf16(NextCodePoint(utf8, at), run);
    }
  }
  if (!run.empty()) out += ShiftedRun(run);
  return out;
}

std::string QuoteImapString(std::string_view text) {
  std::string quoted = "\"";
  for (const char c : text) {
    if (c == '"' || c == '\\') quoted += '\\';
    quoted += c;
  }
  return quoted + '"';
}

}  // namespace qm
