#pragma once
// The one report of a failure nobody handled: a line on stderr always, and a
// message box when someone can see it.

#include "frame/settings/Failure.h"

namespace qm {

// "quillmar: error <number>: <description>", UTF-8, one line.
std::string FailureLine(const Failure& failure);

void ReportFailure(const Failure& failure, bool show_box);

}  // namespace qm
