#include "frame/QtPlatform.h"

#include <stdlib.h>

#include "base/EnvironmentVariable.h"

// Choosing the Qt platform on Windows: the desktop is always there. Only an
// explicit QT_QPA_PLATFORM (the tests' offscreen platform) changes that.

namespace qm {

DisplayEnvironment ReadDisplayEnvironment() {
  return {NonEmptyVariable("QT_QPA_PLATFORM"), {}, {}};
}

PlatformChoice ChooseQtPlatform(const DisplayEnvironment& environment) {
  if (environment.qt_platform) {
    return {std::nullopt, !IsHeadlessPlatform(*environment.qt_platform)};
  }
  return {std::nullopt, true};
}

void ApplyQtPlatform(const PlatformChoice& choice) {
  if (choice.platform) ::_putenv_s("QT_QPA_PLATFORM", choice.platform->c_str());
}

// Qt needs no runtime folder on Windows.
void PrepareRuntimeFolder() {}

}  // namespace qm
