#pragma once
// The one report of a failure nobody handled: a line on stderr always (also
// in the run log of an unattended run), and a message box when someone can
// see it. Both say in one sentence what
// happened and what to do (FailureReason); the failure's own technical text
// is the detail.

#include <memory>
#include <string>

#include "base/Failure.h"

class QMessageBox;
class QString;

namespace qm {

class ConsoleLanguage;

// The failure's own text as the user may see it: a server's words, a name
// or a path in it come from outside, so each of its lines shows control
// characters as escapes (EscapeControls).
QString FailureDetail(const Failure& failure);

// "quillmar: error <number>: <description>", UTF-8, one line. In English the
// description is the failure's own text; in Japanese, the reason followed by
// that text as the detail.
std::string FailureLine(const Failure& failure, const ConsoleLanguage& language);

// The same in the language of the process's locale.
std::string FailureLine(const Failure& failure);

// The box of the failure, in the window's language: its number and the
// reason, the failure's own text behind the details button.
std::unique_ptr<QMessageBox> FailureBox(const Failure& failure);

void ReportFailure(const Failure& failure, bool show_box);

}  // namespace qm
