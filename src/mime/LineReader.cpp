#include "mime/LineReader.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "base/FileSystem.h"
#include "store/UnreadableMessage.h"

namespace qm {

bool LineReader::Next(std::string& line) {
  line.clear();
  bool any = false;
  for (;;) {
    if (at_ == size_ && !Fill()) return any;
    any = true;
    const std::string_view rest(buffer_.data() + at_, size_ - at_);
    const std::size_t feed = rest.find('\n');
    const std::string_view piece = rest.substr(0, feed);
    line.append(piece.substr(0, kept_per_line_ - std::min(line.size(), kept_per_line_)));
    offset_ += static_cast<std::int64_t>(piece.size());
    at_ += piece.size();
    if (feed != std::string_view::npos) {
      ++at_;
      ++offset_;
      return true;
    }
  }
}

bool LineReader::Fill() {
  if (fd_ < 0) {
    const std::string_view rest = memory_.substr(std::min<std::size_t>(offset_, memory_.size()));
    size_ = std::min(rest.size(), buffer_.size());
    if (size_ > 0) std::memcpy(buffer_.data(), rest.data(), size_);  // empty may be null
    at_ = 0;
    return size_ > 0;
  }
  const std::int64_t got =
      fs::ReadAt(fd_, buffer_.data(), buffer_.size(), static_cast<std::uint64_t>(offset_));
  if (got < 0) throw UnreadableMessage("", std::strerror(errno));
  at_ = 0;
  size_ = static_cast<std::size_t>(got);
  return got > 0;
}

}  // namespace qm
