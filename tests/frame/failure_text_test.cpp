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
#include "frame/ReportFailure.h"
#include "frame/ReportSetAside.h"
#include "tests/frame/WindowTestSupport.h"
#include "tests/support/EnvOverride.h"

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

void Row(const char* name, FailureKind kind, Cause cause, int error, int number,
         const char* sentence) {
  QTest::newRow(name) << kind << cause << error << number << QString::fromUtf8(sentence);
}

}  // namespace

void FailureTextTest::everyFailureSaysWhatToDo_data() {
  QTest::addColumn<FailureKind>("kind");
  QTest::addColumn<Cause>("cause");
  QTest::addColumn<int>("error");
  QTest::addColumn<int>("number");
  QTest::addColumn<QString>("sentence");
  using K = FailureKind;
  using C = Cause;
  Row("destination missing", K::Destination, C::kSystem, ENOENT, 76,
      "保存先のフォルダーが指定されていないか、見つかりません。"
      "「ﾌｧｲﾙの保存先」に既存のフォルダーを指定してください。");
  Row("destination not a folder", K::Destination, C::kSystem, ENOTDIR, 76,
      "保存先のフォルダーが指定されていないか、見つかりません。"
      "「ﾌｧｲﾙの保存先」に既存のフォルダーを指定してください。");
  Row("destination read-only", K::Destination, C::kSystem, EROFS, 70,
      "保存先のフォルダーに書き込めません。書き込みできるフォルダーを指定してください。");
  Row("destination full", K::Destination, C::kSystem, ENOSPC, 61,
      "保存先のディスクがいっぱいです。空き容量を確保してから、もう一度お試しください。");
  Row("destination other", K::Destination, C::kSystem, EIO, 75,
      "保存先のフォルダーを使用できません。フォルダーを確認してから、もう一度お試しください。");
  Row("write disk full", K::FileWrite, C::kSystem, ENOSPC, 61,
      "ディスクがいっぱいのため、添付ファイルを保存できませんでした。"
      "空き容量を確保してから、もう一度お試しください。");
  Row("write quota", K::FileWrite, C::kSystem, EDQUOT, 75,
      "ディスクがいっぱいのため、添付ファイルを保存できませんでした。"
      "空き容量を確保してから、もう一度お試しください。");
  Row("write denied", K::FileWrite, C::kSystem, EACCES, 70,
      "アクセスが拒否されたため、添付ファイルを保存できませんでした。"
      "保存先のフォルダーの権限を確認してください。");
  Row("write folder gone", K::FileWrite, C::kSystem, ENOENT, 76,
      "保存中に保存先のフォルダーが移動または削除されました。"
      "フォルダーを確認してから、もう一度お試しください。");
  Row("write other", K::FileWrite, C::kSystem, EIO, 75,
      "添付ファイルを保存できませんでした。ディスクと保存先のフォルダーを確認してください。");
  Row("message read error", K::MailStore, C::kSystem, EIO, 75,
      "メールボックスを読み込めませんでした。しばらくしてから、もう一度お試しください。");
  Row("internal system call", K::Internal, C::kSystem, EMFILE, 75,
      "プログラム内部でエラーが発生しました。お手数ですが、詳細を添えて管理者にお知らせください。");
  Row("internal", K::Internal, C::kInternal, 0, 51,
      "プログラム内部でエラーが発生しました。お手数ですが、詳細を添えて管理者にお知らせください。");
  Row("no display", K::NoDisplay, C::kNoDisplay, 0, 429,
      "ウィンドウを表示する画面がありません。画面なしで受信するには、-a "
      "を付けて起動してください。");
  Row("sign-on cancelled", K::SignOn, C::kCancelled, 0, 32001,
      "メールボックスの設定が取り消されたため、メールを受信しませんでした。");
  Row("scan cancelled", K::MailStore, C::kCancelled, 0, 32001, "受信を取り消しました。");
  Row("login refused", K::SignOn, C::kLoginRefused, 0, 32003,
      "メールサーバーがユーザー名またはパスワードを受け付けませんでした。"
      "ユーザー名とパスワードを確認してください。");
  Row("server unreachable", K::SignOn, C::kServerUnreachable, 0, 32003,
      "メールサーバーに接続できません。サーバー名とポートを確認してください。");
  Row("server not trusted", K::SignOn, C::kServerNotTrusted, 0, 32003,
      "メールサーバーの安全性を確認できません。サーバー名、暗号化の方式、CAファイルを確認してくださ"
      "い。");
  Row("no mailbox", K::SignOn, C::kNoMailbox, 0, 32023,
      "メールボックスが設定されていないか、設定に誤りがあります。"
      "メールボックスの設定を確認してください。");
  Row("mail server", K::MailStore, C::kMailServer, 0, 32002,
      "受信中にメールサーバーまたはメールボックスでエラーが発生しました。"
      "しばらくしてから、もう一度お試しください。");
  Row("unreadable messages", K::Unreadable, C::kUnreadableMessage, 0, 32017,
      "読み込めないメールがありました。"
      "それらのメールは未読のまま残してあり、次回もう一度処理します。");
  Row("sign-in required", K::SignOn, C::kSignInRequired, 0, 32003,
      "このメールボックスにはブラウザーでのサインインが必要です。"
      "画面のある環境でプログラムを起動して、サインインしてください。");
  Row("sign-in refused", K::SignOn, C::kSignInRefused, 0, 32003,
      "保存されているサインイン情報がメールサービスで無効になっています。"
      "もう一度サインインしてください。");
  Row("password command", K::SignOn, C::kPasswordCommand, 0, 32003,
      "パスワードを取得するコマンドが失敗したか、時間内に終わりませんでした。"
      "設定のパスワードコマンドを確認してください。");
}

