#include "save/EndedRun.h"

#include <cctype>
#include <charconv>
#include <cstdint>
#include <optional>
#include <utility>

#include "save/ThisRun.h"

namespace qm {
namespace {

constexpr std::size_t kTokenLength = 8;

bool IsHexToken(std::string_view text) {
  if (text.size() != kTokenLength) return false;
  for (const char c : text) {
    if (!std::isxdigit(static_cast<unsigned char>(c)) ||
        std::isupper(static_cast<unsigned char>(c))) {
      return false;
    }
  }
  return true;
}

// The pid at the start of `text` when a '-' follows it; consumed with it.
std::optional<std::int64_t> TakePid(std::string_view& text) {
  std::int64_t pid = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), pid);
  if (error != std::errc() || end == text.data() || end == text.data() + text.size() ||
      *end != '-' || pid <= 0) {
    return std::nullopt;
  }
  text.remove_prefix(static_cast<std::size_t>(end - text.data()) + 1);
  return pid;
}

}  // namespace

// FNV-1a, folded to 32 bits: a stable token, not a secret.
std::string HostToken(std::string_view host_name) {
  std::uint64_t hash = 14695981039346656037ull;
  for (const char c : host_name) {
    hash ^= static_cast<unsigned char>(c);
    hash *= 1099511628211ull;
  }
  const auto folded = static_cast<std::uint32_t>(hash ^ (hash >> 32));
  char text[kTokenLength + 1];
  std::to_chars_result result = std::to_chars(text, text + kTokenLength, folded, 16);
  std::string token(text, result.ptr);
  return std::string(kTokenLength - token.size(), '0') + token;
}

// The boot id is random: its first hex digits serve as they are.
std::string BootToken(std::string_view boot_id) {
  std::string token;
  for (const char c : boot_id) {
    if (token.size() == kTokenLength) break;
    if (std::isxdigit(static_cast<unsigned char>(c))) {
      token += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
  }
  return token + std::string(kTokenLength - token.size(), '0');
}

RunNames RunNames::OfThisRun(std::string prefix) {
  return RunNames(std::move(prefix), HostToken(ThisMachine()), BootToken(ThisBoot()),
                  ThisProcessId());
}

RunNames::RunNames(std::string prefix, std::string host, std::string boot, std::int64_t pid)
    : prefix_(std::move(prefix)), host_(std::move(host)), boot_(std::move(boot)), pid_(pid) {}

std::string RunNames::Prefix() const {
  return prefix_ + host_ + "." + boot_ + "-" + std::to_string(pid_) + "-";
}

bool RunNames::MadeByEndedRun(std::string_view name) const {
  if (!name.starts_with(prefix_)) return false;
  name.remove_prefix(prefix_.size());
  std::string_view older = name;
  if (const std::optional<std::int64_t> pid = TakePid(older)) return ProcessIsGone(*pid);
  const std::size_t dot = name.find('.');
  const std::size_t dash = name.find('-');
  if (dot == std::string_view::npos || dash == std::string_view::npos || dash < dot) return false;
  const std::string_view host = name.substr(0, dot);
  const std::string_view boot = name.substr(dot + 1, dash - dot - 1);
  if (!IsHexToken(host) || !IsHexToken(boot) || host != host_) return false;
  name.remove_prefix(dash + 1);
  const std::optional<std::int64_t> pid = TakePid(name);
  if (!pid) return false;
  // This process has made nothing yet when it looks for leftovers: a name
  // of its own pid in this boot was left by an earlier process of that pid.
  return boot != boot_ || *pid == pid_ || ProcessIsGone(*pid);
}

}  // namespace qm
