#pragma once
// Moves the attachment files of the current message into the destination
// folder, and the text routine it finds file names with.

#include <cstdint>
#include <string>
#include <string_view>

namespace qm {

class MMes;

// Copies every attachment file of the current message of `messages` into
// Settings.Path (never replacing a file there), deletes each source file and
// returns how many were saved. Marks the message read before the first copy;
// a message without attachments is left untouched.
std::int64_t SaveAttachments(MMes& messages);

// `text` (UTF-8) with its characters in reverse order. Invalid bytes are kept,
// each as a character of its own.
std::string ReverseText(std::string_view text);

}  // namespace qm