void FailureTextTest::everyFailureSaysWhatToDo() {
  QFETCH(FailureKind, kind);
  QFETCH(Cause, cause);
  QFETCH(int, error);
  QFETCH(int, number);
  QFETCH(QString, sentence);
  const Failure failure(kind, cause, kDetail, error);
  const QString detail = QString::fromStdString(kDetail);
  const std::string prefix = "quillmar: error " + std::to_string(number) + ": ";

  // The window speaks Japanese whatever the locale.
  const testing::EnvOverride english_locale("LC_ALL", "C.UTF-8");
  const std::unique_ptr<QMessageBox> box = FailureBox(failure);
  QCOMPARE(box->text(), QStringLiteral("エラー %1\n\n").arg(number) + sentence);
  QCOMPARE(box->detailedText(), detail);
  QCOMPARE(box->icon(), QMessageBox::Critical);

  QCOMPARE(QString::fromStdString(FailureLine(failure)),
           QString::fromStdString(prefix + "destination folder /srv/100%1 files: No such file "
                                           "or directory"));
  const testing::EnvOverride japanese_locale("LC_ALL", "ja_JP.UTF-8");
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
  const testing::EnvOverride all("LC_ALL", lc_all.toStdString());
  const testing::EnvOverride messages("LC_MESSAGES", lc_messages.toStdString());
  const testing::EnvOverride language("LANG", lang.toStdString());
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
  const testing::EnvOverride english_locale("LC_ALL", "C.UTF-8");
  QCOMPARE(QString::fromStdString(FailureLine(failure)),
           QString::fromStdString("quillmar: error 32002: " + shown + " second line "));
  QCOMPARE(FailureBox(failure)->detailedText(),
           QString::fromStdString(shown + "\nsecond line\\x0d"));
  const testing::EnvOverride japanese_locale("LC_ALL", "ja_JP.UTF-8");
  const std::string japanese = FailureLine(failure);
  QVERIFY2(japanese.find(shown) != std::string::npos, japanese.c_str());
  QVERIFY(japanese.find('\x1b') == std::string::npos);
}

}  // namespace qm

int main(int argc, char* argv[]) {
  return qm::testing::RunWindowTests<qm::FailureTextTest>(argc, argv);
}

#include "failure_text_test.moc"
