#include "frame/ReportFailure.h"

#include <QCoreApplication>
#include <QMessageBox>
#include <QString>
#include <cstdio>
#include <string_view>

#include "frame/ConsoleLanguage.h"
#include "frame/ErrorNumber.h"
#include "frame/FailureReason.h"
#include "frame/UnattendedRunLog.h"
#include "text/EscapedControls.h"

namespace qm {
namespace {

constexpr char kContext[] = "qm::ReportFailure";

// One line whatever the text holds: cron mails it as it is.
std::string OneLine(std::string text) {
  for (char& c : text) {
    if (c == '\n' || c == '\r') c = ' ';
  }
  return text;
}

std::string Description(const Failure& failure, const ConsoleLanguage& language) {
  // What a terminal would act on is shown, not passed on.
  const std::string detail = EscapeControls(OneLine(failure.what()));
  if (!language.japanese()) return detail;
  const QString reason = language.Translate(kFailureReasonContext, FailureReasonSource(failure));
  return language.Translate(kContext, QT_TRANSLATE_NOOP("qm::ReportFailure", "%1 (details: %2)"))
      .arg(reason, QString::fromStdString(detail))
      .toStdString();
}

}  // namespace

QString FailureDetail(const Failure& failure) {
  const std::string_view text = failure.what();
  std::string shown;
  for (std::size_t start = 0;;) {
    const std::size_t end = text.find('\n', start);
    shown += EscapeControls(text.substr(start, end == std::string_view::npos ? end : end - start));
    if (end == std::string_view::npos) break;
    shown += '\n';
    start = end + 1;
  }
  return QString::fromStdString(shown);
}

std::string FailureLine(const Failure& failure, const ConsoleLanguage& language) {
  // The prefix stays English in every language: scripts look for it.
  return "quillmar: error " + std::to_string(ErrorNumberOf(failure)) + ": " +
         Description(failure, language);
}

std::string FailureLine(const Failure& failure) {
  const ConsoleLanguage language(ConsoleLanguage::EnvironmentIsJapanese());
  return FailureLine(failure, language);
}

std::unique_ptr<QMessageBox> FailureBox(const Failure& failure) {
  auto box = std::make_unique<QMessageBox>(QMessageBox::Critical, QStringLiteral("Quillmar"),
                                           QString(), QMessageBox::Ok);
  box->setObjectName(QStringLiteral("FailureBox"));
  const QString number =
      QCoreApplication::translate("qm::ReportFailure", "Error %1").arg(ErrorNumberOf(failure));
  const QString reason =
      QCoreApplication::translate(kFailureReasonContext, FailureReasonSource(failure));
  box->setText(number + QStringLiteral("\n\n") + reason);
  box->setDetailedText(FailureDetail(failure));
  return box;
}

void ReportFailure(const Failure& failure, bool show_box) {
  std::fprintf(stderr, "%s\n", FailureLine(failure).c_str());
  std::fflush(stderr);
  LogUnattendedFailure(failure);
  if (!show_box) return;
  FailureBox(failure)->exec();
}

}  // namespace qm
