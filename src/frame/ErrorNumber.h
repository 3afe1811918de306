#pragma once
// The error numbers the user sees ("quillmar: error N: ..."), chosen here,
// where failures are reported, from what the failure says happened: the
// classic run-time error numbers for files and the mail control's numbers
// for the mailbox, as the README lists them.

#include "base/Failure.h"

namespace qm {

int ErrorNumberOf(const Failure& failure);

}  // namespace qm
