#pragma once
// The report of a settings file that could not be read and was moved aside
// before a new one was written: a line on stderr always, and a message box
// when someone can see it.

#include <filesystem>
#include <memory>
#include <string>

#include "settings/Registry.h"

namespace qm {

class ConsoleLanguage;

// "quillmar: the settings file could not be read; it was moved to PATH and a
// new one written", one line, in the console's language.
std::string SetAsideLine(const std::filesystem::path& moved_to, const ConsoleLanguage& language);

void ReportSetAside(const std::filesystem::path& moved_to, bool show_box);

// The platform's registry for the window's writes: a settings file it moves
// aside is reported, with the box when there is a display.
std::unique_ptr<Registry> OpenReportingRegistry();

}  // namespace qm
