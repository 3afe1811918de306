#include "frame/ReportFailure.h"

#include <QCoreApplication>
#include <QMessageBox>
#include <QString>
#include <cstdio>

#include "frame/ConsoleLanguage.h"
#include "frame/ErrorNumber.h"
#include "frame/FailureReason.h"

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
  if (!language.japanese()) return failure.what();
  const QString reason = language.Translate(kFailureReasonContext, FailureReasonSource(failure));
  return language.Translate(kContext, QT_TRANSLATE_NOOP("qm::ReportFailure", "%1 (details: %2)"))
      .arg(reason, QString::fromUtf8(failure.what()))
      .toStdString();
}

}  // namespace

std::string FailureLine(const Failure& failure, const ConsoleLanguage& language) {
  // The prefix stays English in every language: scripts look for it.
  return "quillmar: error " + std::to_string(ErrorNumberOf(failure)) + ": " +
         OneLine(Description(failure, language));
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
  box->setDetailedText(QString::fromUtf8(failure.what()));
  return box;
}

void ReportFailure(const Failure& failure, bool show_box) {
  std::fprintf(stderr, "%s\n", FailureLine(failure).c_str());
  std::fflush(stderr);
  if (!show_box) return;
  FailureBox(failure)->exec();
}

}  // namespace qm
