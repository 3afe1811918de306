#include "maildir/MaildirSeparator.h"

namespace qm {

// A name keeps its own form; one without info follows the folder.
char SeparatorForSeenName(char own, char folder_usual) { return own != 0 ? own : folder_usual; }

}  // namespace qm
