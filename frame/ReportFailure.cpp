#include "frame/ReportFailure.h"

#include <QMessageBox>
#include <QString>
#include <cstdio>

#include "frame/ErrorNumber.h"

namespace qm {

std::string FailureLine(const Failure& failure) {
  std::string description = failure.what();
  // One line whatever the description holds: cron mails it as it is.
  for (char& c : description) {
    if (c == '\n' || c == '\r') c = ' ';
  }
  return "quillmar: error " + std::to_string(ErrorNumberOf(failure)) + ": " + description;
}

void ReportFailure(const Failure& failure, bool show_box) {
  std::fprintf(stderr, "%s\n", FailureLine(failure).c_str());
  std::fflush(stderr);
  if (!show_box) return;
  const QString text = QStringLiteral("エラー %1\n\n%2")
                           .arg(ErrorNumberOf(failure))
                           .arg(QString::fromUtf8(failure.what()));
  QMessageBox::critical(nullptr, QStringLiteral("Quillmar"), text);
}

}  // namespace qm
