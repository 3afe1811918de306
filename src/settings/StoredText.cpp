#include "settings/StoredText.h"

#include <algorithm>
#include <cstdint>

#include "settings/AnsiText.h"

namespace qm {

Bytes StoredText(std::string_view utf8) {
  const std::string ansi = ToAnsi(utf8);
  Bytes data(ansi.begin(), ansi.end());
  data.push_back(0);
  return data;
}

std::string TextOfStored(const Bytes& data) {
  const auto end = std::find(data.begin(), data.end(), std::uint8_t{0});
  return FromStoredText(std::string_view(reinterpret_cast<const char*>(data.data()),
                                         static_cast<std::size_t>(end - data.begin())));
}

}  // namespace qm
