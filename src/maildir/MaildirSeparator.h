#pragma once
// Which separator goes before the info ("2,") of a name this program writes
// when it marks a message seen. One source per platform, chosen in CMake:
// POSIX file systems take ':', the usual one; Windows refuses ':' in every
// file name (it names a stream there), so on Windows it is '!', the choice of
// Maildir tools on such systems. Names are read with either separator on
// every platform.

namespace qm {

// `own` is the separator the name has (0 when it carries no info);
// `folder_usual` the one the folder's names use.
char SeparatorForSeenName(char own, char folder_usual);

}  // namespace qm
