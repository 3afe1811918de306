#include "mime/MboxFromLine.h"

namespace qm {

std::size_t MboxFromLineLength(std::string_view start) {
  if (!start.starts_with("From ")) return 0;
  const std::size_t end = start.substr(0, kMboxFromLineLimit).find('\n');
  return end == std::string_view::npos ? 0 : end + 1;
}

}  // namespace qm
