#pragma once
// Reads a message from its start a line at a time, a block at a time, keeping
// at most a given number of bytes of each line, so that a line of any length
// costs no more. The message is a file, or bytes already in memory.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace qm {

class LineReader {
 public:
  LineReader(int fd, std::size_t kept_per_line) : fd_(fd), kept_per_line_(kept_per_line) {}
  LineReader(std::string_view bytes, std::size_t kept_per_line)
      : memory_(bytes), kept_per_line_(kept_per_line) {}

  // The next line, its line feed left off and cut to the bytes kept, into
  // `line`; false at the end. Throws UnreadableMessage when a read fails.
  bool Next(std::string& line);

  // Where the next line starts in the file.
  std::int64_t offset() const { return offset_; }

 private:
  bool Fill();

  int fd_ = -1;              // the file, or
  std::string_view memory_;  // the bytes when fd_ is -1
  std::size_t kept_per_line_;
  std::array<char, 64 * 1024> buffer_;
  std::size_t at_ = 0;
  std::size_t size_ = 0;
  std::int64_t offset_ = 0;
};

// `line` without the carriage return of a CRLF line break.
inline std::string_view WithoutCarriageReturn(std::string_view line) {
  return line.ends_with('\r') ? line.substr(0, line.size() - 1) : line;
}

}  // namespace qm
