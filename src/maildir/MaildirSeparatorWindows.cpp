#include "maildir/MaildirSeparator.h"

namespace qm {

// Always '!': a name with ':' (listed from a file system that shows one) could
// not be written back as it is.
char SeparatorForSeenName(char /*own*/, char /*folder_usual*/) { return '!'; }

}  // namespace qm
