#pragma once
// Moves the attachment files of the current message into the destination
// folder, and the text routine it finds file names with.

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace qm {

class DestinationFolder;
class MMes;

// Told the name of each file before it is saved, and "" once the last one is.
using FileStarted = std::function<void(const std::string& name)>;

// Moves every attachment file of the current message of `messages` into
// `destination` (never replacing a file there) and returns how many were
// saved. Marks the message read before the first file; a message without
// attachments is left untouched.
std::int64_t SaveAttachments(MMes& messages, DestinationFolder& destination,
                             const FileStarted& started = {});

// `text` (UTF-8) with its characters in reverse order. Invalid bytes are kept,
// each as a character of its own.
std::string ReverseText(std::string_view text);

}  // namespace qm
