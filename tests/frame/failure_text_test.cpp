// What the user reads when something goes wrong: in the window, always
// Japanese, one sentence and the failure's own text behind 詳細; on stderr,
// Japanese under a Japanese locale and the failure's own text otherwise,
// behind the unchanged "quillmar: error N:" prefix.

#include <QAbstractButton>
#include <QMessageBox>
#include <QtTest>
#include <cerrno>
#include <filesystem>
#include <string>

#include "base/Failure.h"
#include "frame/ConsoleLanguage.h"
#include "frame/ErrorNumber.h"
#include "frame/FailureReason.h"
#include "frame/ReportFailure.h"
#include "frame/ReportSetAside.h"
#include "tests/frame/WindowTestSupport.h"

Q_DECLARE_METATYPE(qm::FailureKind)
Q_DECLARE_METATYPE(qm::Cause)

namespace qm {

class FailureTextTest : public QObject {
  Q_OBJECT

 private slots:
  void everyFailureSaysWhatToDo_data();
  void everyFailureSaysWhatToDo();
  void japaneseFromTheLocaleVariables_data();
  void japaneseFromTheLocaleVariables();
  void qtButtonsAreJapanese();
  void setAsideLineFollowsTheLanguage();
  void serverWordsShowTheirControlCharacters();
};

namespace {

// A detail as lower layers write them: a path with a percent sign, the
// errno's text, and a line break from a server's words.
const std::string kDetail = "destination folder /srv/100%1 files: No such file\nor directory";

void Row(const char* name, FailureKind kind, Cause cause, int error) {
  QTest::newRow(name) << kind << cause << error;
}

}  // namespace

// Which number and reason each failure gets is error_number_test's table;
// here, how the window and stderr show them: a file failure, a mail failure,
// one without a detail of its own.
void FailureTextTest::everyFailureSaysWhatToDo_data() {
  QTest::addColumn<FailureKind>("kind");
  QTest::addColumn<Cause>("cause");
  QTest::addColumn<int>("error");
  Row("destination missing", FailureKind::Destination, Cause::kSystem, ENOENT);
  Row("login refused", FailureKind::SignOn, Cause::kLoginRefused, 0);
  Row("scan cancelled", FailureKind::MailStore, Cause::kCancelled, 0);
}

void FailureTextTest::everyFailureSaysWhatToDo() {
  QFETCH(FailureKind, kind);
  QFETCH(Cause, cause);
  QFETCH(int, error);
  const Failure failure(kind, cause, kDetail, error);
  const QString detail = QString::fromStdString(kDetail);
  const int number = ErrorNumberOf(failure);
  const std::string prefix = "quillmar: error " + std::to_string(number) + ": ";
  // The reason in Japanese, as the translation file has it.
  const QString sentence =
      QCoreApplication::translate(kFailureReasonContext, FailureReasonSource(failure));
  QVERIFY2(sentence != QString::fromUtf8(FailureReasonSource(failure)), "no Japanese loaded");

  // The window speaks Japanese whatever the locale.
  const testing::QtEnvOverride english_locale("LC_ALL", "C.UTF-8");
  const std::unique_ptr<QMessageBox> box = FailureBox(failure);
  QCOMPARE(box->text(), QStringLiteral("エラー %1\n\n").arg(number) + sentence);
  QCOMPARE(box->detailedText(), detail);
  QCOMPARE(box->icon(), QMessageBox::Critical);

  QCOMPARE(QString::fromStdString(FailureLine(failure)),
           QString::fromStdString(prefix + "destination folder /srv/100%1 files: No such file "
                                           "or directory"));
  const testing::QtEnvOverride japanese_locale("LC_ALL", "ja_JP.UTF-8");
  QCOMPARE(QString::fromStdString(FailureLine(failure)),
           QString::fromStdString(prefix) + sentence +
               QStringLiteral("（詳細: destination folder /srv/100%1 files: No such file or "
                              "directory）"));
}

void FailureTextTest::japaneseFromTheLocaleVariables_data() {
  QTest::addColumn<QString>("lc_all");
  QTest::addColumn<QString>("lc_messages");
  QTest::addColumn<QString>("lang");
  QTest::addColumn<bool>("japanese");
  const auto row = [](const char* name, const char* all, const char* messages, const char* lang,
                      bool japanese) {
    QTest::newRow(name) << QString::fromLatin1(all) << QString::fromLatin1(messages)
                        << QString::fromLatin1(lang) << japanese;
  };
  row("nothing set", "", "", "", false);
  row("LANG ja", "", "", "ja_JP.UTF-8", true);
  row("LANG bare ja", "", "", "ja", true);
  row("LANG eucJP", "", "", "ja_JP.eucJP", true);
  row("LANG with modifier", "", "", "ja@cjknarrow", true);
  row("LANG English", "", "", "en_US.UTF-8", false);
  row("LANG C", "", "", "C.UTF-8", false);
  row("LANG other ja prefix", "", "", "jam_JM.UTF-8", false);
  row("LC_MESSAGES over LANG", "", "ja_JP.UTF-8", "en_US.UTF-8", true);
  row("LC_MESSAGES English over LANG ja", "", "C", "ja_JP.UTF-8", false);
  row("LC_ALL over both", "C.UTF-8", "ja_JP.UTF-8", "ja_JP.UTF-8", false);
  row("LC_ALL ja", "ja_JP.UTF-8", "C", "C", true);
  row("empty LC_ALL is unset", "", "ja_JP.UTF-8", "C", true);
}

void FailureTextTest::japaneseFromTheLocaleVariables() {
  QFETCH(QString, lc_all);
  QFETCH(QString, lc_messages);
  QFETCH(QString, lang);
  QFETCH(bool, japanese);
  const auto value = [](const QString& text) -> std::optional<std::string> {
    if (text.isEmpty()) return std::nullopt;
    return text.toStdString();
  };
  QCOMPARE(MessagesAreJapanese({value(lc_all), value(lc_messages), value(lang)}), japanese);
  // The process's own variables are read the same way; an empty one counts
  // as unset.
  const testing::QtEnvOverride all("LC_ALL", lc_all.toStdString());
  const testing::QtEnvOverride messages("LC_MESSAGES", lc_messages.toStdString());
  const testing::QtEnvOverride language("LANG", lang.toStdString());
  QCOMPARE(ConsoleLanguage::EnvironmentIsJapanese(), japanese);
}

// Qt's own texts come from the system's Qt translations.
void FailureTextTest::qtButtonsAreJapanese() {
  const std::unique_ptr<QMessageBox> box =
      FailureBox(Failure(FailureKind::Internal, Cause::kInternal, "detail"));
  QStringList captions;
  for (const QAbstractButton* button : box->findChildren<QAbstractButton*>()) {
    captions << button->text();
  }
  QVERIFY2(captions.contains(QStringLiteral("詳細を表示...")), qPrintable(captions.join('|')));
}

// The note of a settings file moved aside keeps its English form for
// scripts and reads as one Japanese sentence under a Japanese locale.
void FailureTextTest::setAsideLineFollowsTheLanguage() {
  const std::filesystem::path moved = "/home/me/.config/Vantrel/Quillmar.reg.unreadable-1\nx";
  QCOMPARE(QString::fromStdString(SetAsideLine(moved, ConsoleLanguage(false))),
           QStringLiteral("quillmar: the settings file could not be read; it was moved to "
                          "/home/me/.config/Vantrel/Quillmar.reg.unreadable-1 x and a new one "
                          "written"));
  QCOMPARE(QString::fromStdString(SetAsideLine(moved, ConsoleLanguage(true))),
           QStringLiteral("quillmar: 設定ファイルを読めなかったため、"
                          "/home/me/.config/Vantrel/Quillmar.reg.unreadable-1 x "
                          "に移して新しく作りました。"));
}

// A server's refusal that would recolour the terminal, retitle it and turn
// the text around reaches stderr and the box with those characters shown as
// escapes; Japanese words and the lines of the detail stay.
void FailureTextTest::serverWordsShowTheirControlCharacters() {
  const Failure failure(FailureKind::MailStore, Cause::kMailServer,
                        "the mail server refused SELECT: \x1b[31m拒否\x1b]0;owned\x07 "
                        "\xe2\x80\xae"
                        "exe.pdf\xff\nsecond line\r");
  const std::string shown =
      "the mail server refused SELECT: \\x1b[31m拒否\\x1b]0;owned\\x07 \\u202eexe.pdf\\xff";
  const testing::QtEnvOverride english_locale("LC_ALL", "C.UTF-8");
  QCOMPARE(QString::fromStdString(FailureLine(failure)),
           QString::fromStdString("quillmar: error 32002: " + shown + " second line "));
  QCOMPARE(FailureBox(failure)->detailedText(),
           QString::fromStdString(shown + "\nsecond line\\x0d"));
  const testing::QtEnvOverride japanese_locale("LC_ALL", "ja_JP.UTF-8");
  const std::string japanese = FailureLine(failure);
  QVERIFY2(japanese.find(shown) != std::string::npos, japanese.c_str());
  QVERIFY(japanese.find('\x1b') == std::string::npos);
}

}  // namespace qm

int main(int argc, char* argv[]) {
  return qm::testing::RunWindowTests<qm::FailureTextTest>(argc, argv);
}

#include "failure_text_test.moc"
